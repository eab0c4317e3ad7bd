#pragma once

#include "orbconfig_export.h"

#include <QHostAddress>
#include <QList>
#include <QString>

#include <functional>

// What OrbUtils needs to know about one network interface.
struct OrbNetInterfaceInfo {
    QString name;              // system name, e.g. "eth0"
    QString humanReadableName; // e.g. "Ethernet" on Windows; the system name elsewhere
    QString hardwareAddress;   // "AA:BB:..." or empty
    bool isUp = false;
    bool isRunning = false;
    bool isLoopback = false;
    QList<QHostAddress> addresses;
};

// The interface list OrbUtils works from. It comes from the system unless a
// source has been installed, which lets the selection rules run on made-up
// interfaces.
class ORBCONFIG_EXPORT OrbNetInterfaces {
public:
    using Source = std::function<QList<OrbNetInterfaceInfo>()>;

    OrbNetInterfaces() = delete;

    // The interfaces, in system order, from the installed source or the system.
    static QList<OrbNetInterfaceInfo> all();
    // The addresses of the up interfaces, in interface order (as the system's
    // own address list is built).
    static QList<QHostAddress> allAddresses();

    static QList<OrbNetInterfaceInfo> fromSystem();

    // Installs `source`; an empty function goes back to the system.
    static void setSource(Source source);
};
