#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QString>

class IOrbModel;
struct OrbExtractReport;

// Game download and installation: the install folder, start/pause/resume of the
// package download, its completion, the check of the package and its unpacking,
// and the installation record. An installation ends once: installed() or
// installFailed(reason); a failure keeps the downloaded package unless it is the
// package itself that is bad.
class OrbGameInstall : public QObject {
    Q_OBJECT
public:
    enum class Stage { Idle, Checking, Installing };

    explicit OrbGameInstall(QObject* parent = nullptr);
    ~OrbGameInstall() override;

    void chooseFolder(const QString& path);
    void setDownloadStatus(bool status);
    void onDownloaded();
    void startInstall();
    void onExtracted(const OrbExtractReport& report);

    Stage stage() const { return m_stage; }

signals:
    void downloadCallback(bool result);
    void verifyFailed(QString reason);
    void downloadFailed(QString reason);
    void installed();
    void installFailed(QString reason);

private:
    void onPackageChecked();
    void fail(const QString& reason);

    Stage m_stage = Stage::Idle;
    QFutureWatcher<QString> m_check;
    QString m_package;
    QString m_folder;
};
