#include "OrbHostQuery_p.h"

#include "OrbUtilsSettings.h"

#include <QByteArray>
#include <QDebug>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace {

constexpr double kBytesPerGiB = 1073741824.0;

struct Exchange {
    bool ok = false;
    QString error;           // the reply's error text when not ok
    QVariant contentLength;  // as announced
    QByteArray body;         // at most the cap
};

// One request, waited for in a local event loop (the calling thread keeps
// dispatching its other events meanwhile). Three bounds keep a bad server from
// holding the caller: no progress for requestTimeoutMs, the whole exchange past
// requestDeadlineMs, a body beyond maxBody bytes (announced or received). Any of
// them ends the request as a failure.
Exchange exchange(bool head, const QUrl& url, qint64 maxBody)
{
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setTransferTimeout(OrbUtilsSettings::requestTimeoutMs());
    // The reply is the manager's child and goes with it at the end of the call.
    QNetworkReply* reply = head ? manager.head(request) : manager.get(request);

    Exchange result;
    bool tooLong = false;
    auto take = [&] {
        if (tooLong)
            return;
        result.body += reply->read(maxBody + 1 - result.body.size());
        if (result.body.size() > maxBody) {
            tooLong = true;
            reply->abort();
        }
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [&] {
        const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
        if (!head && announced.isValid() && announced.toLongLong() > maxBody) {
            tooLong = true;
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, take);

    if (!reply->isFinished()) {
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, reply, &QNetworkReply::abort);
        const int deadlineMs = OrbUtilsSettings::requestDeadlineMs();
        if (deadlineMs > 0)
            deadline.start(deadlineMs);
        if (!reply->isFinished())
            loop.exec();
    }
    take();
    // The handlers above know this call's locals only.
    QObject::disconnect(reply, nullptr, nullptr, nullptr);

    if (reply->error() != QNetworkReply::NoError) {
        result.error = reply->errorString();
    } else if (tooLong) {
        result.error = QStringLiteral("Answer longer than %1 bytes").arg(maxBody);
    } else {
        result.ok = true;
        result.contentLength = reply->header(QNetworkRequest::ContentLengthHeader);
    }
    if (!result.ok)
        result.body.clear();
    return result;
}

} // namespace

QString OrbHostQuery::announcedSize(const QUrl& url)
{
    const Exchange answer = exchange(true, url, OrbUtilsSettings::kMaxAnswerBytes);
    qint64 size = -1;
    if (!answer.ok)
        qDebug().noquote() << "Error:" << answer.error;
    else if (answer.contentLength.isValid())
        size = answer.contentLength.toLongLong();
    else
        qDebug() << "Content-Length header is not available.";
    return QString::number(static_cast<double>(size) / kBytesPerGiB, 'f', 1) + QStringLiteral("GB");
}

QString OrbHostQuery::serviceValue(const QUrl& url, const QString& key)
{
    const Exchange answer = exchange(false, url, OrbUtilsSettings::kMaxAnswerBytes);
    if (!answer.ok)
        return QString();
    return QJsonDocument::fromJson(answer.body).object().value(key).toString();
}
