#include "OrbHostInfo_p.h"

#include "OrbNetInterfaces.h"

#include <QDebug>
#include <QFileInfo>
#include <QHostAddress>
#include <QStorageInfo>

namespace {

constexpr double kBytesPerGiB = 1073741824.0;

} // namespace

float OrbHostInfo::storageGiB(const QString& path)
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

QString OrbHostInfo::localIPv4Address()
{
    const QList<QHostAddress> addresses = OrbNetInterfaces::allAddresses();
    for (const QHostAddress& address : addresses) {
        // The whole 127/8 block is this host talking to itself, not a local address.
        if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback())
            return address.toString();
    }
    return QHostAddress(QHostAddress::LocalHost).toString();
}

QString OrbHostInfo::macAddress()
{
    const QList<OrbNetInterfaceInfo> interfaces = OrbNetInterfaces::all();
    for (const OrbNetInterfaceInfo& iface : interfaces) {
        if (!iface.hardwareAddress.isEmpty() && iface.isUp && !iface.isLoopback)
            return iface.hardwareAddress;
    }
    return QString();
}

QString OrbHostInfo::networkType()
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
