#pragma once

#include "IOrbNetwork.h"

#include <QObject>

#include <memory>

class OrbNetwork;

// Downloads the game-settings file, the launcher package and the game package
// through the network library and reports them as Qt signals.
class OrbBackend : public QObject, public IOrbNetwork {
    Q_OBJECT
    Q_INTERFACES(IOrbNetwork)
public:
    explicit OrbBackend(QObject* parent = nullptr);
    ~OrbBackend() override;

    void Init() override;
    void Uninit() override;
    std::string GetName() override;

    bool RequestAsnycGameSettingUrl(const QString& url, const QString& path) override;
    bool RequestAsnycDownLoadUrl(const QString& url, const QString& path) override;
    bool RequestAsnycLauncherUpdateUrl(const QString& url, const QString& path) override;
    void StopDownLoad() override;

signals:
    void sigDownloadProgress(qint32 offset, qint32 total);
    void sigDownloadStop();
    void sigDownloadFinish();
    void sigGameSettingDownloadFinish();
    void sigLauncherUpdateProgress(qint32 progressValue, QString progressText);
    void sigLauncherUpdateDownloadFinish();

private:
    std::unique_ptr<OrbNetwork> m_network;
};
