#include "OrbChunkStore.h"

#include "OrbChunker.h"
#include "OrbDeliveryManifest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

#include <openssl/evp.h>
#include <zstd.h>

namespace OrbDeliveryHash {

Sha256::Sha256() : m_ctx(EVP_MD_CTX_new())
{
    EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(m_ctx), EVP_sha256(), nullptr);
}

Sha256::~Sha256() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(m_ctx)); }

void Sha256::Add(const char* data, std::size_t size)
{
    EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(m_ctx), data, size);
}

QByteArray Sha256::HexResult()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(m_ctx), digest, &length);
    return QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex();
}

QByteArray Sha256Hex(const QByteArray& data)
{
    Sha256 h;
    h.Add(data.constData(), std::size_t(data.size()));
    return h.HexResult();
}

bool IsHex(const QByteArray& text)
{
    if (text.size() != 64)
        return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

} // namespace OrbDeliveryHash

namespace {

void fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

} // namespace

OrbChunkStore::OrbChunkStore(QString root) : m_root(std::move(root)) {}

QString OrbChunkStore::RelativePath(const QByteArray& hexHash)
{
    return QStringLiteral("chunks/%1/%2.zst").arg(QString::fromLatin1(hexHash.left(2)), QString::fromLatin1(hexHash));
}

QString OrbChunkStore::PathOf(const QByteArray& hexHash) const { return m_root + QLatin1Char('/') + RelativePath(hexHash); }

bool OrbChunkStore::Contains(const QByteArray& hexHash) const
{
    return OrbDeliveryHash::IsHex(hexHash) && QFileInfo(PathOf(hexHash)).isFile();
}

bool OrbChunkStore::Put(const QByteArray& data, Stored& stored, QString* error)
{
    stored = Stored();
    stored.hash = OrbDeliveryHash::Sha256Hex(data);
    const QString path = PathOf(stored.hash);
    const QFileInfo existing(path);
    if (existing.isFile()) {
        stored.compressedSize = existing.size();
        return true;
    }
    QByteArray frame(int(ZSTD_compressBound(std::size_t(data.size()))), Qt::Uninitialized);
    const std::size_t n = ZSTD_compress(frame.data(), std::size_t(frame.size()), data.constData(),
                                        std::size_t(data.size()), kCompressionLevel);
    if (ZSTD_isError(n)) {
        fail(error, QStringLiteral("cannot compress chunk %1: %2").arg(QString::fromLatin1(stored.hash), QString::fromUtf8(ZSTD_getErrorName(n))));
        return false;
    }
    frame.truncate(int(n));
    if (!QDir().mkpath(QFileInfo(path).path())) {
        fail(error, QStringLiteral("cannot create the folder of %1").arg(path));
        return false;
    }
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(frame) != frame.size() || !out.commit()) {
        fail(error, QStringLiteral("cannot write %1: %2").arg(path, out.errorString()));
        return false;
    }
    stored.compressedSize = frame.size();
    stored.added = true;
    return true;
}

bool OrbChunkStore::Get(const QByteArray& hexHash, std::int64_t declaredSize, QByteArray& out, QString* error) const
{
    out.clear();
    if (!OrbDeliveryHash::IsHex(hexHash)) {
        fail(error, QStringLiteral("not a chunk hash: %1").arg(QString::fromLatin1(hexHash.left(80))));
        return false;
    }
    QFile file(PathOf(hexHash));
    if (!file.open(QIODevice::ReadOnly)) {
        fail(error, QStringLiteral("chunk %1 missing: %2").arg(QString::fromLatin1(hexHash), file.errorString()));
        return false;
    }
    // A frame never needs more than the bound of its largest allowed content.
    const qint64 bound = qint64(ZSTD_compressBound(OrbChunker::kMaxSize));
    if (file.size() > bound) {
        fail(error, QStringLiteral("chunk %1: compressed file too large (%2 bytes)").arg(QString::fromLatin1(hexHash)).arg(file.size()));
        return false;
    }
    const QByteArray frame = file.readAll();
    return Decode(hexHash, declaredSize, frame.constData(), frame.size(), out, error);
}

bool OrbChunkStore::Decode(const QByteArray& hexHash, std::int64_t declaredSize, const char* frame, std::int64_t frameSize,
                           QByteArray& out, QString* error)
{
    out.clear();
    if (!OrbDeliveryHash::IsHex(hexHash)) {
        fail(error, QStringLiteral("not a chunk hash: %1").arg(QString::fromLatin1(hexHash.left(80))));
        return false;
    }
    if (declaredSize < 0 || declaredSize > std::int64_t(OrbChunker::kMaxSize)) {
        fail(error, QStringLiteral("chunk %1: declared size %2 is beyond the chunk limit").arg(QString::fromLatin1(hexHash)).arg(declaredSize));
        return false;
    }
    if (frameSize > std::int64_t(ZSTD_compressBound(OrbChunker::kMaxSize))) {
        fail(error, QStringLiteral("chunk %1: compressed frame too large (%2 bytes)").arg(QString::fromLatin1(hexHash)).arg(frameSize));
        return false;
    }

    // Bounded output: one byte more than declared tells "larger" apart from "exact".
    QByteArray buffer(int(declaredSize) + 1, Qt::Uninitialized);
    ZSTD_DCtx* dctx = ZSTD_createDCtx();
    ZSTD_inBuffer in{frame, std::size_t(std::max<std::int64_t>(frameSize, 0)), 0};
    ZSTD_outBuffer outBuf{buffer.data(), std::size_t(buffer.size()), 0};
    std::size_t rc = 1;
    bool bad = false;
    while (in.pos < in.size && outBuf.pos < outBuf.size) {
        rc = ZSTD_decompressStream(dctx, &outBuf, &in);
        if (ZSTD_isError(rc)) {
            bad = true;
            break;
        }
    }
    ZSTD_freeDCtx(dctx);
    if (bad || frameSize <= 0) {
        fail(error, QStringLiteral("chunk %1: not a valid zstd frame").arg(QString::fromLatin1(hexHash)));
        return false;
    }
    if (outBuf.pos > std::size_t(declaredSize)) {
        fail(error, QStringLiteral("chunk %1: decompresses to more than its declared %2 bytes").arg(QString::fromLatin1(hexHash)).arg(declaredSize));
        return false;
    }
    if (rc != 0 || in.pos < in.size) {
        fail(error, QStringLiteral("chunk %1: truncated frame").arg(QString::fromLatin1(hexHash)));
        return false;
    }
    if (outBuf.pos != std::size_t(declaredSize)) {
        fail(error, QStringLiteral("chunk %1: decompresses to %2 bytes, %3 declared").arg(QString::fromLatin1(hexHash)).arg(qulonglong(outBuf.pos)).arg(declaredSize));
        return false;
    }
    buffer.truncate(int(declaredSize));
    if (OrbDeliveryHash::Sha256Hex(buffer) != hexHash) {
        fail(error, QStringLiteral("chunk %1: content does not match its hash").arg(QString::fromLatin1(hexHash)));
        return false;
    }
    out = buffer;
    return true;
}

bool OrbChunkStore::Assemble(const OrbDeliveryFile& entry, const QString& path, QString* error) const
{
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        fail(error, QStringLiteral("cannot write %1: %2").arg(path, out.errorString()));
        return false;
    }
    OrbDeliveryHash::Sha256 whole;
    for (const OrbDeliveryChunk& c : entry.chunks) {
        QByteArray data;
        if (!Get(c.hash, c.size, data, error)) {
            out.cancelWriting();
            return false;
        }
        whole.Add(data.constData(), std::size_t(data.size()));
        if (out.write(data) != data.size()) {
            fail(error, QStringLiteral("cannot write %1: %2").arg(path, out.errorString()));
            out.cancelWriting();
            return false;
        }
    }
    if (whole.HexResult() != entry.sha256) {
        fail(error, QStringLiteral("%1: assembled bytes do not match the file's hash").arg(entry.path));
        out.cancelWriting();
        return false;
    }
    if (!out.commit()) {
        fail(error, QStringLiteral("cannot write %1: %2").arg(path, out.errorString()));
        return false;
    }
    if (entry.executable)
        QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner | QFileDevice::ExeGroup |
                                        QFileDevice::ExeOther);
    return true;
}
