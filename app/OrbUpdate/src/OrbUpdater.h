#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

// Replaces the launcher's files with those of an unpacked launcher package.
//
// The new files are first copied into a staging folder inside the program
// folder; only then is each file moved into place, the file it replaces moved
// aside. A failure at any point puts every replaced file back, so the old
// launcher stays runnable. Only a folder that matches the seal the launcher
// wrote after accepting the package (OrbPackageManifest) is installed: each
// staged copy is checked against it, and a file it does not list, or a listed
// file that is missing, refuses the whole update. A journal beside the staging folder lets the next run
// finish that roll-back if the updater itself was killed halfway. A work folder
// or journal that is a link refuses the run, and no step is made or undone
// through a folder that is a link.
class OrbUpdater {
public:
    enum Result {
        Updated = 0,
        BadArguments = 2,
        LauncherStillRunning = 3,
        CopyFailed = 4,
        StartFailed = 5,
        NotSealed = 6,  // the folder is not exactly the package the launcher accepted
        UnsafeWorkFolder = 7,  // a work folder or the journal is (or goes through) a link; nothing was changed
    };

    struct Options {
        QString sourceDir;    // the unpacked launcher package
        QString programDir;   // the folder to update
        QString programFile;  // the launcher's file name inside both
        int waitTimeoutMs = 60000;
        int pollIntervalMs = 200;
        bool startLauncher = true;
        QString logDir;       // empty: the launcher's log folder
        // Whether the launcher still runs; default: the platform's process list.
        std::function<bool(const QString& programPath)> isRunning;
    };

    explicit OrbUpdater(Options options);
    Result run();

    // What the run did, one line per step (also written to the log file).
    QStringList log() const { return m_log; }
    QString logFile() const { return m_logFile; }

    // The launcher's log folder below the user's roaming application data.
    static QString DefaultLogDir();
    // Settings the program folder keeps across updates (relative paths).
    static QStringList PreservedFiles();

    static constexpr const char* kStageName = ".orbupdate-stage";
    static constexpr const char* kStashName = ".orbupdate-old";
    static constexpr const char* kJournalName = ".orbupdate-journal";

private:
    struct Placed {
        QString rel;
        bool hadOld;
    };

    void note(const QString& line);
    void openLog();
    bool validate();
    bool checkWorkPaths();
    bool waitForLauncherEnd();
    bool collect(QStringList* files);
    bool checkSeal();
    bool stage(const QStringList& files);
    bool commit(const QStringList& files);
    bool ensureFolder(const QString& rel, QStringList* created);
    void rollBack(const QList<Placed>& placed, const QStringList& createdFolders);
    bool throughLink(const QString& rel) const;
    void recoverInterruptedRun();
    void removeWorkFolders();
    bool startLauncher();

    QString path(const QString& base, const QString& rel) const { return base + QLatin1Char('/') + rel; }

    Options m_options;
    QString m_source;   // canonical
    QString m_program;  // canonical
    QString m_stage, m_stash, m_journal;
    QMap<QString, QByteArray> m_sealed;  // path → SHA-256 hex
    bool m_sealBroken = false;
    QStringList m_log;
    QString m_logFile;
};
