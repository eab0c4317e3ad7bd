#pragma once

#include "orbconfig_export.h"

#include <string>

// Ed25519 signatures over byte strings, as the publisher signs its settings
// file. Keys travel as PEM text (PKCS#8 private key, SubjectPublicKeyInfo public
// key); signatures as standard Base64 of the 64 signature bytes.
class ORBCONFIG_EXPORT OrbSignature {
public:
    OrbSignature() = delete;

    enum class Result {
        Valid,
        BadKey,        // the public key is not an Ed25519 key in PEM form
        Malformed,     // the signature text is not Base64 of 64 bytes
        Invalid,       // well formed, but not made by this key over these bytes
    };

    // A fresh key pair from the system's random source; false when OpenSSL fails.
    static bool GenerateKeyPair(std::string& privatePem, std::string& publicPem);

    // The public key belonging to a private key, empty for a bad key.
    static std::string PublicKeyOf(const std::string& privatePem);

    // Base64 signature of data, empty for a bad key.
    static std::string Sign(const std::string& privatePem, const std::string& data);

    // Surrounding white space of the signature text (a trailing newline) is ignored.
    static Result Verify(const std::string& publicPem, const std::string& data, const std::string& signature);

    // A short English reason for logs.
    static const char* Describe(Result result);
};
