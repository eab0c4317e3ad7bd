#include "ZipInflate.h"

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>

#include <QDebug>
#include <QFile>

#include <zlib.h>

#include <algorithm>
#include <vector>

namespace OrbZip {

namespace {

// Entries are streamed through fixed buffers (compressed in, inflated out), so
// memory does not grow with entry size.
constexpr qint64 kInBufferSize = 64 * 1024;
constexpr qint64 kOutBufferSize = 64 * 1024;
// Polling the cancellation flag per buffer would cost more than it saves.
constexpr qint64 kCancelCheckBytes = 256 * 1024;

const QString kDamaged = QStringLiteral("entry data are damaged");

// One entry's stream from the archive into its open destination file. Every
// step returns why it stopped, empty while all is well.
class EntryInflater {
public:
    EntryInflater(QuaZipFile& entry, QFile& out, const EntryMeta& meta, const std::function<bool()>& cancelled)
        : m_entry(entry), m_out(out), m_meta(meta), m_cancelled(cancelled), m_deflated(meta.method == Z_DEFLATED),
          m_streamEnded(!m_deflated), m_in(size_t(kInBufferSize)), m_outBuffer(size_t(kOutBufferSize))
    {
        m_crc = crc32(0L, Z_NULL, 0);
    }
    ~EntryInflater()
    {
        if (m_started)
            inflateEnd(&m_zs);
    }
    EntryInflater(const EntryInflater&) = delete;
    EntryInflater& operator=(const EntryInflater&) = delete;

    QString start();
    QString run();

private:
    QString consume(const char* data, qint64 n);
    QString inflateStep(int& rc, qint64& n);
    QString inflateChunk(qint64 got);
    QString drain();

    QuaZipFile& m_entry;
    QFile& m_out;
    const EntryMeta& m_meta;
    const std::function<bool()>& m_cancelled;
    const bool m_deflated;
    bool m_streamEnded;
    bool m_started = false;
    z_stream m_zs {};
    std::vector<char> m_in;
    std::vector<char> m_outBuffer;
    quint64 m_remainingIn = 0;
    quint64 m_produced = 0;
    uLong m_crc = 0;
    qint64 m_sinceCheck = 0;
};

QString EntryInflater::start()
{
    m_remainingIn = m_meta.compressedSize;
    if (m_deflated) {
        if (inflateInit2(&m_zs, -MAX_WBITS) != Z_OK)
            return QStringLiteral("cannot start inflating");
        m_started = true;
    }
    return {};
}

QString EntryInflater::consume(const char* data, qint64 n)
{
    m_produced += quint64(n);
    // The declared size bounds the output: a stream that goes on is a bomb or damage.
    if (m_produced > m_meta.uncompressedSize)
        return QStringLiteral("entry inflates past its declared size");
    m_crc = crc32(m_crc, reinterpret_cast<const Bytef*>(data), uInt(n));
    if (m_out.write(data, n) != n)
        return QStringLiteral("cannot write the destination file");
    m_sinceCheck += n;
    if (m_sinceCheck >= kCancelCheckBytes) {
        m_sinceCheck = 0;
        if (m_cancelled && m_cancelled())
            return QStringLiteral("cancelled");
    }
    return {};
}

// One inflate call into the output buffer, its output consumed.
QString EntryInflater::inflateStep(int& rc, qint64& n)
{
    m_zs.next_out = reinterpret_cast<Bytef*>(m_outBuffer.data());
    m_zs.avail_out = uInt(kOutBufferSize);
    rc = inflate(&m_zs, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
        return kDamaged;
    n = kOutBufferSize - qint64(m_zs.avail_out);
    if (n > 0) {
        const QString problem = consume(m_outBuffer.data(), n);
        if (!problem.isEmpty())
            return problem;
    }
    m_streamEnded = rc == Z_STREAM_END;
    return {};
}

// Inflates the `got` compressed bytes just read into the input buffer.
QString EntryInflater::inflateChunk(qint64 got)
{
    if (m_streamEnded)
        return kDamaged; // bytes after the stream's end
    m_zs.next_in = reinterpret_cast<Bytef*>(m_in.data());
    m_zs.avail_in = uInt(got);
    int rc = Z_OK;
    qint64 n = 0;
    while (m_zs.avail_in > 0 && !m_streamEnded) {
        const QString problem = inflateStep(rc, n);
        if (!problem.isEmpty())
            return problem;
        // Input left but no progress: the stream is broken.
        if (rc == Z_BUF_ERROR || (rc == Z_OK && n == 0 && m_zs.avail_in > 0))
            return kDamaged;
    }
    return m_remainingIn == 0 ? drain() : QString();
}

// Output still held inside zlib once the input is used up.
QString EntryInflater::drain()
{
    int rc = Z_OK;
    qint64 n = 0;
    while (!m_streamEnded && m_zs.avail_in == 0) {
        const QString problem = inflateStep(rc, n);
        if (!problem.isEmpty())
            return problem;
        if (n == 0 && !m_streamEnded)
            break;
    }
    return {};
}

QString EntryInflater::run()
{
    while (m_remainingIn > 0) {
        const qint64 want = qint64(std::min<quint64>(m_remainingIn, quint64(kInBufferSize)));
        const qint64 got = m_entry.read(m_in.data(), want);
        if (got < 1)
            return QStringLiteral("cannot read the entry");
        m_remainingIn -= quint64(got);
        const QString problem = m_deflated ? inflateChunk(got) : consume(m_in.data(), got);
        if (!problem.isEmpty())
            return problem;
    }
    if (!m_streamEnded || m_produced != m_meta.uncompressedSize || m_crc != m_meta.crc)
        return kDamaged;
    return {};
}

EntryResult failed(const QString& why)
{
    return {EntryStatus::Failed, why};
}

} // namespace

EntryResult writeFile(QuaZip* zip, const PendingFile& file, const std::function<bool()>& cancelled)
{
    const EntryMeta& meta = file.meta;
    if (meta.flags & 0x0001)
        return failed(QStringLiteral("entry is encrypted"));
    if (meta.method != 0 && meta.method != Z_DEFLATED)
        return failed(QStringLiteral("unsupported compression method"));

    QuaZipFile entry(zip);
    int method = 0;
    int level = 0;
    if (!entry.open(QIODevice::ReadOnly, &method, &level, true) || entry.getZipError() != 0)
        return failed(QStringLiteral("cannot open the entry"));

    // A new file: never one that a link or another process put there meanwhile.
    QFile out(file.path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return failed(QStringLiteral("cannot open the destination file"));
    auto abort = [&](const QString& why) {
        out.close();
        QFile::remove(file.path);
        return failed(why);
    };

    {
        EntryInflater inflater(entry, out, meta, cancelled);
        QString problem = inflater.start();
        if (problem.isEmpty())
            problem = inflater.run();
        if (!problem.isEmpty())
            return abort(problem);
    }
    entry.close();
    if (entry.getZipError() != 0)
        return abort(kDamaged);
    if (!out.flush())
        return abort(QStringLiteral("cannot write the destination file"));
    // Through the open handle: the mode lands on the file just written, even
    // if its name were swapped for a link meanwhile.
    if (meta.permissions != QFile::Permissions() && !out.setPermissions(meta.permissions))
        qDebug() << "Cannot apply permissions to" << file.path;
    out.close();
    if (out.error() != QFileDevice::NoError)
        return abort(QStringLiteral("cannot write the destination file"));
    return {EntryStatus::Written, {}};
}

} // namespace OrbZip
