#pragma once

#include "core/IComponent.h"

#include <QObject>
#include <QString>

// The launcher's download service: the only user of the network library.
class IOrbNetwork : public IComponent {
public:
    virtual bool RequestAsnycGameSettingUrl(const QString& url, const QString& path) = 0;
    virtual bool RequestAsnycDownLoadUrl(const QString& url, const QString& path) = 0;
    virtual bool RequestAsnycLauncherUpdateUrl(const QString& url, const QString& path) = 0;
    virtual void StopDownLoad() = 0;
};

#define IOrbNetwork_iid "IOrbNetwork"
Q_DECLARE_INTERFACE(IOrbNetwork, IOrbNetwork_iid)
