#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

struct OrbDeliveryFile;

// SHA-256 (OpenSSL) helpers; hashes travel as 64 lower-case hex digits.
namespace OrbDeliveryHash {
QByteArray Sha256Hex(const QByteArray& data);
bool IsHex(const QByteArray& text);  // 64 lower-case hex digits

// Incremental SHA-256 for files larger than memory.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void Add(const char* data, std::size_t size);
    QByteArray HexResult();  // ends the hash

private:
    void* m_ctx;
};
} // namespace OrbDeliveryHash

// Chunks stored once by the SHA-256 of their uncompressed bytes, each a zstd
// frame in <root>/chunks/<first two hex digits>/<hash>.zst.
class OrbChunkStore {
public:
    static constexpr int kCompressionLevel = 6;

    explicit OrbChunkStore(QString root);

    QString Root() const { return m_root; }
    // "chunks/ab/ab….zst" for a hash.
    static QString RelativePath(const QByteArray& hexHash);
    QString PathOf(const QByteArray& hexHash) const;
    bool Contains(const QByteArray& hexHash) const;

    struct Stored {
        QByteArray hash;
        std::int64_t compressedSize = 0;
        bool added = false;  // false: the chunk was already there
    };

    // Stores data unless a chunk of its hash exists (written through a temporary
    // file, so a crash never leaves a half chunk under the final name).
    bool Put(const QByteArray& data, Stored& stored, QString* error = nullptr);

    // The chunk's bytes, decompressed into a buffer of declaredSize bytes at most
    // and checked against the hash; a chunk that decompresses to more or fewer
    // bytes, or to other bytes, is refused.
    bool Get(const QByteArray& hexHash, std::int64_t declaredSize, QByteArray& out, QString* error = nullptr) const;
    // The same checks for a frame already in memory (a piece of a pack).
    static bool Decode(const QByteArray& hexHash, std::int64_t declaredSize, const char* frame, std::int64_t frameSize,
                       QByteArray& out, QString* error = nullptr);

    // Rebuilds a file of a manifest from its chunks into path, checking every
    // chunk and the whole file's hash; a refused file leaves nothing at path.
    bool Assemble(const OrbDeliveryFile& file, const QString& path, QString* error = nullptr) const;

private:
    QString m_root;
};
