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

namespace {

constexpr double kBytesPerGiB = 1073741824.0;

struct Exchange {
    bool ok = false;
    QString error;           // the reply's error text when not ok
    QVariant contentLength;  // as announced
    QByteArray body;
};

// One request, waited for in a local event loop (the calling thread keeps
// dispatching its other events meanwhile). A request that makes no progress for
// requestTimeoutMs ends as a failure.
Exchange exchange(bool head, const QUrl& url)
{
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setTransferTimeout(OrbUtilsSettings::requestTimeoutMs());
    // The reply is the manager's child and goes with it at the end of the call.
    QNetworkReply* reply = head ? manager.head(request) : manager.get(request);
    if (!reply->isFinished()) {
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
    }
    Exchange result;
    if (reply->error() != QNetworkReply::NoError) {
        result.error = reply->errorString();
    } else {
        result.ok = true;
        result.contentLength = reply->header(QNetworkRequest::ContentLengthHeader);
        result.body = reply->readAll();
    }
    return result;
}

} // namespace

QString OrbHostQuery::announcedSize(const QUrl& url)
{
    const Exchange answer = exchange(true, url);
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
    const Exchange answer = exchange(false, url);
    if (!answer.ok)
        return QString();
    return QJsonDocument::fromJson(answer.body).object().value(key).toString();
}
