#pragma once

#include <QString>

struct OrbPublishUploadOptions {
    QString storeFolder;
    QString endpoint;      // the object store's base URL, e.g. http://127.0.0.1:9000
    QString bucketPrefix;  // "bucket" or "bucket/prefix"
};

// Uploads the chunks and manifests the object store lacks; chunks first, so a
// manifest is never visible before every chunk it names. Credentials come from
// the environment (see the tool's help). Returns the process exit code.
int OrbPublishUpload(const OrbPublishUploadOptions& options);
