#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <string>
#include <vector>

// One chunk of a file: the SHA-256 of its uncompressed bytes, where it sits in
// the file, its size and the size of its zstd frame in the store.
struct OrbDeliveryChunk {
    QByteArray hash;
    std::int64_t offset = 0;
    std::int64_t size = 0;
    std::int64_t compressedSize = 0;
};

struct OrbDeliveryFile {
    QString path;  // relative, "/"-separated
    std::int64_t size = 0;
    bool executable = false;
    QByteArray sha256;
    std::vector<OrbDeliveryChunk> chunks;  // in file order, tiling the file
};

// What one game version consists of. The text form (Serialize) is what the
// publisher signs byte for byte; Parse accepts only text that passes every
// rule below, and never hands out a partial result.
struct OrbDeliveryManifest {
    static constexpr int kFormat = 1;

    // Caps on what a manifest may declare.
    struct Limits {
        std::int64_t manifestBytes = 128ll << 20;  // 128 MiB of text
        std::int64_t fileSize = 64ll << 30;        // 64 GiB per file
        std::int64_t totalSize = 128ll << 30;      // 128 GiB per version
        std::int64_t entries = 200000;             // files and folders
        int pathBytes = 1024;                      // UTF-8 bytes of a path
        int componentBytes = 255;                  // UTF-8 bytes of one path component
    };

    QString game;
    QString version;
    std::int64_t serial = 0;
    std::int64_t expires = 0;  // seconds since the epoch, UTC
    QStringList folders;       // empty folders
    std::vector<OrbDeliveryFile> files;

    // The text form; folders and files are written in the order held.
    QByteArray Serialize() const;
    // Base64 Ed25519 signature of Serialize(); empty for a bad key.
    std::string Sign(const std::string& privatePem) const;

    struct Expect {
        std::string publicPem;   // empty: no signature check
        QByteArray signature;    // the .sig file's text
        QString game;            // empty: any game
        std::int64_t minSerial = 0;
        std::int64_t now = 0;    // seconds since the epoch; the manifest must expire after it
        Limits limits;
    };

    struct Parsed;

    // With a key the signature is checked before anything in the text is read.
    static Parsed Parse(const QByteArray& text, const Expect& expect);

    // The rule for one relative path; empty when acceptable, else the reason.
    static QString CheckPath(const QString& path, const Limits& limits);
    // Versions name files in the store: [A-Za-z0-9._+-], 1 to 64, not starting with ".".
    static bool IsVersionName(const QString& version);
    // Percent-encoding used for paths in the text: everything but A-Z a-z 0-9 - . _ ~ /.
    static QByteArray EncodePath(const QString& path);
};

struct OrbDeliveryManifest::Parsed {
    bool ok = false;
    QString reason;  // why it was refused
    OrbDeliveryManifest manifest;
};
