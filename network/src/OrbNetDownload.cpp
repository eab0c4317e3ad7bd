#include "OrbNetDownload.h"

#include "OrbNetDownload_p.h"
#include "OrbNetResponse_p.h"

#include <QDateTime>
#include <QMetaObject>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {

constexpr qint64 kReadBuffer = 1024 * 1024;

std::string headerValue(const std::map<std::string, std::string>& headers, const char* name)
{
    for (const auto& h : headers)
        if (QByteArray::fromStdString(h.first).compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    return std::string();
}

} // namespace

OrbNetDownloadPrivate::OrbNetDownloadPrivate(int i, const OrbNetDownloadReq& r)
    : req(r), id(i), sink(QString::fromStdString(r.Path()))
{
}

void OrbNetDownloadPrivate::headFrom(OrbNetResponsePrivate* p)
{
    QNetworkReply* reply = p->reply;
    if (!reply || reply == headOf)
        return;
    headOf = reply;
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    sink.BeginReply(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                    reply->rawHeader("Content-Range"), length.isValid() ? length.toLongLong() : -1,
                    OrbNetDownloadSink::ValidatorOf(reply->rawHeader("ETag"), reply->rawHeader("Last-Modified")));
}

void OrbNetDownloadPrivate::onData(const std::shared_ptr<OrbNetDownload>& h, OrbNetResponsePrivate* p,
                                   const QByteArray& chunk)
{
    OrbNetDownloadPrivate* d = h->d;
    d->headFrom(p);
    const bool refusedBefore = d->sink.Error() != 0;
    if (!d->sink.Write(chunk) && !refusedBefore && p->reply) {
        // Nothing more of this reply can go to the file: stop the transfer. Queued, because
        // an abort from inside the reply's own readyRead would complete the handle re-entrantly.
        QMetaObject::invokeMethod(p->reply, "abort", Qt::QueuedConnection);
    }
}

void OrbNetDownloadPrivate::onProgress(const std::shared_ptr<OrbNetDownload>& h, OrbNetResponsePrivate* p,
                                       long long received, long long total)
{
    OrbNetDownloadPrivate* d = h->d;
    d->headFrom(p);
    long long offset = 0, whole = 0;
    if (!d->sink.MapProgress(received, total, offset, whole))
        return;  // bytes that do not go to the file are not the file's progress
    OrbNetDownload::ProgressFn fn;
    {
        std::lock_guard<std::mutex> l(d->lock);
        fn = d->progress;
    }
    if (fn)
        fn(h, offset, whole);
}

void OrbNetDownloadPrivate::settle(const std::shared_ptr<OrbNetDownload>& h, int transportError, bool notify)
{
    OrbNetDownloadPrivate* d = h->d;
    const int outcome = d->sink.Finish(transportError);  // the file is closed from here on
    OrbNetDownload::FinishFn fin;
    OrbNetDownload::ProgressFn prog;
    {
        std::lock_guard<std::mutex> l(d->lock);
        if (d->done)
            return;
        d->done = true;
        d->error = outcome;
        fin.swap(d->finish);
        prog.swap(d->progress);
    }
    if (notify && fin)
        fin(h);
}

namespace {

// Settles the download even when the engine goes away and drops the transfer's
// callbacks uncalled: the file is then closed and the handle reports NetClosed.
struct Settler {
    std::shared_ptr<OrbNetDownload> handle;
    bool ran = false;
    std::function<void(const std::shared_ptr<OrbNetDownload>&)> abandon;
    ~Settler()
    {
        if (!ran && abandon)
            abandon(handle);
    }
};

} // namespace

std::shared_ptr<OrbNetDownload> OrbNetDownloadPrivate::Start(IOrbTransferEngine* engine, int id,
                                                             const OrbNetDownloadReq& req, bool resume)
{
    auto h = std::make_shared<OrbNetDownload>(id, req);
    OrbNetDownloadPrivate* d = h->d;
    long long start = 0, length = 0;
    bool hasRange = d->req.GetRange(start, length);
    d->sink.SetExpected(d->req.ExpectedSize(), QByteArray::fromStdString(d->req.ExpectedSha256()));
    d->sink.SetMaxSize(d->req.MaxSize());
    d->opened = d->sink.Open(resume, hasRange, start, length);
    if (d->sink.Resumed()) {
        d->resumeOffset = d->sink.ResumeOffset();
        d->req.SetRange(start, 0);
    }
    if (!d->opened) {
        d->done = true;
        d->error = NetFileOpenFailed;
        return h;
    }

    OrbNetRequest toSend = d->req.GetRuquest();
    // Byte ranges must count bytes of the file itself, never of a compressed rendition.
    std::string existing;
    if (!toSend.GetHeader("Accept-Encoding", existing))
        toSend.AddHeader("Accept-Encoding", "identity");
    // The partial file's bytes are only worth keeping if the resource is still the one they
    // came from; otherwise the server is to answer with the whole new resource.
    const std::string validator = d->sink.IfRange();
    if (!validator.empty() && !toSend.GetHeader("If-Range", existing))
        toSend.AddHeader("If-Range", validator);

    auto settler = std::make_shared<Settler>();
    settler->handle = h;
    settler->abandon = [](const std::shared_ptr<OrbNetDownload>& dl) { settle(dl, NetClosed, false); };
    d->response = engine->Submit(id, toSend, [h, settler, engine](OrbNetResponsePrivate* p) {
        // Back-pressure: the transport stops reading the socket while this much is unread,
        // so a fast server never piles the body up in memory.
        p->readBufferSize = kReadBuffer;
        p->sink = [h, p](const QByteArray& chunk) { onData(h, p, chunk); };
        p->progress = [h, p](const std::shared_ptr<OrbNetResponse>&, long long received, long long total) {
            onProgress(h, p, received, total);
        };
        p->finish = [h, settler, p, engine](const std::shared_ptr<OrbNetResponse>& resp) {
            settler->ran = true;
            OrbNetDownloadPrivate* dp = h->d;
            if (dp->sink.Written() == 0 && p->statusCode > 0) {
                // No body reached the file: judge the download by the attempt that ended it.
                const std::string range = headerValue(p->headers, "Content-Range");
                const std::string len = headerValue(p->headers, "Content-Length");
                bool ok = false;
                const long long n = QByteArray::fromStdString(len).trimmed().toLongLong(&ok);
                dp->sink.BeginReply(p->statusCode, QByteArray::fromStdString(range), ok ? n : -1,
                                    OrbNetDownloadSink::ValidatorOf(
                                        QByteArray::fromStdString(headerValue(p->headers, "ETag")),
                                        QByteArray::fromStdString(headerValue(p->headers, "Last-Modified"))));
            }
            if (resp->Error() == 0 && dp->sink.EndUnknown()) {
                // Qt 6.4 reports a body without a length as complete when the connection just
                // closes, also one cut before its last chunk: ask whether anything is left.
                const QByteArray replyValidator = OrbNetDownloadSink::ValidatorOf(
                    QByteArray::fromStdString(headerValue(p->headers, "ETag")),
                    QByteArray::fromStdString(headerValue(p->headers, "Last-Modified")));
                OrbNetRequest check = resp->GetRequeset();
                if (check.Deadline() >= 0) {
                    // The check is part of the download: it gets what is left of the deadline.
                    const qint64 left = p->start + check.Deadline() - QDateTime::currentMSecsSinceEpoch();
                    if (left <= 0) {
                        settle(h, NetDeadline, true);
                        return;
                    }
                    check.SetDeadline(left);
                }
                checkEnd(engine, h, check, dp->sink.FileEnd(), replyValidator);
                return;
            }
            settle(h, resp->Error(), true);
        };
    });
    return h;
}

void OrbNetDownloadPrivate::checkEnd(IOrbTransferEngine* engine, const std::shared_ptr<OrbNetDownload>& h,
                                     OrbNetRequest check, long long end, const QByteArray& validator)
{
    check.AddHeader("Range", OrbNetDownloadSink::RangeValue(end, 0)).SetRetryCount(0);
    if (!validator.isEmpty())
        check.AddHeader("If-Range", validator.toStdString());
    else
        check.DeleteHeader("If-Range");
    auto settler = std::make_shared<Settler>();
    settler->handle = h;
    settler->abandon = [](const std::shared_ptr<OrbNetDownload>& dl) { settle(dl, NetClosed, false); };
    engine->Submit(engine->NextId(), check, [h, settler, end](OrbNetResponsePrivate* p) {
        p->readBufferSize = 64 * 1024;
        // Only the head matters: stop at the first byte of a body.
        p->sink = [p](const QByteArray&) {
            if (p->reply)
                QMetaObject::invokeMethod(p->reply, "abort", Qt::QueuedConnection);
        };
        p->finish = [h, settler, p, end](const std::shared_ptr<OrbNetResponse>&) {
            settler->ran = true;
            int verdict = 0;
            if (p->error.load() == NetDeadline) {
                verdict = NetDeadline;
            } else if (p->statusCode == 206) {
                verdict = NetIncomplete;  // the resource goes on beyond the file's end
            } else if (p->statusCode >= 200 && p->statusCode < 300) {
                // Ranges not served: the whole resource's length, when given, still tells.
                bool ok = false;
                const long long n =
                    QByteArray::fromStdString(headerValue(p->headers, "Content-Length")).trimmed().toLongLong(&ok);
                if (ok && n != end)
                    verdict = NetIncomplete;
            }
            // 416: nothing lies beyond the end. Anything else: the server cannot tell; the file
            // stands as received.
            settle(h, verdict, true);
        };
    });
}

OrbNetDownload::OrbNetDownload(int id, const OrbNetDownloadReq& req) : d(new OrbNetDownloadPrivate(id, req)) {}

OrbNetDownload::~OrbNetDownload() { delete d; }

bool OrbNetDownload::Async(FinishFn finish, ProgressFn progress)
{
    std::unique_lock<std::mutex> l(d->lock);
    if (!d->opened || d->done) {
        const bool ok = d->opened && d->error == 0;
        l.unlock();
        finish = nullptr;
        progress = nullptr;
        return ok;
    }
    d->finish = std::move(finish);
    d->progress = std::move(progress);
    return true;
}

void OrbNetDownload::Close()
{
    if (d->opened && d->response)
        d->response->Close();
}

bool OrbNetDownload::IsFinish() const
{
    std::lock_guard<std::mutex> l(d->lock);
    return d->done;
}

NetError OrbNetDownload::Error() const
{
    {
        std::lock_guard<std::mutex> l(d->lock);
        if (d->done || !d->response)
            return NetError(d->error);
    }
    return d->response->Error();
}

int OrbNetDownload::Cost() const { return d->opened && d->response ? d->response->Cost() : 0; }

OrbNetDownloadReq OrbNetDownload::GetReq() const { return d->req; }

void* OrbNetDownload::GetUser() const { return d->user; }

void OrbNetDownload::SetUser(void* user) { d->user = user; }

int OrbNetDownload::Id() const { return d->id; }
