#pragma once

// ZIP extraction that never changes anything outside one destination folder.
// A package is a hostile input: names are checked as text and against what is
// already on disk, link entries are checked for where they lead, and nothing is
// ever written or chmod-ed through an existing link.
//
// The parts, each in its own file pair: ZipNames (names as text), ZipRollback
// (undoing a run), ZipEntrySink (folders, links, places for files), ZipInflate
// (one file's data), ZipDirectory (the central directory as stored), and here
// the whole-archive run.

#include "IOrbArchieve.h"
#include "ZipEntrySink.h"
#include "ZipInflate.h"
#include "ZipNames.h"
#include "ZipRollback.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

namespace OrbZip {

struct Hooks {
    std::function<void(int)> progress; // percentage of entries written
    std::function<bool()> cancelled;
    int threads = 0;                   // inflating threads; 0: one per core
    QByteArray legacyCodePage = "GBK"; // for names neither flagged nor valid UTF-8
};

// Extracts the whole archive below `destDir`. On failure or cancellation
// everything the run created is removed again and what it replaced put back.
// `written` receives the destination paths of the written entries, in archive order.
OrbExtractReport extractArchive(const QString& archivePath, const QString& destDir, const Hooks& hooks,
                                QList<QString>* written);

} // namespace OrbZip
