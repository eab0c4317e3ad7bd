#pragma once

#include "core/IComponent.h"

#include <QObject>
#include <QString>

// What a downloaded package must be, as the publisher declared it: its SHA-256 in hex
// (empty: not declared) and its size in bytes (negative: not declared); and the bounds of
// the transfer (negative: none): the most the file may hold, and the milliseconds the whole
// download may take from the request on. A download beyond either fails (NetTooLarge,
// NetDeadline); one over the size cap leaves no file behind.
struct OrbPackageCheck {
    QString sha256;
    qint64 size = -1;
    qint64 maxSize = -1;
    qint64 deadlineMs = -1;
};

class OrbNetwork;

// The launcher's download service: the only user of the network library.
class IOrbNetwork : public IComponent {
public:
    virtual bool RequestAsnycGameSettingUrl(const QString& url, const QString& path) = 0;
    virtual bool RequestAsnycDownLoadUrl(const QString& url, const QString& path) = 0;
    virtual bool RequestAsnycLauncherUpdateUrl(const QString& url, const QString& path) = 0;
    virtual void StopDownLoad() = 0;
    // The same downloads, reported finished only once the file matches `check`.
    virtual bool RequestAsnycDownLoadUrl(const QString& url, const QString& path, const OrbPackageCheck& check) = 0;
    virtual bool RequestAsnycLauncherUpdateUrl(const QString& url, const QString& path,
                                               const OrbPackageCheck& check) = 0;
    // The settings file within the bounds of `check` (its size and hash are not checked);
    // a failure is reported with its code like the unbounded form's.
    virtual bool RequestAsnycGameSettingUrl(const QString& url, const QString& path, const OrbPackageCheck& check) = 0;
    // The service's network engine, for transfers it does not run itself (chunked
    // game delivery); null before Init and after Uninit. Owned by the service.
    virtual OrbNetwork* Network() = 0;
};

#define IOrbNetwork_iid "IOrbNetwork"
Q_DECLARE_INTERFACE(IOrbNetwork, IOrbNetwork_iid)
