#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class IOrbModel;
class OrbDeliveryJob;
class OrbNetwork;

// The game from the publisher's chunk store instead of its ZIP, when the settings
// name a manifest ([Basic] GameManifestUrl, ".../manifests/<version>.manifest"):
// install and update fetch only the chunks the installation does not hold, and
// "verify and repair" rebuilds only what is damaged or missing. It answers through
// the same signals as the ZIP download, so the scene needs no second path: a run
// that ends well leaves the game installed.
//
// Each run ends once: installed(), stopped() (paused, or the network went; the next
// start resumes where it stood), or refused(reason) followed by stopped().
class OrbGameDelivery : public QObject {
    Q_OBJECT
public:
    enum class Task { None, Install, Repair };

    static constexpr int kDefaultConnections = 4;

    explicit OrbGameDelivery(QObject* parent = nullptr);
    ~OrbGameDelivery() override;

    // True when the settings name a manifest.
    static bool Available(IOrbModel* model);
    // Finishes an update a killed run left half committed (at start-up).
    static void Recover(IOrbModel* model);

    bool start();
    void pause();
    void repair();

    Task task() const { return m_task; }

signals:
    void started(bool ok);
    void progress(qint32 doneMiB, qint32 totalMiB);
    void stopped();
    void installed();
    void refused(QString reason);
    void repairFinished(bool ok, QString summary);

private:
    bool prepare(IOrbModel* model, struct OrbDeliveryOptions* options, QString* why) const;
    void newJob(OrbNetwork* network, Task task);
    void onFinished(bool ok, const QString& reason);

    Task m_task = Task::None;
    bool m_pausing = false;
    int m_phaseAtEnd = 0;
    QPointer<OrbDeliveryJob> m_job;
};
