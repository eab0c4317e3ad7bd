#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class OrbNetwork;
class OrbDeliveryJobPrivate;

// What a delivery job works on. Base URLs are store roots in rank order (mirrors):
// "<base>/manifests/<version>.manifest(.sig)" and "<base>/chunks/ab/<hash>.zst".
struct OrbDeliveryOptions {
    QString folder;                // the installation folder
    QString version;               // the version to install (Install only)
    QStringList baseUrls;          // at least one for Install and Repair
    QString game;                  // the game a manifest must be for; required
    std::string publicKeyPem;      // the publisher's Ed25519 key; empty: manifests unsigned (tests, local stores)
    // SHA-256 (hex) the manifest's bytes must have, as signed settings declare it;
    // empty: not checked. Binds the manifest to the settings that named it.
    QString manifestSha256;
    std::int64_t minSerial = 0;    // lowest manifest serial still accepted (the installed one's is enforced too)
    int connections = 4;           // chunk fetches at once
    int timeoutSeconds = 8;        // a fetch with no data for this long fails
    std::int64_t fetchDeadlineMs = 120000;  // whole time of one chunk or manifest fetch

    // Seams for tests. freeSpace answers the bytes available at a path (default: the file system).
    std::function<std::int64_t(const QString& path)> freeSpace;
    // Called at named points ("fetched:<hash>", "staged:<path>", "journal", "moved:<path>",
    // "installed", "committed"), on whatever thread reaches them.
    std::function<void(const QString& step)> stepHook;
};

// Installs, updates, verifies and repairs a game installation from a chunk store.
// Lives on the GUI thread; chunk fetches go through the given network engine,
// file work runs on Qt's thread pool. Each job runs one operation once: the
// operation's call returns false (and nothing is emitted) when the job already ran
// or the options are unusable; otherwise finished() follows exactly once.
//
// The installation is always wholly the old or wholly the new version: new files
// are built in a staging folder inside the installation, then swapped in under a
// journal; a run killed during the swap is finished by the next job (or Recover).
class OrbDeliveryJob : public QObject {
    Q_OBJECT

public:
    enum Phase {
        Idle,
        FetchingManifest,
        Planning,    // reading what is on disk
        Fetching,    // chunks from the base URLs
        Staging,     // building new files
        Committing,
        Done,
    };
    Q_ENUM(Phase)

    struct Stats {
        int filesKept = 0;        // already right on disk
        int filesBuilt = 0;       // built in staging (this run or an earlier one)
        int chunksReused = 0;     // read back from files on disk
        int chunksCached = 0;     // fetched by an earlier, interrupted run
        int chunksFetched = 0;    // fetched by this run
        int chunksRefetched = 0;  // fetched again after a failure or a wrong hash
        std::int64_t bytesFetched = 0;  // compressed bytes
    };

    explicit OrbDeliveryJob(OrbNetwork* network, QObject* parent = nullptr);
    ~OrbDeliveryJob() override;

    // Installs options.version into options.folder, or updates the version there to it.
    bool Install(const OrbDeliveryOptions& options);
    // Hashes every installed file against the installed manifest; verifyReport() lists
    // what is wrong, finished(true) means the check ran (not that nothing was wrong).
    bool Verify(const OrbDeliveryOptions& options);
    // Verify, then rebuilds damaged and missing files of the installed version,
    // fetching only chunks no intact file on disk holds.
    bool Repair(const OrbDeliveryOptions& options);
    // Stops the job; finished(false, "cancelled") follows. The installation stays as it was.
    void Cancel();

    Phase CurrentPhase() const;
    Stats Statistics() const;
    QStringList Damaged() const;  // present but wrong (after Verify or Repair)
    QStringList Missing() const;  // listed but absent, files and folders

    // The version installed in folder ("" when none), after finishing an interrupted commit.
    static QString InstalledVersion(const QString& folder);
    // Finishes a commit a killed run left behind; true when there was nothing to do or it was done.
    static bool Recover(const QString& folder, QString* reason = nullptr);

signals:
    void phaseChanged(OrbDeliveryJob::Phase phase);
    // Compressed bytes of the chunks this run fetches; speed in bytes per second over the
    // last seconds, time left in seconds (-1 while unknown).
    void progress(qint64 bytesDone, qint64 bytesTotal, qint64 bytesPerSecond, qint64 secondsLeft);
    void verifyReport(const QStringList& damaged, const QStringList& missing);
    void finished(bool ok, const QString& reason);

private:
    friend class OrbDeliveryJobPrivate;
    std::unique_ptr<OrbDeliveryJobPrivate> d;
};
