#pragma once

#include "OrbDeliveryManifest.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

// The file side of installing a version from chunks: what an installation folder
// already has, building new files in a staging folder, and the journaled commit
// that swaps them in. Everything here is blocking file work with bounded memory
// (one chunk at a time); the job runs it off the GUI thread.
//
// State kept inside the installation folder:
//   .orbdelivery/installed.manifest(.sig)  the version in place, as it was verified
//   .orbdelivery/chunks/ab/<hash>.zst      fetched chunks (a chunk store), until a commit
//   .orbdelivery/staging-<tag>/<path>      files of the version being installed
//   .orbdelivery/aside/<path>              old files while a commit runs
//   .orbdelivery/journal                   present only while a commit runs
namespace OrbDeliveryLocal {

QString StateDir(const QString& folder);
QString StateName();  // ".orbdelivery"
QString InstalledManifestPath(const QString& folder);
QString CacheRoot(const QString& folder);  // chunk store of fetched chunks

using StepHook = std::function<void(const QString& step)>;

// Reads and checks the installed manifest. False with an empty reason when there is none.
bool LoadInstalled(const QString& folder, const QString& game, const std::string& publicPem,
                   OrbDeliveryManifest& out, QByteArray* text, QString* reason);

// Finishes a commit a killed run left behind (the journal is there): every staged
// file goes in, dropped files go, the new manifest becomes the installed one.
// True when nothing was left to do or the commit was finished.
bool Recover(const QString& folder, QString* reason, const StepHook& hook = StepHook());

// Renames from over to (replacing a file there), making to's folder first.
bool Rename(const QString& from, const QString& to, QString* reason);

// SHA-256 of a file read in bounded pieces; false when it cannot be read or is not size bytes.
bool HashFile(const QString& path, std::int64_t size, QByteArray& hex, const std::atomic<bool>* cancel = nullptr);

// Where a chunk's bytes may be read from an old file.
struct Source {
    QString path;  // relative path in the installation folder
    std::int64_t offset = 0;
};

struct MissingChunk {
    QByteArray hash;
    std::int64_t size = 0;
    std::int64_t compressedSize = 0;
};

struct Plan {
    QString staging;               // absolute staging folder
    std::vector<int> keep;         // indexes of files already in place
    std::vector<int> stage;        // indexes of files to build (not yet staged)
    std::vector<int> staged;       // indexes of files a previous run already staged
    std::vector<MissingChunk> missing;  // distinct chunks to fetch
    QStringList damaged;           // present but not as the manifest says
    QStringList absent;            // listed but not there (files and folders)
    std::int64_t stageBytes = 0;   // bytes of the files still to build
    std::int64_t fetchBytes = 0;   // compressed bytes still to fetch
    int reusedChunks = 0;          // chunks read back from files on disk
    int cachedChunks = 0;          // chunks fetched by an earlier run
    QHash<QByteArray, Source> sources;  // old chunks whose bytes were read back and matched
};

struct PlanInput {
    QString folder;
    const OrbDeliveryManifest* target = nullptr;
    QByteArray targetText;               // names the staging folder
    const OrbDeliveryManifest* installed = nullptr;  // null: nothing installed
    bool hashEverything = false;         // verify and repair: trust no file unread
    const std::atomic<bool>* cancel = nullptr;
};

// Decides what is kept, what is rebuilt and which chunks must be fetched. Old chunks
// count as available only when their bytes, read back, match their hash.
bool MakePlan(const PlanInput& in, Plan& plan, QString* reason);

// Why a manifest cannot be installed here (it names the folder's own state), or empty.
QString CheckReserved(const OrbDeliveryManifest& manifest);

// Builds every file of plan.stage into the staging folder from old files and fetched chunks.
bool StageFiles(const PlanInput& in, const Plan& plan, QString* reason, const StepHook& hook = StepHook());

// Swaps the staged version in under a journal, then removes what is left of the old one.
bool Commit(const PlanInput& in, const Plan& plan, const QByteArray& signature, QString* reason,
            const StepHook& hook = StepHook());

} // namespace OrbDeliveryLocal
