#include "OrbUtils.h"

#include "OrbNetInterfaces.h"
#include "OrbUtilsSettings.h"

#include <QByteArray>
#include <QDebug>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStorageInfo>

#include <limits>
#include <stdexcept>

namespace {

constexpr double kBytesPerGiB = 1073741824.0;

QNetworkRequest requestFor(const QUrl& url)
{
    QNetworkRequest request(url);
    // A server that accepts the connection and then goes quiet must not hold the
    // caller in its nested event loop for ever.
    request.setTransferTimeout(OrbUtilsSettings::requestTimeoutMs());
    return request;
}

// Runs a local event loop until `reply` has finished; the calling thread keeps
// dispatching its other events meanwhile.
void waitFor(QNetworkReply* reply)
{
    if (reply->isFinished())
        return;
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
}

QString askGeolocationService(const QUrl& url, const QString& key)
{
    QNetworkAccessManager manager;
    QNetworkReply* reply = manager.get(requestFor(url));
    waitFor(reply);
    QString result;
    if (reply->error() == QNetworkReply::NoError) {
        const QJsonObject object = QJsonDocument::fromJson(reply->readAll()).object();
        result = object.value(key).toString();
    }
    reply->deleteLater();
    return result;
}

} // namespace

float OrbUtils::getStorageInfo(const QString& path)
{
    QStorageInfo storage(path);
    if (!storage.isValid() && !path.isEmpty() && !QFileInfo::exists(path)) {
        // An install folder the user has just picked may not exist yet: measure
        // the volume it will be created on, that of its nearest existing parent.
        QString current = QFileInfo(path).absoluteFilePath();
        for (;;) {
            const QString parent = QFileInfo(current).absolutePath();
            if (parent == current)
                break;
            current = parent;
            if (QFileInfo::exists(current)) {
                storage.setPath(current);
                break;
            }
        }
    }
    return static_cast<float>(static_cast<double>(storage.bytesAvailable()) / kBytesPerGiB);
}

QString OrbUtils::getDownLoadFileSize(const QString& url)
{
    QNetworkAccessManager manager;
    QNetworkReply* reply = manager.head(requestFor(QUrl(url, QUrl::TolerantMode)));
    waitFor(reply);

    qint64 size = -1;
    if (reply->error() != QNetworkReply::NoError) {
        qDebug().noquote() << "Error:" << reply->errorString();
    } else {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid())
            size = length.toLongLong();
        else
            qDebug() << "Content-Length header is not available.";
    }
    reply->deleteLater();
    return QString::number(static_cast<double>(size) / kBytesPerGiB, 'f', 1) + QStringLiteral("GB");
}

QString OrbUtils::getLocalIPAddress()
{
    const QList<QHostAddress> addresses = OrbNetInterfaces::allAddresses();
    for (const QHostAddress& address : addresses) {
        // The whole 127/8 block is this host talking to itself, not a local address.
        if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback())
            return address.toString();
    }
    return QHostAddress(QHostAddress::LocalHost).toString();
}

QString OrbUtils::getMacAddress()
{
    const QList<OrbNetInterfaceInfo> interfaces = OrbNetInterfaces::all();
    for (const OrbNetInterfaceInfo& iface : interfaces) {
        if (!iface.hardwareAddress.isEmpty() && iface.isUp && !iface.isLoopback)
            return iface.hardwareAddress;
    }
    return QString();
}

QString OrbUtils::getCurrentNetworkType()
{
    const QList<OrbNetInterfaceInfo> interfaces = OrbNetInterfaces::all();
    for (const OrbNetInterfaceInfo& iface : interfaces) {
        if (!iface.isUp || !iface.isRunning)
            continue;
        qDebug().noquote() << "Interface:" << iface.humanReadableName;
        const QString name = iface.name.toLower();
        // Windows names its adapters by kind ("wireless_32768", "ethernet_32769"),
        // so the wireless prefix is what marks Wi-Fi there.
        if (name.startsWith(QLatin1String("wlan")) || name.contains(QLatin1String("wifi"))
            || name.startsWith(QLatin1String("ath")) || name.startsWith(QLatin1String("wireless")))
            return QStringLiteral("Wi-Fi");
        if (name.startsWith(QLatin1String("eth")))
            return QStringLiteral("Ethernet");
        return QStringLiteral("Type: Other");
    }
    return QString();
}

QString OrbUtils::getCountryByIP()
{
    return askGeolocationService(OrbUtilsSettings::countryUrl(), QStringLiteral("country"));
}

QString OrbUtils::getCountryCodeByIP()
{
    return askGeolocationService(OrbUtilsSettings::countryCodeUrl(), QStringLiteral("countryCode"));
}

int OrbUtils::extractNumber(const QString& text)
{
    const QRegularExpression digits(QStringLiteral("(\\d+)"));
    const QRegularExpressionMatch match = digits.match(text);
    if (!match.hasMatch())
        return 0;
    // A run beyond the int range converts to 0; the top value itself has no
    // successor and stays where it is rather than wrapping negative.
    const int value = match.captured(1).toInt(nullptr, 10);
    return value == std::numeric_limits<int>::max() ? value : value + 1;
}

QString OrbUtils::generateCodeVerifier()
{
    // The verifier is a secret: draw from the system's cryptographic source.
    QByteArray bytes(16, Qt::Uninitialized);
    for (char& byte : bytes)
        byte = static_cast<char>(QRandomGenerator::system()->generate() >> 24);
    const QByteArray encoded =
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    return QString::fromLatin1(encoded.left(16));
}

QJsonObject OrbUtils::convertStringToJson(const std::string& text)
{
    const QByteArray utf8 = QString::fromStdString(text).toUtf8();
    const QJsonDocument document = QJsonDocument::fromJson(utf8);
    if (!document.isObject())
        throw std::runtime_error("Invalid JSON format");
    return document.object();
}
