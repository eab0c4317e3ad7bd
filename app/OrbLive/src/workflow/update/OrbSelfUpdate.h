#pragma once

#include <QObject>
#include <QString>

class IOrbModel;
struct OrbExtractReport;

// The launcher's self-update: download the launcher package, unpack it into the
// backup folder to see that it is whole, and on the player's word hand over to
// the external updater and quit. Each attempt ends once: ready() or one failure.
//
// At hand-over the package is checked again against what the signed settings
// declare and unpacked once more from that checked file into an emptied backup
// folder, and only that unpacked copy is sealed: nothing that did not come out
// of the package that matched reaches the updater.
class OrbSelfUpdate : public QObject {
    Q_OBJECT
public:
    enum class Stage { Idle, Downloading, Unpacking, Ready, Staging, HandedOver };

    explicit OrbSelfUpdate(QObject* parent = nullptr);

    void start();
    void onDownloaded();
    void onDownloadFailed(qint32 error);
    void onExtracted(const OrbExtractReport& report);
    void install();

    Stage stage() const { return m_stage; }

    // At every start: the launcher version advances only once the new launcher
    // runs from the updated folder. An update the updater rolled back (or that
    // never ran) leaves the version, so it is offered again.
    // `runningProgram` is the launcher file that runs now (the program itself by default).
    static void ConfirmPendingUpdate(IOrbModel* model, const QString& runningProgram = QString());

signals:
    void started(bool ok);
    void ready();
    void downloadFailed(QString reason);
    void installFailed(QString reason);

private:
    void fail(const QString& reason, bool unpacking);
    bool unpackInto(IOrbModel* model, const QString& package);
    void handOver(IOrbModel* model, const QString& backup);
    QString packagePath(IOrbModel* model) const;

    Stage m_stage = Stage::Idle;
};
