#pragma once

#include "core/IComponent.h"

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>

class QuaZip;

// An archive entry that was left out because writing it could have changed
// something outside the destination folder (or its name cannot exist there).
struct OrbSkippedEntry {
    QString name;   // the entry name as stored in the archive
    QString reason; // short English explanation for logs
};

// How one extraction ended. The completion signals fire for every outcome, so
// whoever acts on them (marking the game installed, deleting the package) must
// look at this report first.
struct OrbExtractReport {
    enum Outcome {
        Complete = 0,  // every entry was written
        Partial = 1,   // everything written except the entries in `skipped`
        Failed = 2,    // nothing usable: the archive could not be read or an entry could not be written; rolled back
        Cancelled = 3, // stopped at shutdown; rolled back
    };

    int type = -1;            // IOrbArchieve::extractType of the run
    Outcome outcome = Failed;
    QString archivePath;
    QString destDir;
    int entryCount = 0;       // entries found in the archive
    int extractedCount = 0;   // entries written (zero after a rollback)
    QList<OrbSkippedEntry> skipped;
    QString failedEntry;      // the entry that could not be written, if any
    QString error;            // why the run failed, empty otherwise
    // What the run put below the destination (Complete and Partial only):
    // paths relative to it, in archive order, each entry after the folders
    // leading to it, folders ending in '/', each path once. Empty otherwise.
    QStringList written;

    // True when the destination now holds the package's content (possibly
    // without the skipped entries). Only then may the package be discarded.
    bool installed() const { return outcome == Complete || outcome == Partial; }
};
Q_DECLARE_METATYPE(OrbExtractReport)

// The ZIP installer: unpacks the game and launcher packages, empties folders.
class IOrbArchieve : public IComponent {
public:
    enum extractType {
        extractLauncher = 0,
        extractGame = 1,
    };

    virtual bool extractEntry(QuaZip* zip, const QString& fileName, const QString& destPath) = 0;
    virtual void extractDir(const QString& archivePath, const QString& destDir, IOrbArchieve::extractType type) = 0;
    virtual bool removeDirContents(const QString& path) = 0;

    // The report of the most recently completed extraction that was reported
    // (the one whose completion signal fired last). Valid inside the slots
    // connected to the completion signals.
    virtual OrbExtractReport lastExtractReport() const = 0;
};

#define IOrbArchieve_iid "IOrbArchieve"
Q_DECLARE_INTERFACE(IOrbArchieve, IOrbArchieve_iid)
