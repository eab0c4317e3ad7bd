#pragma once

#include "core/IComponent.h"

#include <QObject>
#include <QString>

// What a downloaded package must be, as the publisher declared it: its SHA-256 in hex
// (empty: not declared) and its size in bytes (negative: not declared).
struct OrbPackageCheck {
    QString sha256;
    qint64 size = -1;
    qint64 maxSize = -1;     // no more than this many bytes are taken (-1: no cap)
    qint64 deadlineMs = -1;  // the whole transfer ends by then (-1: no deadline)
};

// The launcher's download service: the only user of the network library.
class IOrbNetwork : public IComponent {
public:
    virtual bool RequestAsnycGameSettingUrl(const QString& url, const QString& path) = 0;
    virtual bool RequestAsnycGameSettingUrl(const QString& url, const QString& path, const OrbPackageCheck& check) = 0;
    virtual bool RequestAsnycDownLoadUrl(const QString& url, const QString& path) = 0;
    virtual bool RequestAsnycLauncherUpdateUrl(const QString& url, const QString& path) = 0;
    virtual void StopDownLoad() = 0;
    // The same downloads, reported finished only once the file matches `check`.
    virtual bool RequestAsnycDownLoadUrl(const QString& url, const QString& path, const OrbPackageCheck& check) = 0;
    virtual bool RequestAsnycLauncherUpdateUrl(const QString& url, const QString& path,
                                               const OrbPackageCheck& check) = 0;
};

#define IOrbNetwork_iid "IOrbNetwork"
Q_DECLARE_INTERFACE(IOrbNetwork, IOrbNetwork_iid)
