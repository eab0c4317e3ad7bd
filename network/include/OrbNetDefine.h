#pragma once
// Enumerations shared by the network library and its callers.

#include <cstdint>

enum OrbHttpMethod : int32_t {
    HttpGet = 0,
    HttpPost = 1,
    HttpOptions = 2,
};

// How a request reaches its server.
enum ProxyMode : int32_t {
    ProxyDirect = 1,
    ProxySystem = 2,
    ProxyAuto = 3,
    ProxySocks5 = 4,
};

// 0 is success; values not listed are the transport's own error codes passed through.
enum NetError : int32_t {
    NetNoError = 0,
    NetHostNotFound = 3,
    NetClosed = 98,
    NetCosConfigFailed = 99,
    NetFileOpenFailed = 1001,
    NetFileWriteFailed = 1002,  // a download's write to its file failed (disk full, size limit)
    NetBadReply = 1003,         // a download's reply does not fit its request (status, Content-Range)
    NetIncomplete = 1004,       // a body ended before its announced length (Content-Length)
    NetTooLarge = 1005,         // a download's body went beyond the size the caller declared
    NetVerifyFailed = 1006,     // a finished download's size or SHA-256 is not the declared one
    NetUploadRefused = 1007,    // the object store refused an upload (HTTP status, error code in the message)
    NetDeadline = 1008,         // the request's whole-transfer deadline passed (resolve, connect and body)
};
