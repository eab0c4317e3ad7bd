#pragma once
//
//  W A R N I N G
//  -------------
//
// This file is not part of the OrbNetwork API. It exists purely as an
// implementation detail. This header file may change from version to
// version without notice, or even be removed.
//
// We mean it.
//
// Private part of a download: owns the target file, decides how it is opened and
// which byte range is asked for, checks each reply against that request before a
// byte of it reaches the file, and streams the body straight to disk.

#include "OrbNetDefine.h"
#include "OrbNetSha256_p.h"
#include "OrbNetworkExport.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <string>

// Failures the download itself detects (the transport's own codes are passed through).
enum OrbDownloadFailure : int {
    OrbDownloadFileWriteFailed = NetFileWriteFailed,
    OrbDownloadBadReply = NetBadReply,
    OrbDownloadIncomplete = NetIncomplete,
    OrbDownloadTooLarge = NetTooLarge,
    OrbDownloadVerifyFailed = NetVerifyFailed,
};

class OrbNetDownloadSink {
public:
    explicit OrbNetDownloadSink(const QString& path);
    ~OrbNetDownloadSink();
    OrbNetDownloadSink(const OrbNetDownloadSink&) = delete;
    OrbNetDownloadSink& operator=(const OrbNetDownloadSink&) = delete;

    // Value of the Range header: "bytes=<start>-" plus "<start + length - 1>" when length > 0.
    static std::string RangeValue(long long start, long long length);

    // What the finished file must be (see OrbNetDownloadReq::SetExpectedSize/Sha256).
    // Before Open; a negative size and an empty hash declare nothing.
    void SetExpected(long long size, const QByteArray& sha256Hex);
    // The most the file may ever hold, a resumed file counted whole (negative: no cap). Before
    // Open. Going beyond it fails the download with NetTooLarge and removes the file.
    void SetMaxSize(long long bytes) { m_maxSize = bytes < 0 ? -1 : bytes; }

    // Opens the target for writing. With resume and an existing file the transfer goes on
    // from the file's size: the range becomes (size, 0), replacing the caller's. The file
    // is appended to whenever a range is asked for and truncated otherwise. The range
    // arguments carry the caller's range in and the range to request out.
    bool Open(bool resume, bool& hasRange, long long& start, long long& length);
    bool IsOpen() const { return m_file.isOpen(); }
    bool Resumed() const { return m_resumed; }
    long long ResumeOffset() const { return m_resumeOffset; }

    // Beside a partial file, "<file>.orbpart" keeps the validator (ETag, else Last-Modified)
    // of the reply its bytes came from. A resume sends it as If-Range, so a server whose file
    // has changed since answers with the whole new file instead of splicing its tail on.
    static QString SidecarPath(const QString& file) { return file + QStringLiteral(".orbpart"); }
    // The If-Range value for this resume; empty when there is nothing to resume or no validator.
    std::string IfRange() const { return m_validator.toStdString(); }
    // The validator to keep for a reply with these headers: a strong ETag, else Last-Modified.
    static QByteArray ValidatorOf(const QByteArray& etag, const QByteArray& lastModified);

    // Head of one transport attempt, before any of its body. A new attempt starts afresh.
    // contentLength is -1 when the reply announced none; validator as from ValidatorOf.
    void BeginReply(int status, const QByteArray& contentRange, long long contentLength,
                    const QByteArray& validator = QByteArray());
    bool HasReply() const { return m_haveReply; }

    // Streams one chunk of the current reply. False once the sink takes nothing more
    // (the reply was rejected or a write failed): the transfer should be stopped.
    bool Write(const char* data, long long len);
    bool Write(const QByteArray& chunk) { return Write(chunk.constData(), chunk.size()); }

    // Maps the transport's progress of the current reply onto the file: received and total
    // shifted by the offset the reply starts at. False when the reply's bytes are not written.
    bool MapProgress(long long received, long long total, long long& offset, long long& outTotal) const;

    // Flushes and closes the file and returns the download's outcome given the transport's
    // error code. Idempotent: later calls return the first outcome.
    int Finish(int transportError);
    bool Finished() const { return m_finished; }

    // The current reply is being written but announced no length (chunked, or ended by the
    // connection's close): the transport cannot tell a cut body from a whole one.
    bool EndUnknown() const { return m_accept == Accept::Write && m_expected < 0 && !m_error; }
    long long FileEnd() const { return m_base + m_written; }  // file size once the reply is written

    int Error() const { return m_error; }     // own failure so far, 0 when none
    long long Written() const { return m_written; }  // body bytes of the current reply written
    long long Offset() const { return m_base; }      // file offset the current reply starts at

private:
    enum class Accept { Pending, Write, Skip, AlreadyComplete, Reject };

    void acceptReply(int status, const QByteArray& contentRange, long long contentLength,
                     const QByteArray& validator);
    void fail(int code);
    bool hashUpTo(long long end);
    bool verify();
    void writeSidecar();
    void removeSidecar();

    QFile m_file;
    bool m_hasRange = false;
    long long m_start = 0, m_length = 0;
    bool m_resumed = false;
    long long m_resumeOffset = 0;

    bool m_haveReply = false;
    Accept m_accept = Accept::Pending;
    int m_status = 0;
    long long m_expected = -1;  // body bytes the reply announced
    long long m_base = 0;       // where the reply's first byte lands in the file
    bool m_restart = false;     // a resume answered with the whole resource: rewrite from byte 0
    long long m_written = 0;
    QByteArray m_validator;      // of the partial file being resumed
    QByteArray m_replyValidator; // of the current reply
    bool m_fromStart = false;    // the current reply's body is the resource from byte 0
    int m_error = 0;
    long long m_expectedSize = -1;
    long long m_maxSize = -1;
    bool m_capAtHead = false;      // the current reply announced more than the cap allows
    bool m_overCap = false;        // refused for the cap: the file goes at the end
    QByteArray m_expectedSha256;   // lower-case hex
    OrbNetSha256 m_hash;
    long long m_hashedUpTo = 0;    // the hash covers the file's bytes [0, m_hashedUpTo)
    bool m_finished = false;
    int m_outcome = 0;
};
