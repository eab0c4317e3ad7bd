// The library's static utilities. Each concern has its own home (host/,
// crypto/, tracker/); this file only hands the calls on and holds the three
// small text helpers.

#include "OrbUtils.h"

#include "crypto/OrbAes_p.h"
#include "host/OrbHostInfo_p.h"
#include "host/OrbHostQuery_p.h"
#include "host/OrbUtilsSettings.h"
#include "tracker/OrbWindowTracker_p.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QUrl>

#include <limits>
#include <stdexcept>

float OrbUtils::getStorageInfo(const QString& path)
{
    return OrbHostInfo::storageGiB(path);
}

QString OrbUtils::getDownLoadFileSize(const QString& url)
{
    return OrbHostQuery::announcedSize(QUrl(url, QUrl::TolerantMode));
}

QString OrbUtils::getLocalIPAddress()
{
    return OrbHostInfo::localIPv4Address();
}

QString OrbUtils::getMacAddress()
{
    return OrbHostInfo::macAddress();
}

QString OrbUtils::getCurrentNetworkType()
{
    return OrbHostInfo::networkType();
}

QString OrbUtils::getCountryByIP()
{
    return OrbHostQuery::serviceValue(OrbUtilsSettings::countryUrl(), QStringLiteral("country"));
}

QString OrbUtils::getCountryCodeByIP()
{
    return OrbHostQuery::serviceValue(OrbUtilsSettings::countryCodeUrl(), QStringLiteral("countryCode"));
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

std::string OrbUtils::AESEncrypt(const std::string& plaintext, const std::string& key, const std::string& iv)
{
    return OrbAes::encrypt(plaintext, key, iv);
}

std::string OrbUtils::AESDecrypt(const std::string& ciphertext, const std::string& key, const std::string& iv)
{
    return OrbAes::decrypt(ciphertext, key, iv);
}

OrbWindowHandle OrbUtils::findUnityWindow()
{
    return OrbWindowTracker::findGameWindow();
}

void OrbUtils::windowUpdaterStart(QQuickWindow* window)
{
    OrbWindowTracker::start(window);
}

void OrbUtils::windowUpdaterStop()
{
    OrbWindowTracker::stop();
}

void OrbUtils::updateWindowPosition(QQuickWindow* window, OrbWindowHandle hwnd)
{
    OrbWindowTracker::updatePosition(window, hwnd);
}
