#include "OrbNetInterfaces.h"

#include <QNetworkInterface>

#include <mutex>

namespace {

std::mutex g_lock;
OrbNetInterfaces::Source g_source;

} // namespace

QList<OrbNetInterfaceInfo> OrbNetInterfaces::fromSystem()
{
    QList<OrbNetInterfaceInfo> result;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& iface : interfaces) {
        OrbNetInterfaceInfo info;
        info.name = iface.name();
        info.humanReadableName = iface.humanReadableName();
        info.hardwareAddress = iface.hardwareAddress();
        const QNetworkInterface::InterfaceFlags flags = iface.flags();
        info.isUp = flags.testFlag(QNetworkInterface::IsUp);
        info.isRunning = flags.testFlag(QNetworkInterface::IsRunning);
        info.isLoopback = flags.testFlag(QNetworkInterface::IsLoopBack);
        const QList<QNetworkAddressEntry> entries = iface.addressEntries();
        for (const QNetworkAddressEntry& entry : entries)
            info.addresses.append(entry.ip());
        result.append(info);
    }
    return result;
}

QList<OrbNetInterfaceInfo> OrbNetInterfaces::all()
{
    Source source;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        source = g_source;
    }
    // Called outside the lock: a source may take its time.
    return source ? source() : fromSystem();
}

QList<QHostAddress> OrbNetInterfaces::allAddresses()
{
    QList<QHostAddress> result;
    const QList<OrbNetInterfaceInfo> interfaces = all();
    for (const OrbNetInterfaceInfo& iface : interfaces) {
        if (iface.isUp)
            result.append(iface.addresses);
    }
    return result;
}

void OrbNetInterfaces::setSource(Source source)
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_source = std::move(source);
}
