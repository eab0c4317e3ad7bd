#pragma once

#include "IOrbNetwork.h"

#include <QObject>

#include <memory>

class OrbNetwork;
class OrbNetDownload;

// Downloads the game-settings file, the launcher package and the game package
// through the network library and reports them as Qt signals. The completion and
// progress functions are delivered on the GUI thread (OrbNetDownloadWatcher), which is
// the only thread that touches the held game download.
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
    bool RequestAsnycDownLoadUrl(const QString& url, const QString& path, const OrbPackageCheck& check) override;
    bool RequestAsnycLauncherUpdateUrl(const QString& url, const QString& path, const OrbPackageCheck& check) override;
    bool RequestAsnycGameSettingUrl(const QString& url, const QString& path, const OrbPackageCheck& check) override;
    OrbNetwork* Network() override { return m_network.get(); }

signals:
    void sigDownloadProgress(qint32 offset, qint32 total);
    void sigDownloadStop();
    void sigDownloadFinish();
    void sigGameSettingDownloadFinish();
    void sigLauncherUpdateProgress(qint32 progressValue, QString progressText);
    void sigLauncherUpdateDownloadFinish();
    // The settings file or launcher package download ended with an error (its code).
    void sigGameSettingDownloadFailed(qint32 error);
    void sigLauncherUpdateDownloadFailed(qint32 error);
    // The game package did not match its declared size or SHA-256 (emitted before
    // sigDownloadStop); the file is gone. A refused launcher package is reported by
    // sigLauncherUpdateDownloadFailed with NetTooLarge or NetVerifyFailed.
    void sigDownloadVerifyFailed(QString reason);

private:
    void OnGameSettingFinish(const std::shared_ptr<OrbNetDownload>& download);
    void OnGameSettingProgress(const std::shared_ptr<OrbNetDownload>& download, long long offset, long long total);
    void OnLauncherUpdateFinish(const std::shared_ptr<OrbNetDownload>& download);
    void OnLauncherUpdateProgress(const std::shared_ptr<OrbNetDownload>& download, long long offset, long long total);
    void OnGameDownloadFinish(const std::shared_ptr<OrbNetDownload>& download);
    void OnGameDownloadProgress(const std::shared_ptr<OrbNetDownload>& download, long long offset, long long total);

    std::unique_ptr<OrbNetwork> m_network;
    // Held from the request until the download has ended, however it ends (or StopDownLoad):
    // the next request then resumes the partial file or starts again.
    std::shared_ptr<OrbNetDownload> m_gameDownload;
    long long m_gameTotal = -1;  // last total in bytes the held download reported
};
