#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class IOrbModel;

// The start-up update check: fetch the server's game-settings copy (and its
// signature), decide about launcher and game updates, copy the server's keys,
// prepare a game update. Every check that starts ends exactly once: either
// evaluated (finished(proceed), with the hints before and after it) or offline
// (failed(reason), then finished(true), so an installed game can still be played).
class OrbUpdateCheck : public QObject {
    Q_OBJECT
public:
    enum class Stage { Idle, Queued, Signature, Settings };

    static constexpr int kDefaultDeadlineSeconds = 30;
    static constexpr qint64 kSettingsCap = 1024 * 1024;
    static constexpr qint64 kSignatureCap = 1024;
    static constexpr const char* kSignatureSuffix = ".sig";

    explicit OrbUpdateCheck(QObject* parent = nullptr);

    // The scene asks for a check. The work starts from the event loop: a launcher
    // that is refused as a second instance never enters it, so it touches nothing.
    void request();
    void onFetched();
    void onFetchFailed(qint32 error);

    Stage stage() const { return m_stage; }

signals:
    void started(bool ok);
    void launcherHint(QString content);
    void finished(bool proceed);
    void gameHint(QString content);
    void failed(QString reason);

private:
    void start();
    bool fetch(const QString& url, const QString& path, qint64 cap);
    void endOffline(const QString& reason);
    bool verify(IOrbModel* model, QString* reason);
    void evaluate(IOrbModel* model);

    Stage m_stage = Stage::Idle;
    QTimer m_deadline;
    QElapsedTimer m_clock;
    qint64 m_deadlineMs = 0;
    QString m_url;
    QString m_path;
    bool m_unsignedNoted = false;
};
