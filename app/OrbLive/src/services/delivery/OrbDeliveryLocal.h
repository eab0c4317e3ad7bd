#pragma once

#include "OrbChunkStore.h"
#include "OrbDeliveryManifest.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

// The file side of installing a version from chunks: what an installation folder
// already has, building new files in a staging folder, and the journaled commit
// that swaps them in. Everything here is blocking file work with bounded memory
// (one chunk per thread at a time); the job runs it off the GUI thread.
//
// State kept inside the installation folder:
//   .orbdelivery/installed.manifest(.sig)  the version in place, as it was verified
//   .orbdelivery/chunks/ab/<hash>.zst      fetched chunks (a chunk store), until a commit
//   .orbdelivery/partial-<tag>/<path>      files being built, until they are complete; the
//                                          chunks already in one are kept by the next run
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
    std::int64_t packOffset = 0;  // where its frame sits in the version's pack
};

struct Plan {
    QString staging;               // absolute staging folder
    QString partial;               // absolute folder of files still being built
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
    // Files to build whose partial copy already holds some of their chunks (by file index,
    // one flag per chunk): an interrupted run's work, checked against the hashes.
    QHash<int, std::vector<bool>> resumed;
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

// One file of plan.stage being built in the partial folder. Chunks are written at
// their offsets by any thread in any order, each checked against its hash as it is
// decompressed (the one check of those bytes: the chunks tile the file, so the file
// is complete and right once every chunk is in). Memory: one chunk per caller.
class FileBuild {
public:
    FileBuild(const PlanInput& in, const Plan& plan, int fileIndex);

    enum class Result {
        Written,    // this chunk is in, the file is not complete yet
        Completed,  // every chunk of the file is in
        Refused,    // the chunk's bytes are not available or not the chunk (reason says why)
        Failed,     // writing failed
        Cancelled,
    };
    // Writes chunk number `chunk` of the file (-1 for a file without chunks). Thread-safe.
    // The chunk's bytes come from frame (its zstd frame, in memory) when given, else from
    // where the plan found them, or from the cache.
    Result Write(int chunk, QString* reason, const char* frame = nullptr, std::int64_t frameSize = 0);
    // True when the partial copy held this chunk already when the plan was made.
    bool Resumed(int chunk) const;

    const OrbDeliveryFile& File() const { return *m_file; }
    QString PartialPath() const { return m_partial; }

private:
    const PlanInput& m_in;
    const Plan& m_plan;
    const OrbDeliveryFile* m_file;
    QString m_partial;
    std::mutex m_lock;
    bool m_created = false;
    std::vector<bool> m_written;
    std::vector<bool> m_resumed;
    std::size_t m_done = 0;  // chunks written
};

// Moves every built file of plan.stage from the partial folder into staging with its mode.
bool FinishStaging(const PlanInput& in, const Plan& plan, QString* reason, const StepHook& hook = StepHook());

// Swaps the staged version in under a journal, then removes what is left of the old one.
bool Commit(const PlanInput& in, const Plan& plan, const QByteArray& signature, QString* reason,
            const StepHook& hook = StepHook());

} // namespace OrbDeliveryLocal
