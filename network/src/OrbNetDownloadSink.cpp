#include "OrbNetDownloadSink_p.h"

#include "OrbNetDefine.h"

#include <QFileInfo>

namespace {

// "bytes a-b/T" or "bytes */T"; T may be "*". Missing parts come back as -1.
bool parseContentRange(const QByteArray& value, long long& first, long long& last, long long& total)
{
    first = last = total = -1;
    QByteArray v = value.trimmed();
    if (!v.toLower().startsWith("bytes "))
        return false;
    v = v.mid(6).trimmed();
    const int slash = v.indexOf('/');
    if (slash < 0)
        return false;
    const QByteArray span = v.left(slash).trimmed();
    const QByteArray tot = v.mid(slash + 1).trimmed();
    bool ok = true;
    if (tot != "*") {
        total = tot.toLongLong(&ok);
        if (!ok || total < 0)
            return false;
    }
    if (span == "*")
        return true;
    const int dash = span.indexOf('-');
    if (dash <= 0)
        return false;
    bool okA = false, okB = false;
    first = span.left(dash).toLongLong(&okA);
    last = span.mid(dash + 1).toLongLong(&okB);
    return okA && okB && first >= 0 && last >= first && (total < 0 || last < total);
}

} // namespace

OrbNetDownloadSink::OrbNetDownloadSink(const QString& path) : m_file(path) {}

OrbNetDownloadSink::~OrbNetDownloadSink()
{
    if (m_file.isOpen())
        m_file.close();
}

std::string OrbNetDownloadSink::RangeValue(long long start, long long length)
{
    std::string v = "bytes=" + std::to_string(start) + "-";
    if (length > 0)
        v += std::to_string(start + length - 1);
    return v;
}

QByteArray OrbNetDownloadSink::ValidatorOf(const QByteArray& etag, const QByteArray& lastModified)
{
    const QByteArray tag = etag.trimmed();
    // A weak tag never matches in If-Range, so it would always cost a full download.
    if (!tag.isEmpty() && !tag.startsWith("W/"))
        return tag;
    return lastModified.trimmed();
}

void OrbNetDownloadSink::writeSidecar()
{
    const QString path = SidecarPath(m_file.fileName());
    if (m_replyValidator.isEmpty()) {
        QFile::remove(path);  // new bytes without a validator: an old one must not vouch for them
        return;
    }
    QFile side(path);
    if (side.open(QIODevice::WriteOnly | QIODevice::Truncate))
        side.write(m_replyValidator + "\n");
}

void OrbNetDownloadSink::removeSidecar() { QFile::remove(SidecarPath(m_file.fileName())); }

void OrbNetDownloadSink::SetExpected(long long size, const QByteArray& sha256Hex)
{
    m_expectedSize = size < 0 ? -1 : size;
    m_expectedSha256 = sha256Hex.trimmed().toLower();
}

// Extends the running hash with the file's bytes up to `end`: what an earlier run or an
// earlier reply wrote. Reads only what the hash does not cover yet.
bool OrbNetDownloadSink::hashUpTo(long long end)
{
    if (end <= m_hashedUpTo)
        return true;
    QFile in(m_file.fileName());
    if (!in.open(QIODevice::ReadOnly) || !in.seek(m_hashedUpTo))
        return false;
    QByteArray buffer(1024 * 1024, Qt::Uninitialized);
    while (m_hashedUpTo < end) {
        const qint64 n = in.read(buffer.data(), qMin<qint64>(buffer.size(), end - m_hashedUpTo));
        if (n <= 0)
            return false;
        m_hash.addData(buffer.constData(), static_cast<std::size_t>(n));
        m_hashedUpTo += n;
    }
    return true;
}

bool OrbNetDownloadSink::verify()
{
    const long long size = QFileInfo(m_file.fileName()).size();
    if (m_expectedSize >= 0 && size != m_expectedSize)
        return false;
    if (m_expectedSha256.isEmpty())
        return true;
    if (m_hashedUpTo > size) {
        m_hash.reset();
        m_hashedUpTo = 0;
    }
    return hashUpTo(size) && m_hash.result().toHex() == m_expectedSha256;
}

bool OrbNetDownloadSink::Open(bool resume, bool& hasRange, long long& start, long long& length)
{
    m_resumed = false;
    m_resumeOffset = 0;
    m_validator.clear();
    if (resume && !m_file.fileName().isEmpty()) {
        const QFileInfo info(m_file.fileName());
        // Longer than the declared file or the cap: those bytes can never be part of it.
        if (info.isFile() && ((m_expectedSize >= 0 && info.size() > m_expectedSize) ||
                              (m_maxSize >= 0 && info.size() > m_maxSize))) {
            QFile::remove(m_file.fileName());
            removeSidecar();
        }
        if (info.exists() && info.isFile() && QFileInfo::exists(m_file.fileName())) {
            m_resumed = true;
            m_resumeOffset = info.size();
            QFile side(SidecarPath(m_file.fileName()));
            if (m_resumeOffset > 0 && side.open(QIODevice::ReadOnly))
                m_validator = side.readLine(4096).trimmed();
            hasRange = true;
            start = m_resumeOffset;
            length = 0;
        }
    }
    m_hasRange = hasRange;
    m_start = start;
    m_length = length;
    // Unbuffered: every chunk goes to the file at once, so a failed write is seen on the
    // chunk that failed and nothing received is left in a process buffer.
    QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered;
    mode |= hasRange ? QIODevice::Append : QIODevice::Truncate;
    return m_file.open(mode);
}

void OrbNetDownloadSink::BeginReply(int status, const QByteArray& contentRange, long long contentLength,
                                    const QByteArray& validator)
{
    acceptReply(status, contentRange, contentLength, validator);
    // What the file would hold once this reply is written, against the cap: refused before
    // its first byte when it announces more.
    if (m_maxSize >= 0 && m_accept == Accept::Write && m_expected >= 0 && m_file.isOpen())
        m_capAtHead = (m_restart ? 0 : m_file.size()) + m_expected > m_maxSize;
}

void OrbNetDownloadSink::acceptReply(int status, const QByteArray& contentRange, long long contentLength,
                                     const QByteArray& validator)
{
    m_haveReply = true;
    m_replyValidator = validator;
    m_fromStart = false;
    m_status = status;
    m_expected = -1;
    m_base = 0;
    m_restart = false;
    m_written = 0;
    m_capAtHead = false;
    const long long wantStart = m_hasRange ? m_start : 0;

    if (status == 206) {
        long long first, last, total;
        if (!parseContentRange(contentRange, first, last, total) || first < 0 || first != wantStart ||
            (m_hasRange && m_length > 0 && last - first + 1 > m_length)) {
            m_accept = Accept::Reject;
            return;
        }
        m_accept = Accept::Write;
        m_expected = last - first + 1;
        m_base = m_resumeOffset;
        m_fromStart = m_resumed && first == 0;  // resuming an empty file
        return;
    }
    if (status == 416) {
        long long first, last, total;
        // Only a resume of a file that already holds the whole resource counts as done.
        if (m_resumed && parseContentRange(contentRange, first, last, total) && first < 0 &&
            total == m_resumeOffset)
            m_accept = Accept::AlreadyComplete;
        else
            m_accept = Accept::Skip;
        return;
    }
    if (status == 0 || (status >= 200 && status < 300)) {
        m_expected = contentLength;
        if (!m_hasRange || (m_start == 0 && m_length == 0)) {
            m_accept = Accept::Write;
            m_base = m_resumeOffset;  // 0 unless resuming an empty file
            m_fromStart = true;
            return;
        }
        if (m_resumed) {
            // The server ignored the range, or the file changed (If-Range did not match), and
            // sends the whole resource: start the file over.
            m_accept = Accept::Write;
            m_restart = true;
            m_fromStart = true;
            return;
        }
        m_accept = Accept::Reject;  // a range the caller asked for cannot be cut from it here
        return;
    }
    m_accept = Accept::Skip;  // an error page never reaches the file
}

void OrbNetDownloadSink::fail(int code)
{
    if (!m_error)
        m_error = code;
}

bool OrbNetDownloadSink::Write(const char* data, long long len)
{
    if (m_error || m_finished || !m_file.isOpen())
        return false;
    switch (m_accept) {
    case Accept::Pending:
    case Accept::Reject:
        fail(OrbDownloadBadReply);
        return false;
    case Accept::Skip:
    case Accept::AlreadyComplete:
        return true;  // body dropped; the outcome comes from the status
    case Accept::Write:
        break;
    }
    if (m_restart) {
        m_restart = false;
        if (!m_file.resize(0)) {
            fail(OrbDownloadFileWriteFailed);
            return false;
        }
        m_hash.reset();
        m_hashedUpTo = 0;
    }
    if (m_fromStart && m_written == 0 && len > 0)
        writeSidecar();  // before the first byte of new content lands in the file
    if (m_capAtHead) {
        m_overCap = true;
        fail(OrbDownloadTooLarge);
        return false;
    }
    if (len <= 0)
        return true;
    // Appends and a truncated file both write at the file's end.
    const long long pos =
        (m_expectedSize >= 0 || m_maxSize >= 0 || !m_expectedSha256.isEmpty()) ? m_file.size() : 0;
    if (m_maxSize >= 0 && pos + len > m_maxSize) {
        m_overCap = true;  // not a byte of this chunk is written
        fail(OrbDownloadTooLarge);
        return false;
    }
    long long take = len;
    bool tooLarge = false;
    if (m_expectedSize >= 0 && pos + len > m_expectedSize) {
        take = qMax(0LL, m_expectedSize - pos);  // nothing beyond the declared size is written
        tooLarge = true;
    }
    if (!m_expectedSha256.isEmpty() && pos != m_hashedUpTo) {
        if (pos < m_hashedUpTo) {
            m_hash.reset();
            m_hashedUpTo = 0;
        }
        hashUpTo(pos);  // the part of a resumed file an earlier run wrote
    }
    const qint64 n = take > 0 ? m_file.write(data, take) : 0;
    if (n > 0) {
        m_written += n;
        if (!m_expectedSha256.isEmpty() && m_hashedUpTo == pos) {
            m_hash.addData(data, static_cast<std::size_t>(n));
            m_hashedUpTo += n;
        }
    }
    if (n != take) {
        fail(OrbDownloadFileWriteFailed);
        return false;
    }
    if (tooLarge) {
        fail(OrbDownloadTooLarge);
        return false;
    }
    return true;
}

bool OrbNetDownloadSink::MapProgress(long long received, long long total, long long& offset,
                                     long long& outTotal) const
{
    if (m_accept != Accept::Write || m_error)
        return false;
    offset = received + m_base;
    outTotal = total + m_base;
    return true;
}

int OrbNetDownloadSink::Finish(int transportError)
{
    if (m_finished)
        return m_outcome;
    m_finished = true;
    if (m_file.isOpen()) {
        // The whole resource turned out to be empty: the old partial content must go too.
        if (m_restart && !m_error && transportError == 0 && !m_file.resize(0))
            fail(OrbDownloadFileWriteFailed);
        if (!m_file.flush())
            fail(OrbDownloadFileWriteFailed);
        m_file.close();
        if (m_file.error() != QFileDevice::NoError)
            fail(OrbDownloadFileWriteFailed);
    }
    if (m_restart && !m_error && transportError == 0)
        removeSidecar();  // the resource is empty now: the partial content went with it
    if (m_overCap) {
        // Bigger than this download may ever be: nothing of it is worth keeping or resuming.
        QFile::remove(m_file.fileName());
        removeSidecar();
    }
    if (m_error) {
        m_outcome = m_error;
    } else if (transportError != 0) {
        m_outcome = (m_accept == Accept::AlreadyComplete && transportError != NetClosed) ? 0 : transportError;
    } else {
        switch (m_accept) {
        case Accept::Write:
            m_outcome = (m_expected >= 0 && m_written < m_expected) ? int(OrbDownloadIncomplete) : 0;
            break;
        case Accept::Skip:
        case Accept::Reject:
            m_outcome = OrbDownloadBadReply;
            break;
        case Accept::AlreadyComplete:
        case Accept::Pending:
            m_outcome = 0;
            break;
        }
    }
    if (m_outcome == 0 && (m_expectedSize >= 0 || !m_expectedSha256.isEmpty()) && !verify()) {
        // Not the declared file: it must neither be used nor resumed.
        QFile::remove(m_file.fileName());
        m_outcome = OrbDownloadVerifyFailed;
    }
    if (m_outcome == 0 || m_outcome == OrbDownloadVerifyFailed)
        removeSidecar();  // complete, or gone: nothing left to resume
    return m_outcome;
}
