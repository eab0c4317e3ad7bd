#include "OrbDeliveryJob.h"

#include "OrbChunkStore.h"
#include "OrbDeliveryFiles.h"
#include "OrbDeliveryLocal.h"
#include "OrbDeliveryManifest.h"
#include "OrbDeliveryPack.h"

#include "OrbNetDownload.h"
#include "OrbNetDownloadReq.h"
#include "OrbNetDownloadWatcher.h"
#include "OrbNetResponseWatcher.h"
#include "OrbNetwork.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QHash>
#include <QLockFile>
#include <QPointer>
#include <QSet>
#include <QStorageInfo>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent>

#include <algorithm>
#include <atomic>
#include <deque>
#include <map>
#include <mutex>

namespace {

constexpr std::int64_t kSignatureBytes = 64 * 1024;
// Room the file system must keep beyond what the update writes.
constexpr std::int64_t kSpaceMargin = 16ll << 20;
// One ranged request of a pack carries at most this much: large enough that the cost of
// a request vanishes, small enough that several connections share even a small update.
constexpr std::int64_t kSpanBytes = 4ll << 20;
// Pack bytes fetched or in flight whose chunks are not written yet; no new span starts
// beyond it, so memory stays bounded when the disk is slower than the network.
constexpr std::int64_t kHeldBytes = 24ll << 20;

enum class Op { None, Install, Verify, Repair };

// Everything the file work needs, owned together so a worker never reaches into the job.
struct Context {
    OrbDeliveryOptions options;
    bool hashEverything = false;
    std::atomic<bool> cancel{false};
    // The job is failing: chunks still to be read from disk are dropped, but fetched bytes
    // already in memory are written, so the next run need not fetch them again.
    std::atomic<bool> stopping{false};
    OrbDeliveryManifest target;
    QByteArray targetText;
    QByteArray signature;
    OrbDeliveryManifest installed;
    bool hasInstalled = false;
    OrbDeliveryLocal::Plan plan;
    OrbDeliveryLocal::PlanInput buildInput;  // what the file builds read while staging
    std::vector<std::unique_ptr<OrbDeliveryLocal::FileBuild>> builds;

    // The first file whose data could not be flushed to the disk.
    std::mutex flushLock;
    QString flushError;

    OrbDeliveryLocal::PlanInput input() const
    {
        OrbDeliveryLocal::PlanInput in;
        in.folder = options.folder;
        in.target = &target;
        in.targetText = targetText;
        in.installed = hasInstalled ? &installed : nullptr;
        in.hashEverything = hashEverything;
        in.cancel = &cancel;
        return in;
    }
};

struct WorkResult {
    bool ok = false;
    QString reason;
};

QString incomingDir(const QString& folder) { return OrbDeliveryLocal::StateDir(folder) + QStringLiteral("/incoming"); }

QString joinUrl(QString base, const QString& tail)
{
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base + QLatin1Char('/') + tail;
}

// A fetched piece of a pack, held in memory until the last write of its chunks is done.
struct SpanBuffer {
    std::shared_ptr<OrbNetResponse> response;  // owns the bytes
    const char* data = nullptr;
    std::int64_t length = 0;
    int writesLeft = 0;  // GUI thread only
};

// "bytes <first>-<last>/<size>" naming exactly the range asked for.
bool rangeAnswered(const std::map<std::string, std::string>& headers, std::int64_t start, std::int64_t length)
{
    for (const auto& h : headers) {
        if (QByteArray::fromStdString(h.first).compare("Content-Range", Qt::CaseInsensitive) != 0)
            continue;
        const QByteArray value = QByteArray::fromStdString(h.second).trimmed();
        if (!value.startsWith("bytes "))
            return false;
        const QByteArray range = value.mid(6).split('/').value(0);
        const QList<QByteArray> ends = range.split('-');
        bool ok1 = false, ok2 = false;
        const qint64 first = ends.value(0).toLongLong(&ok1);
        const qint64 last = ends.value(1).toLongLong(&ok2);
        return ends.size() == 2 && ok1 && ok2 && first == start && last == start + length - 1;
    }
    return false;
}

QByteArray readSmall(const QString& path, std::int64_t cap)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() > cap)
        return QByteArray();
    return f.readAll();
}

} // namespace

class OrbDeliveryJobPrivate {
public:
    struct Pending {
        OrbDeliveryLocal::MissingChunk chunk;
        int urlIndex = 0;
        int failures = 0;   // transport failures
        int wrongHash = 0;  // bodies that were not the chunk
    };
    struct Active {
        std::shared_ptr<OrbNetDownload> download;   // a single chunk, into the cache
        std::shared_ptr<OrbNetResponse> response;   // a span, in memory
        Pending pending;               // a single chunk
        OrbDeliveryPack::Span span;    // or a run of chunks from a pack
        int base = 0;                  // the span's mirror
        qint64 size = 0;               // compressed bytes it brings
        qint64 received = 0;
        QString url;

        void close() const
        {
            if (download)
                download->Close();
            if (response)
                response->Close();
        }
    };

    OrbDeliveryJob* q;
    OrbNetwork* network;
    Op op = Op::None;
    bool finished = false;
    OrbDeliveryJob::Phase phase = OrbDeliveryJob::Idle;
    std::shared_ptr<Context> ctx;
    std::unique_ptr<QLockFile> lock;
    QFutureWatcher<WorkResult> watcher;
    bool workerRunning = false;
    OrbDeliveryJob::Stats stats;
    QStringList damaged, missing;

    // Chunk fetching.
    std::deque<Pending> queue;                  // single chunks (first choice: refetches, no pack)
    std::deque<OrbDeliveryPack::Span> spans;    // runs of chunks from the version's pack
    std::vector<bool> packUsable;               // per mirror: its pack has not failed yet
    qint64 heldBytes = 0;                       // see kHeldBytes
    std::map<int, Active> active;
    int nextFetchId = 0;
    QString failReason;  // set once the job is failing; the finish waits for the fetches to stop
    qint64 bytesTotal = 0, bytesDone = 0;
    QElapsedTimer clock;
    std::deque<std::pair<qint64, qint64>> samples;  // (ms, bytes done)
    qint64 lastReport = -1;

    // Building files while their chunks come in: chunk writes on their own pool, file
    // flushes (waiting on the disk, not the processor) on another.
    struct Fetched {
        Pending pending;  // as it was fetched, for a fetch from the next mirror
        QString url;
    };
    QThreadPool buildPool, flushPool;
    // Planning and staging run here rather than on Qt's global pool: every thread that used
    // OpenSSL is then joined with the job, never left to exit while the process tears
    // OpenSSL down (a double free in its thread-local cleanup).
    QThreadPool workPool;
    QHash<QByteArray, std::vector<std::pair<int, int>>> waiting;  // chunk -> (build, chunk index) needing it
    QSet<QByteArray> unavailable;                                 // chunks not fetched yet
    QHash<QByteArray, Fetched> fetchedChunks;                     // fetched by this run, not yet refused
    QHash<QByteArray, int> generation;                            // fetches of a chunk that came in
    int writesRunning = 0;
    QSet<QString> cacheDirs;
    bool committing = false;

    // Manifest fetching.
    int manifestBase = 0;
    std::shared_ptr<OrbNetDownload> manifestDownload;

    OrbDeliveryJobPrivate(OrbDeliveryJob* job, OrbNetwork* net) : q(job), network(net)
    {
        buildPool.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
        // Flushes wait on the disk, not the processor: several at once keep its queue full.
        flushPool.setMaxThreadCount(8);
        workPool.setMaxThreadCount(1);
    }

    bool idle() const { return active.empty() && !workerRunning && writesRunning == 0; }

    void setPhase(OrbDeliveryJob::Phase p)
    {
        if (phase == p)
            return;
        phase = p;
        emit q->phaseChanged(p);
    }

    void finish(bool ok, const QString& reason)
    {
        if (finished)
            return;
        finished = true;
        lock.reset();
        if (ok)
            setPhase(OrbDeliveryJob::Done);
        emit q->finished(ok, reason);
    }

    // The single way to fail once work may be in flight: stop it, then finish.
    void fail(const QString& reason)
    {
        if (finished)
            return;
        if (failReason.isEmpty())
            failReason = reason;
        if (ctx) {
            ctx->stopping = true;
            if (workerRunning)
                ctx->cancel = true;
        }
        queue.clear();
        spans.clear();
        if (manifestDownload) {
            manifestDownload->Close();
            return;  // its finish callback comes back here
        }
        for (auto& a : active)
            a.second.close();
        // Never inside the caller's own call (Cancel): the finish comes from the event loop.
        if (idle())
            QTimer::singleShot(0, q, [this] { finish(false, failReason); });
    }

    bool start(Op which, const OrbDeliveryOptions& options)
    {
        if (op != Op::None || !network)
            return false;
        if (options.folder.isEmpty() || options.game.isEmpty() || options.connections < 1)
            return false;
        if (which != Op::Verify && options.baseUrls.isEmpty())
            return false;
        if (which == Op::Install && !OrbDeliveryManifest::IsVersionName(options.version))
            return false;
        op = which;
        ctx = std::make_shared<Context>();
        ctx->options = options;
        ctx->options.folder = QDir::cleanPath(QDir(options.folder).absolutePath());
        ctx->hashEverything = which != Op::Install;
        QObject::connect(&watcher, &QFutureWatcher<WorkResult>::finished, q, [this] { onWorkDone(); });
        QTimer::singleShot(0, q, [this] { begin(); });
        return true;
    }

    void begin()
    {
        if (finished)
            return;
        if (!failReason.isEmpty()) {
            finish(false, failReason);
            return;
        }
        const QString folder = ctx->options.folder;
        if (op == Op::Install) {
            if (!QDir().mkpath(OrbDeliveryLocal::StateDir(folder))) {
                finish(false, QStringLiteral("cannot create the installation folder %1").arg(folder));
                return;
            }
        } else if (!QFileInfo(OrbDeliveryLocal::InstalledManifestPath(folder)).isFile()) {
            finish(false, QStringLiteral("no version is installed in %1").arg(folder));
            return;
        }
        lock = std::make_unique<QLockFile>(OrbDeliveryLocal::StateDir(folder) + QStringLiteral("/lock"));
        lock->setStaleLockTime(0);
        if (!lock->tryLock(0)) {
            lock.reset();
            finish(false, QStringLiteral("another job is working on %1").arg(folder));
            return;
        }
        if (op == Op::Install) {
            QDir().mkpath(incomingDir(folder));
            setPhase(OrbDeliveryJob::FetchingManifest);
            fetchManifest(false);
        } else {
            plan();
        }
    }

    // Manifest, then (with a key) its signature, from the first base URL that has both.
    void fetchManifest(bool signature)
    {
        const QString name = ctx->options.version + QStringLiteral(".manifest") + (signature ? QStringLiteral(".sig") : QString());
        const QString url = joinUrl(ctx->options.baseUrls.value(manifestBase), QStringLiteral("manifests/") + name);
        const QString path = incomingDir(ctx->options.folder) + QLatin1Char('/') + name;
        OrbNetDownloadReq req(url.toStdString(), path.toUtf8().toStdString(), DefaultNetConfig);
        req.SetMaxSize(signature ? kSignatureBytes : OrbDeliveryManifest::Limits().manifestBytes);
        req.SetDeadline(ctx->options.fetchDeadlineMs);
        req.SetTimeout(ctx->options.timeoutSeconds);
        manifestDownload = network->Download(req, false);
        const bool watched = OrbNetDownloadWatcher::Watch(manifestDownload, q, [this, signature, url](const std::shared_ptr<OrbNetDownload>& dl) {
            manifestDownload.reset();
            if (!failReason.isEmpty()) {
                fail(failReason);
                return;
            }
            if (dl->Error() != NetNoError) {
                if (++manifestBase < ctx->options.baseUrls.size()) {
                    fetchManifest(false);
                    return;
                }
                fail(QStringLiteral("cannot fetch the manifest of version %1 (%2: error %3)")
                         .arg(ctx->options.version, url).arg(int(dl->Error())));
                return;
            }
            if (!signature && !ctx->options.publicKeyPem.empty()) {
                fetchManifest(true);
                return;
            }
            plan();
        });
        if (!watched) {
            manifestDownload.reset();
            fail(QStringLiteral("cannot write %1").arg(path));
        }
    }

    void runWorker(std::function<WorkResult(Context&)> work)
    {
        workerRunning = true;
        std::shared_ptr<Context> c = ctx;
        watcher.setFuture(QtConcurrent::run(&workPool, [c, work] { return work(*c); }));
    }

    enum class Step { Plan, Stage } step = Step::Plan;

    void plan()
    {
        setPhase(OrbDeliveryJob::Planning);
        step = Step::Plan;
        const Op which = op;
        runWorker([which](Context& c) {
            WorkResult r;
            const QString folder = c.options.folder;
            if (!OrbDeliveryLocal::Recover(folder, &r.reason, c.options.stepHook))
                return r;
            QString why;
            QByteArray installedText;
            c.hasInstalled = OrbDeliveryLocal::LoadInstalled(folder, c.options.game, c.options.publicKeyPem, c.installed,
                                                           &installedText, &why);
            if (!c.hasInstalled && !why.isEmpty() && which != Op::Install) {
                r.reason = why;
                return r;
            }
            if (which == Op::Install) {
                const QString base = incomingDir(folder) + QLatin1Char('/') + c.options.version + QStringLiteral(".manifest");
                OrbDeliveryManifest::Expect expect;
                const QByteArray text = readSmall(base, expect.limits.manifestBytes);
                expect.publicPem = c.options.publicKeyPem;
                expect.signature = readSmall(base + QStringLiteral(".sig"), kSignatureBytes);
                expect.game = c.options.game;
                expect.minSerial = std::max<std::int64_t>(c.options.minSerial, c.hasInstalled ? c.installed.serial : 0);
                expect.now = QDateTime::currentSecsSinceEpoch();
                const QString declared = c.options.manifestSha256.trimmed().toLower();
                if (!declared.isEmpty() && QString::fromLatin1(OrbDeliveryHash::Sha256Hex(text)) != declared) {
                    QFile::remove(base);
                    QFile::remove(base + QStringLiteral(".sig"));
                    r.reason = QStringLiteral("manifest of version %1 refused: its SHA-256 is not the declared one")
                                   .arg(c.options.version);
                    return r;
                }
                OrbDeliveryManifest::Parsed parsed = OrbDeliveryManifest::Parse(text, expect);
                QFile::remove(base);
                QFile::remove(base + QStringLiteral(".sig"));
                if (!parsed.ok) {
                    r.reason = QStringLiteral("manifest of version %1 refused: %2").arg(c.options.version, parsed.reason);
                    return r;
                }
                if (parsed.manifest.version != c.options.version) {
                    r.reason = QStringLiteral("manifest refused: it is for version %1, not %2").arg(parsed.manifest.version, c.options.version);
                    return r;
                }
                c.target = std::move(parsed.manifest);
                c.targetText = text;
                c.signature = expect.signature;
            } else {
                if (!c.hasInstalled) {
                    r.reason = why.isEmpty() ? QStringLiteral("no version is installed") : why;
                    return r;
                }
                c.target = c.installed;
                c.targetText = installedText;
                c.signature = readSmall(OrbDeliveryLocal::InstalledManifestPath(folder) + QStringLiteral(".sig"), kSignatureBytes);
            }
            const QString reserved = OrbDeliveryLocal::CheckReserved(c.target);
            if (!reserved.isEmpty()) {
                r.reason = reserved;
                return r;
            }
            if (!OrbDeliveryLocal::MakePlan(c.input(), c.plan, &r.reason))
                return r;
            if (which != Op::Verify) {
                const std::int64_t need = c.plan.fetchBytes + c.plan.stageBytes;
                if (need > 0) {
                    const std::int64_t available = c.options.freeSpace ? c.options.freeSpace(folder)
                                                                       : QStorageInfo(folder).bytesAvailable();
                    if (available < need + kSpaceMargin) {
                        r.reason = QStringLiteral("not enough free space in %1: %2 MiB needed, %3 MiB available")
                                       .arg(folder)
                                       .arg((need + kSpaceMargin + (1 << 20) - 1) >> 20)
                                       .arg(std::max<std::int64_t>(available, 0) >> 20);
                        return r;
                    }
                }
            }
            r.ok = true;
            return r;
        });
    }

    void onWorkDone()
    {
        workerRunning = false;
        const WorkResult r = watcher.result();
        if (finished)
            return;
        if (!failReason.isEmpty()) {
            finish(false, failReason);
            return;
        }
        if (!r.ok) {
            finish(false, r.reason);
            return;
        }
        if (step == Step::Plan) {
            const OrbDeliveryLocal::Plan& p = ctx->plan;
            stats.filesKept = int(p.keep.size());
            stats.filesBuilt = int(p.stage.size() + p.staged.size());
            stats.chunksReused = p.reusedChunks;
            stats.chunksCached = p.cachedChunks;
            damaged = p.damaged;
            missing = p.absent;
            if (op != Op::Install)
                emit q->verifyReport(damaged, missing);
            if (op == Op::Verify) {
                finish(true, QString());
                return;
            }
            startFetching();
        } else {
            finish(true, QString());
        }
    }

    // Fetching and building overlap: every chunk write whose bytes are on disk (an old
    // file, the cache) starts at once, the others as soon as their chunk is fetched.
    void startFetching()
    {
        setPhase(OrbDeliveryJob::Fetching);
        Context& c = *ctx;
        c.buildInput = c.input();
        // Chunks come in runs from the version's pack; a mirror whose pack fails
        // serves them one by one.
        std::vector<std::int64_t> offsets, sizes;
        for (const OrbDeliveryLocal::MissingChunk& m : c.plan.missing) {
            offsets.push_back(m.packOffset);
            sizes.push_back(m.compressedSize);
            unavailable.insert(m.hash);
        }
        for (OrbDeliveryPack::Span& span : OrbDeliveryPack::Spans(offsets, sizes, kSpanBytes))
            spans.push_back(std::move(span));
        packUsable.assign(std::size_t(c.options.baseUrls.size()), true);
        for (int i : c.plan.stage)
            c.builds.push_back(std::make_unique<OrbDeliveryLocal::FileBuild>(c.buildInput, c.plan, i));
        for (int b = 0; b < int(c.builds.size()); ++b) {
            const OrbDeliveryFile& f = c.builds[std::size_t(b)]->File();
            if (f.chunks.empty())
                write(b, -1);
            for (int k = 0; k < int(f.chunks.size()); ++k) {
                const QByteArray& hash = f.chunks[std::size_t(k)].hash;
                if (unavailable.contains(hash) && !c.builds[std::size_t(b)]->Resumed(k))
                    waiting[hash].emplace_back(b, k);
                else
                    write(b, k);
            }
        }
        bytesTotal = c.plan.fetchBytes;
        bytesDone = 0;
        clock.start();
        report(true);
        pump();
    }

    // buf: the fetched piece of a pack holding the chunk's frame at offset (else the
    // chunk is read from where the plan found it, or the cache).
    void write(int build, int chunk, const std::shared_ptr<SpanBuffer>& buf = nullptr, qint64 offset = 0, qint64 size = 0)
    {
        ++writesRunning;
        if (buf)
            buf->writesLeft++;
        const int gen = chunk < 0 ? 0 : generation.value(ctx->builds[std::size_t(build)]->File().chunks[std::size_t(chunk)].hash);
        std::shared_ptr<Context> c = ctx;
        QThreadPool* flush = &flushPool;
        QPointer<OrbDeliveryJob> job(q);
        buildPool.start([c, build, chunk, gen, flush, job, buf, offset, size] {
            using Result = OrbDeliveryLocal::FileBuild::Result;
            OrbDeliveryLocal::FileBuild& b = *c->builds[std::size_t(build)];
            QString why;
            Result r = Result::Refused;
            if (buf) {
                r = b.Write(chunk, &why, buf->data + offset, size);
            } else if (c->stopping) {
                r = Result::Cancelled;
                why = QStringLiteral("cancelled");
            } else {
                r = b.Write(chunk, &why);
            }
            if (r == OrbDeliveryLocal::FileBuild::Result::Completed) {
                // On the disk before the journal names it; meanwhile the next chunks go on.
                const QString path = b.PartialPath();
                flush->start([c, path] {
                    if (!OrbDeliveryFiles::FlushFile(path)) {
                        std::lock_guard<std::mutex> guard(c->flushLock);
                        if (c->flushError.isEmpty())
                            c->flushError = QStringLiteral("cannot write %1 to the disk").arg(path);
                    }
                });
            }
            QMetaObject::invokeMethod(job.data(), [job, build, chunk, gen, r, why, buf] {
                if (job)
                    job->d->onWritten(build, chunk, gen, r, why, buf);
            }, Qt::QueuedConnection);
        });
    }

    // gen: the fetches of the chunk that had come in when the write started.
    void onWritten(int build, int chunk, int gen, OrbDeliveryLocal::FileBuild::Result r, const QString& why,
                   const std::shared_ptr<SpanBuffer>& buf)
    {
        using Result = OrbDeliveryLocal::FileBuild::Result;
        --writesRunning;
        if (buf && --buf->writesLeft == 0)
            release(*buf);
        if (finished)
            return;
        if (!failReason.isEmpty()) {
            fail(failReason);
            return;
        }
        if (r == Result::Failed || r == Result::Cancelled) {
            fail(why);
            return;
        }
        if (r == Result::Refused) {
            const OrbDeliveryLocal::FileBuild& b = *ctx->builds[std::size_t(build)];
            const OrbDeliveryChunk& c = b.File().chunks[std::size_t(chunk)];
            if (unavailable.contains(c.hash)) {  // already being fetched again
                waiting[c.hash].emplace_back(build, chunk);
                return;
            }
            if (gen != generation.value(c.hash)) {  // read before the chunk was fetched again
                write(build, chunk);
                return;
            }
            const OrbChunkStore cache(OrbDeliveryLocal::CacheRoot(ctx->options.folder));
            if (cache.Contains(c.hash))
                QFile::remove(cache.PathOf(c.hash));  // damaged on disk: fetched again next time
            auto it = fetchedChunks.find(c.hash);
            if (it == fetchedChunks.end()) {
                fail(QStringLiteral("chunk %1 of %2 is not available: %3").arg(QString::fromLatin1(c.hash), b.File().path, why));
                return;
            }
            // The body fetched was not the chunk: once more from the next mirror.
            const Fetched was = it.value();
            fetchedChunks.erase(it);
            stats.chunksFetched--;
            stats.bytesFetched -= was.pending.chunk.compressedSize;
            bytesDone -= was.pending.chunk.compressedSize;
            Pending next = was.pending;
            next.urlIndex++;
            next.wrongHash++;
            if (next.wrongHash >= 2) {
                fail(QStringLiteral("chunk %1 from %2 refused: %3").arg(QString::fromLatin1(c.hash), was.url, why));
                return;
            }
            stats.chunksRefetched++;
            unavailable.insert(c.hash);
            waiting[c.hash].emplace_back(build, chunk);
            queue.push_front(next);
            pump();
            return;
        }
        pump();  // room for the next span
    }

    void release(SpanBuffer& buf)
    {
        heldBytes -= buf.length;
        buf.data = nullptr;
        buf.response.reset();
    }

    int packMirror() const
    {
        for (std::size_t i = 0; i < packUsable.size(); ++i) {
            if (packUsable[i])
                return int(i);
        }
        return -1;
    }

    // Single chunks first: they are refetches, or there is no pack to take them from.
    void pump()
    {
        if (!failReason.isEmpty() || finished)
            return;
        while (int(active.size()) < ctx->options.connections) {
            if (!queue.empty()) {
                Pending p = queue.front();
                queue.pop_front();
                if (!fetch(p))
                    return;
                continue;
            }
            if (spans.empty())
                break;
            const int mirror = packMirror();
            if (mirror < 0) {
                for (const OrbDeliveryPack::Span& span : spans) {
                    for (int item : span.items)
                        queue.push_back(Pending{ctx->plan.missing[std::size_t(item)], 0, 0, 0});
                }
                spans.clear();
                continue;
            }
            if (heldBytes > 0 && heldBytes + spans.front().length > kHeldBytes)
                break;
            const OrbDeliveryPack::Span span = spans.front();
            spans.pop_front();
            if (!fetchSpan(span, mirror))
                return;
        }
        checkDone();
    }

    void checkDone()
    {
        if (!failReason.isEmpty() || finished || committing)
            return;
        if (!queue.empty() || !spans.empty() || !active.empty())
            return;
        setPhase(OrbDeliveryJob::Staging);
        if (writesRunning > 0)
            return;
        if (!waiting.empty()) {
            fail(QStringLiteral("chunk %1 was never fetched").arg(QString::fromLatin1(waiting.begin().key())));
            return;
        }
        committing = true;
        stage();
    }

    bool fetch(const Pending& p)
    {
        const OrbChunkStore cache(OrbDeliveryLocal::CacheRoot(ctx->options.folder));
        const QString finalPath = cache.PathOf(p.chunk.hash);
        const QString part = finalPath + QStringLiteral(".part");
        const QString dir = QFileInfo(finalPath).path();
        if (!cacheDirs.contains(dir)) {  // one of 256, made once
            QDir().mkpath(dir);
            cacheDirs.insert(dir);
        }
        const QStringList& bases = ctx->options.baseUrls;
        const QString url = joinUrl(bases.value(p.urlIndex % bases.size()), OrbChunkStore::RelativePath(p.chunk.hash));
        OrbNetDownloadReq req(url.toStdString(), part.toUtf8().toStdString(), DefaultNetConfig);
        req.SetMaxSize(p.chunk.compressedSize);
        req.SetDeadline(ctx->options.fetchDeadlineMs);
        req.SetTimeout(ctx->options.timeoutSeconds);
        const int id = ++nextFetchId;
        Active a;
        a.pending = p;
        a.size = p.chunk.compressedSize;
        a.url = url;
        a.download = network->Download(req, false);
        active[id] = a;
        const bool watched = OrbNetDownloadWatcher::Watch(
            a.download, q,
            [this, id, part, finalPath](const std::shared_ptr<OrbNetDownload>& dl) { onFetched(id, dl, part, finalPath); },
            [this, id](const std::shared_ptr<OrbNetDownload>&, long long offset, long long) {
                auto it = active.find(id);
                if (it != active.end()) {
                    it->second.received = offset;
                    report(false);
                }
            });
        if (!watched) {
            active.erase(id);
            fail(QStringLiteral("cannot write %1").arg(part));
            return false;
        }
        return true;
    }

    void onFetched(int id, const std::shared_ptr<OrbNetDownload>& dl, const QString& part, const QString& finalPath)
    {
        auto it = active.find(id);
        if (it == active.end())
            return;
        Active a = it->second;
        active.erase(it);
        if (!failReason.isEmpty()) {
            fail(failReason);
            return;
        }
        const OrbDeliveryLocal::MissingChunk& c = a.pending.chunk;
        const int mirrors = int(ctx->options.baseUrls.size());
        Pending next = a.pending;
        next.urlIndex++;
        if (dl->Error() != NetNoError) {
            QFile::remove(part);
            next.failures++;
            if (next.failures >= std::max(2, mirrors)) {
                fail(QStringLiteral("cannot fetch chunk %1 (%2: error %3)").arg(QString::fromLatin1(c.hash), a.url).arg(int(dl->Error())));
                return;
            }
            stats.chunksRefetched++;
            queue.push_front(next);
            pump();
            return;
        }
        QString moveError;
        if (!OrbDeliveryLocal::Rename(part, finalPath, &moveError)) {
            fail(QStringLiteral("cannot store chunk %1: %2").arg(QString::fromLatin1(c.hash), moveError));
            return;
        }
        // Its bytes are checked against its hash where they are used: decompressed to be written.
        stats.chunksFetched++;
        stats.bytesFetched += c.compressedSize;
        bytesDone += c.compressedSize;
        fetchedChunks.insert(c.hash, Fetched{a.pending, a.url});
        unavailable.remove(c.hash);
        generation[c.hash]++;
        if (ctx->options.stepHook)
            ctx->options.stepHook(QStringLiteral("fetched:") + QString::fromLatin1(c.hash));
        report(true);
        if (!failReason.isEmpty())
            return;
        const QByteArray hash = c.hash;
        for (const auto& w : waiting.take(hash))
            write(w.first, w.second);
        pump();
    }

    bool fetchSpan(const OrbDeliveryPack::Span& span, int mirror)
    {
        const int id = ++nextFetchId;
        const QString url = joinUrl(ctx->options.baseUrls.value(mirror), OrbDeliveryPack::RelativePath(ctx->target.version));
        OrbNetRequest req(DefaultNetConfig);
        req.SetMethod(HttpGet).SetUrl(url.toStdString(), false);
        req.AddHeader("Range", "bytes=" + std::to_string(span.start) + "-" + std::to_string(span.start + span.length - 1));
        req.SetMaxSize(span.length);
        req.SetDeadline(ctx->options.fetchDeadlineMs);
        req.SetTimeout(ctx->options.timeoutSeconds);
        Active a;
        a.span = span;
        a.base = mirror;
        a.size = span.length;
        a.url = url;
        a.response = network->Do(req);
        active[id] = a;
        heldBytes += span.length;
        OrbNetResponseWatcher::Watch(
            a.response, q, [this, id](const std::shared_ptr<OrbNetResponse>& r) { onSpanFetched(id, r); },
            [this, id](const std::shared_ptr<OrbNetResponse>&, long long received, long long) {
                auto it = active.find(id);
                if (it != active.end()) {
                    it->second.received = received;
                    report(false);
                }
            });
        return true;
    }

    void onSpanFetched(int id, const std::shared_ptr<OrbNetResponse>& r)
    {
        auto it = active.find(id);
        if (it == active.end())
            return;
        const Active a = it->second;
        active.erase(it);
        const std::vector<OrbDeliveryLocal::MissingChunk>& missingChunks = ctx->plan.missing;
        const bool whole = r->Error() == NetNoError && r->StatusCode() == 206 && r->GetBodyLen() == a.size &&
                           rangeAnswered(r->GetHeaders(), a.span.start, a.size);
        if (!failReason.isEmpty() || !whole) {
            heldBytes -= a.size;
            if (!failReason.isEmpty()) {
                fail(failReason);
                return;
            }
            // No pack there, a server that ignores ranges, another length, a cut: this
            // mirror's chunks come one by one from now on, with their own retries.
            packUsable[std::size_t(a.base)] = false;
            for (auto item = a.span.items.rbegin(); item != a.span.items.rend(); ++item)
                queue.push_front(Pending{missingChunks[std::size_t(*item)], a.base, 0, 0});
            pump();
            return;
        }
        auto buf = std::make_shared<SpanBuffer>();
        buf->response = r;
        buf->data = reinterpret_cast<const char*>(r->GetBodyData());
        buf->length = a.size;
        qint64 offset = 0;
        for (int item : a.span.items) {
            const OrbDeliveryLocal::MissingChunk& m = missingChunks[std::size_t(item)];
            // Each chunk's bytes are checked against its hash where they are used.
            stats.chunksFetched++;
            stats.bytesFetched += m.compressedSize;
            bytesDone += m.compressedSize;
            fetchedChunks.insert(m.hash, Fetched{Pending{m, a.base, 0, 0}, a.url});
            unavailable.remove(m.hash);
            generation[m.hash]++;
            if (ctx->options.stepHook)
                ctx->options.stepHook(QStringLiteral("fetched:") + QString::fromLatin1(m.hash));
            const auto writes = waiting.take(m.hash);
            if (failReason.isEmpty()) {
                for (const auto& w : writes)
                    write(w.first, w.second, buf, offset, m.compressedSize);
            }
            offset += m.compressedSize;
        }
        if (buf->writesLeft == 0)
            release(*buf);
        report(true);
        pump();
    }

    void report(bool force)
    {
        qint64 done = bytesDone;
        for (const auto& a : active)
            done += std::min<qint64>(a.second.received, a.second.size);
        const qint64 now = clock.isValid() ? clock.elapsed() : 0;
        if (!force && lastReport >= 0 && now - lastReport < 100)
            return;
        lastReport = now;
        samples.emplace_back(now, done);
        while (samples.size() > 2 && now - samples.front().first > 5000)
            samples.pop_front();
        qint64 speed = 0;
        const qint64 span = now - samples.front().first;
        if (span > 0)
            speed = (done - samples.front().second) * 1000 / span;
        const qint64 left = speed > 0 ? (bytesTotal - done + speed - 1) / speed : (done >= bytesTotal ? 0 : -1);
        emit q->progress(done, bytesTotal, speed, left);
    }

    void stage()
    {
        setPhase(OrbDeliveryJob::Staging);
        step = Step::Stage;
        // Committing follows staging on the same worker; the phase is announced from there.
        QPointer<OrbDeliveryJob> job(q);
        QThreadPool* flush = &flushPool;
        runWorker([job, flush](Context& c) {
            WorkResult r;
            const OrbDeliveryLocal::PlanInput in = c.input();
            flush->waitForDone();
            {
                std::lock_guard<std::mutex> guard(c.flushLock);
                if (!c.flushError.isEmpty()) {
                    r.reason = c.flushError;
                    return r;
                }
            }
            if (!OrbDeliveryLocal::FinishStaging(in, c.plan, &r.reason, c.options.stepHook))
                return r;
            if (c.cancel) {
                r.reason = QStringLiteral("cancelled");
                return r;
            }
            QMetaObject::invokeMethod(job.data(), [job] {
                if (job)
                    job->d->setPhase(OrbDeliveryJob::Committing);
            }, Qt::QueuedConnection);
            r.ok = OrbDeliveryLocal::Commit(in, c.plan, c.signature, &r.reason, c.options.stepHook);
            return r;
        });
    }
};

OrbDeliveryJob::OrbDeliveryJob(OrbNetwork* network, QObject* parent)
    : QObject(parent), d(std::make_unique<OrbDeliveryJobPrivate>(this, network))
{
}

OrbDeliveryJob::~OrbDeliveryJob()
{
    if (d->ctx)
        d->ctx->cancel = true;
    if (d->manifestDownload)
        d->manifestDownload->Close();
    for (auto& a : d->active)
        a.second.close();
    d->buildPool.waitForDone();
    d->flushPool.waitForDone();
    d->watcher.waitForFinished();
}

bool OrbDeliveryJob::Install(const OrbDeliveryOptions& options) { return d->start(Op::Install, options); }
bool OrbDeliveryJob::Verify(const OrbDeliveryOptions& options) { return d->start(Op::Verify, options); }
bool OrbDeliveryJob::Repair(const OrbDeliveryOptions& options) { return d->start(Op::Repair, options); }

void OrbDeliveryJob::Cancel()
{
    if (d->op == Op::None || d->finished)
        return;
    d->fail(QStringLiteral("cancelled"));
}

OrbDeliveryJob::Phase OrbDeliveryJob::CurrentPhase() const { return d->phase; }
OrbDeliveryJob::Stats OrbDeliveryJob::Statistics() const { return d->stats; }
QStringList OrbDeliveryJob::Damaged() const { return d->damaged; }
QStringList OrbDeliveryJob::Missing() const { return d->missing; }

QString OrbDeliveryJob::InstalledVersion(const QString& folder)
{
    if (!Recover(folder))
        return QString();
    OrbDeliveryManifest m;
    if (!OrbDeliveryLocal::LoadInstalled(folder, QString(), std::string(), m, nullptr, nullptr))
        return QString();
    return m.version;
}

bool OrbDeliveryJob::Recover(const QString& folder, QString* reason)
{
    return OrbDeliveryLocal::Recover(QDir::cleanPath(QDir(folder).absolutePath()), reason);
}
