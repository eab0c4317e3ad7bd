#include "OrbDeliveryLocal.h"

#include "OrbChunkStore.h"
#include "OrbDeliveryPack.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace OrbDeliveryLocal {

namespace {

constexpr char kJournalHeader[] = "OrbDeliveryJournal=1";
constexpr qint64 kReadPiece = 1 << 20;

void fail(QString* reason, const QString& text)
{
    if (reason)
        *reason = text;
}

fs::path fsPath(const QString& path)
{
#ifdef Q_OS_WIN
    return fs::path(path.toStdWString());
#else
    return fs::path(QFile::encodeName(path).toStdString());
#endif
}

// Also true for a dangling link: anything that occupies the name.
bool present(const QString& path)
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(fsPath(path), ec));
}

bool isFile(const QString& path)
{
    std::error_code ec;
    return fs::is_regular_file(fs::symlink_status(fsPath(path), ec));
}

bool removeAny(const QString& path)
{
    std::error_code ec;
    fs::remove_all(fsPath(path), ec);
    return !ec;
}

// rename(2): replaces a file at the target in one step.
bool moveTo(const QString& from, const QString& to, QString* reason)
{
    QDir().mkpath(QFileInfo(to).path());
    std::error_code ec;
    if (fs::is_directory(fs::symlink_status(fsPath(to), ec)))
        removeAny(to);
    fs::rename(fsPath(from), fsPath(to), ec);
    if (ec) {
        fail(reason, QStringLiteral("cannot move %1 to %2: %3").arg(from, to, QString::fromStdString(ec.message())));
        return false;
    }
    return true;
}

QString decodePath(const QByteArray& encoded) { return QString::fromUtf8(QByteArray::fromPercentEncoding(encoded)); }

bool cancelled(const std::atomic<bool>* cancel) { return cancel && cancel->load(); }

void setMode(const QString& path, bool executable)
{
    const QFileDevice::Permissions exec = QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;
    const QFileDevice::Permissions now = QFile::permissions(path);
    const QFileDevice::Permissions want = executable ? (now | exec) : (now & ~(exec | QFileDevice::ExeUser));
    if (want != now)
        QFile::setPermissions(path, want);
}

bool isExecutable(const QString& path) { return QFile::permissions(path) & QFileDevice::ExeOwner; }

// A chunk's bytes from an old file, only if they still match its hash.
bool readSource(const QString& folder, const Source& src, const QByteArray& hash, std::int64_t size, QByteArray& out)
{
    QFile f(folder + QLatin1Char('/') + src.path);
    if (!f.open(QIODevice::ReadOnly) || !f.seek(src.offset))
        return false;
    out = f.read(size);
    return out.size() == size && OrbDeliveryHash::Sha256Hex(out) == hash;
}

struct Journal {
    QString staging;
    QStringList replace, remove, folders, rmdirs;
    QStringList modeExec, modePlain;
};

QString journalPath(const QString& folder) { return StateDir(folder) + QStringLiteral("/journal"); }

bool readJournal(const QString& folder, Journal& j, QString* reason)
{
    QFile f(journalPath(folder));
    if (!f.open(QIODevice::ReadOnly)) {
        fail(reason, QStringLiteral("cannot read the update journal: %1").arg(f.errorString()));
        return false;
    }
    const QList<QByteArray> lines = f.readAll().split('\n');
    if (lines.isEmpty() || lines.first() != kJournalHeader) {
        fail(reason, QStringLiteral("unreadable update journal"));
        return false;
    }
    for (const QByteArray& line : lines.mid(1)) {
        const int sp = line.indexOf(' ');
        if (sp <= 0)
            continue;
        const QByteArray key = line.left(sp);
        const QString value = decodePath(line.mid(sp + 1));
        // A journal is ours, but a path in it must still stay inside the folder.
        if (key != "staging" && !OrbDeliveryManifest::CheckPath(value, OrbDeliveryManifest::Limits()).isEmpty()) {
            fail(reason, QStringLiteral("update journal names a bad path"));
            return false;
        }
        if (key == "staging") {
            if (!value.startsWith(QLatin1String("staging-")) || value.contains(QLatin1Char('/'))) {
                fail(reason, QStringLiteral("update journal names a bad staging folder"));
                return false;
            }
            j.staging = value;
        } else if (key == "replace") j.replace << value;
        else if (key == "remove") j.remove << value;
        else if (key == "folder") j.folders << value;
        else if (key == "rmdir") j.rmdirs << value;
        else if (key == "exec") j.modeExec << value;
        else if (key == "plain") j.modePlain << value;
    }
    if (j.staging.isEmpty()) {
        fail(reason, QStringLiteral("update journal without a staging folder"));
        return false;
    }
    return true;
}

// Idempotent: a run killed anywhere in here is finished by running it again.
bool rollForward(const QString& folder, const Journal& j, QString* reason, const StepHook& hook)
{
    const QString state = StateDir(folder);
    const QString aside = state + QStringLiteral("/aside/");
    const QString staging = state + QLatin1Char('/') + j.staging + QLatin1Char('/');
    const QString root = folder + QLatin1Char('/');

    for (const QString& p : j.remove) {
        if (present(root + p) && !moveTo(root + p, aside + p, reason))
            return false;
    }
    for (const QString& p : j.replace) {
        if (!isFile(staging + p))
            continue;  // moved in by an earlier run
        if (present(root + p) && !moveTo(root + p, aside + p, reason))
            return false;
        if (!moveTo(staging + p, root + p, reason))
            return false;
        if (hook)
            hook(QStringLiteral("moved:") + p);
    }
    for (const QString& p : j.modeExec)
        setMode(root + p, true);
    for (const QString& p : j.modePlain)
        setMode(root + p, false);
    for (const QString& p : j.folders)
        QDir().mkpath(root + p);

    const QString pending = state + QStringLiteral("/pending.manifest");
    if (isFile(pending)) {
        if (isFile(pending + QStringLiteral(".sig")) &&
            !moveTo(pending + QStringLiteral(".sig"), InstalledManifestPath(folder) + QStringLiteral(".sig"), reason))
            return false;
        if (!moveTo(pending, InstalledManifestPath(folder), reason))
            return false;
    }
    if (hook)
        hook(QStringLiteral("installed"));

    // Folders the old version had and the new one does not, if nothing else lives there.
    const QSet<QString> keepFolders(j.folders.begin(), j.folders.end());
    QStringList candidates = j.rmdirs;
    for (const QString& p : j.remove)
        candidates << QFileInfo(p).path();
    for (const QString& p : candidates) {
        QString dir = p;
        while (!dir.isEmpty() && dir != QLatin1String(".") && !keepFolders.contains(dir)) {
            if (!QDir(root).rmdir(dir))
                break;
            dir = QFileInfo(dir).path();
        }
    }
    removeAny(state + QStringLiteral("/aside"));
    removeAny(state + QLatin1Char('/') + j.staging);
    removeAny(state + QStringLiteral("/partial-") + j.staging.mid(int(qstrlen("staging-"))));
    removeAny(CacheRoot(folder));
    removeAny(state + QStringLiteral("/incoming"));
    if (!QFile::remove(journalPath(folder)) && present(journalPath(folder))) {
        fail(reason, QStringLiteral("cannot remove the update journal"));
        return false;
    }
    if (hook)
        hook(QStringLiteral("committed"));
    return true;
}

} // namespace

QString StateName() { return QStringLiteral(".orbdelivery"); }
QString StateDir(const QString& folder) { return folder + QLatin1Char('/') + StateName(); }
QString InstalledManifestPath(const QString& folder) { return StateDir(folder) + QStringLiteral("/installed.manifest"); }
QString CacheRoot(const QString& folder) { return StateDir(folder) + QStringLiteral("/chunks"); }

bool LoadInstalled(const QString& folder, const QString& game, const std::string& publicPem, OrbDeliveryManifest& out,
                   QByteArray* text, QString* reason)
{
    fail(reason, QString());
    QFile f(InstalledManifestPath(folder));
    if (!f.exists())
        return false;
    OrbDeliveryManifest::Expect expect;
    if (!f.open(QIODevice::ReadOnly) || f.size() > expect.limits.manifestBytes) {
        fail(reason, QStringLiteral("cannot read the installed manifest"));
        return false;
    }
    const QByteArray data = f.readAll();
    QFile sig(InstalledManifestPath(folder) + QStringLiteral(".sig"));
    expect.publicPem = publicPem;
    if (!publicPem.empty() && sig.open(QIODevice::ReadOnly))
        expect.signature = sig.read(64 * 1024);
    expect.game = game;
    expect.now = 0;  // an installed version stays installed after its manifest expired
    OrbDeliveryManifest::Parsed parsed = OrbDeliveryManifest::Parse(data, expect);
    if (!parsed.ok) {
        fail(reason, QStringLiteral("installed manifest refused: %1").arg(parsed.reason));
        return false;
    }
    out = std::move(parsed.manifest);
    if (text)
        *text = data;
    return true;
}

bool Recover(const QString& folder, QString* reason, const StepHook& hook)
{
    if (!present(journalPath(folder)))
        return true;
    Journal j;
    if (!readJournal(folder, j, reason))
        return false;
    return rollForward(folder, j, reason, hook);
}

bool Rename(const QString& from, const QString& to, QString* reason) { return moveTo(from, to, reason); }

bool HashFile(const QString& path, std::int64_t size, QByteArray& hex, const std::atomic<bool>* cancel)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() != size)
        return false;
    OrbDeliveryHash::Sha256 h;
    QByteArray buffer(int(kReadPiece), Qt::Uninitialized);
    std::int64_t total = 0;
    for (;;) {
        if (cancelled(cancel))
            return false;
        const qint64 n = f.read(buffer.data(), kReadPiece);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        h.Add(buffer.constData(), std::size_t(n));
        total += n;
    }
    hex = h.HexResult();
    return total == size;
}

QString CheckReserved(const OrbDeliveryManifest& manifest)
{
    auto reserved = [](const QString& p) {
        return p.section(QLatin1Char('/'), 0, 0).compare(StateName(), Qt::CaseInsensitive) == 0;
    };
    for (const OrbDeliveryFile& f : manifest.files) {
        if (reserved(f.path))
            return QStringLiteral("manifest names the launcher's own folder: %1").arg(f.path);
    }
    for (const QString& p : manifest.folders) {
        if (reserved(p))
            return QStringLiteral("manifest names the launcher's own folder: %1").arg(p);
    }
    return QString();
}

bool MakePlan(const PlanInput& in, Plan& plan, QString* reason)
{
    plan = Plan();
    const QString state = StateDir(in.folder);
    const QString tag = QString::fromLatin1(
        QCryptographicHash::hash(in.targetText, QCryptographicHash::Sha256).toHex().left(16));
    plan.staging = state + QStringLiteral("/staging-") + tag;
    plan.partial = state + QStringLiteral("/partial-") + tag;
    // Staging of another version is of no use any more; its chunks stay in the cache.
    // Files a stopped run of this version left half built keep the chunks they hold.
    const QStringList stale = QDir(state).entryList({QStringLiteral("staging-*"), QStringLiteral("partial-*")},
                                                    QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& s : stale) {
        const QString dir = state + QLatin1Char('/') + s;
        if (dir != plan.staging && dir != plan.partial)
            removeAny(dir);
    }
    const OrbDeliveryPack::Layout pack = OrbDeliveryPack::LayoutOf(*in.target);
    const QString partialRel = StateName() + QStringLiteral("/partial-") + tag + QLatin1Char('/');

    const QString root = in.folder + QLatin1Char('/');
    QHash<QString, const OrbDeliveryFile*> old;
    // Every place an installed file holds a chunk: a damaged copy must not hide an intact one.
    QHash<QByteArray, QList<Source>> candidates;
    if (in.installed) {
        for (const OrbDeliveryFile& f : in.installed->files) {
            old.insert(f.path, &f);
            if (!isFile(root + f.path))
                continue;
            for (const OrbDeliveryChunk& c : f.chunks)
                candidates[c.hash].append(Source{f.path, c.offset});
        }
    }

    const OrbChunkStore cache(CacheRoot(in.folder));
    QSet<QByteArray> missingSeen;
    for (int i = 0; i < int(in.target->files.size()); ++i) {
        if (cancelled(in.cancel)) {
            fail(reason, QStringLiteral("cancelled"));
            return false;
        }
        const OrbDeliveryFile& f = in.target->files[std::size_t(i)];
        const QString path = root + f.path;
        const OrbDeliveryFile* was = old.value(f.path, nullptr);
        const bool expected = was && was->sha256 == f.sha256 && was->size == f.size;

        if (isFile(plan.staging + QLatin1Char('/') + f.path) &&
            QFileInfo(plan.staging + QLatin1Char('/') + f.path).size() == f.size) {
            plan.staged.push_back(i);  // staged files are complete: written under another name, then renamed
            continue;
        }
        bool intact = false;
        if (!present(path)) {
            if (expected)
                plan.absent << f.path;
        } else if (isFile(path) && QFileInfo(path).size() == f.size) {
            if (expected && !in.hashEverything) {
                intact = true;
            } else {
                QByteArray hex;
                intact = HashFile(path, f.size, hex, in.cancel) && hex == f.sha256;
                if (cancelled(in.cancel)) {
                    fail(reason, QStringLiteral("cancelled"));
                    return false;
                }
            }
            if (!intact && expected)
                plan.damaged << f.path;
        } else if (expected) {
            plan.damaged << f.path;
        }
        if (intact) {
            plan.keep.push_back(i);
            continue;
        }

        plan.stage.push_back(i);
        plan.stageBytes += f.size;
        const bool hasPartial = isFile(plan.partial + QLatin1Char('/') + f.path);
        for (std::size_t k = 0; k < f.chunks.size(); ++k) {
            const OrbDeliveryChunk& c = f.chunks[k];
            if (plan.sources.contains(c.hash) || missingSeen.contains(c.hash))
                continue;
            if (cache.Contains(c.hash)) {
                QByteArray bytes;
                if (cache.Get(c.hash, c.size, bytes)) {
                    ++plan.cachedChunks;
                    plan.sources.insert(c.hash, Source());  // empty path: from the cache
                    continue;
                }
                QFile::remove(cache.PathOf(c.hash));  // damaged since it was fetched
            }
            if (hasPartial) {
                // Written there by an interrupted run: it stays, and serves other files too.
                const Source own{partialRel + f.path, c.offset};
                QByteArray bytes;
                if (readSource(in.folder, own, c.hash, c.size, bytes)) {
                    std::vector<bool>& flags = plan.resumed[i];
                    flags.resize(f.chunks.size(), false);
                    flags[k] = true;
                    ++plan.reusedChunks;
                    plan.sources.insert(c.hash, own);
                    continue;
                }
            }
            bool found = false;
            for (const Source& src : candidates.value(c.hash)) {
                QByteArray bytes;
                if (readSource(in.folder, src, c.hash, c.size, bytes)) {
                    ++plan.reusedChunks;
                    plan.sources.insert(c.hash, src);
                    found = true;
                    break;
                }
            }
            if (found)
                continue;
            missingSeen.insert(c.hash);
            plan.missing.push_back(MissingChunk{c.hash, c.size, c.compressedSize, pack.offsets.value(c.hash)});
            plan.fetchBytes += c.compressedSize;
        }
    }
    for (const QString& d : in.target->folders) {
        if (!QFileInfo(root + d).isDir())
            plan.absent << d;
    }
    return true;
}

FileBuild::FileBuild(const PlanInput& in, const Plan& plan, int fileIndex)
    : m_in(in), m_plan(plan), m_file(&in.target->files[std::size_t(fileIndex)])
{
    m_partial = plan.partial + QLatin1Char('/') + m_file->path;
    m_written.assign(m_file->chunks.size(), false);
    m_resumed = plan.resumed.value(fileIndex);
    m_resumed.resize(m_file->chunks.size(), false);
}

bool FileBuild::Resumed(int chunk) const { return chunk >= 0 && m_resumed[std::size_t(chunk)]; }

FileBuild::Result FileBuild::Write(int chunk, QString* reason, const char* frame, std::int64_t frameSize)
{
    if (cancelled(m_in.cancel)) {
        fail(reason, QStringLiteral("cancelled"));
        return Result::Cancelled;
    }
    QByteArray bytes;
    const bool resumed = Resumed(chunk);  // checked against its hash when the plan was made
    if (chunk >= 0 && !resumed) {
        const OrbDeliveryChunk& c = m_file->chunks[std::size_t(chunk)];
        QString why;
        bool ok = false;
        if (frame) {
            ok = OrbChunkStore::Decode(c.hash, c.size, frame, frameSize, bytes, &why);
        } else {
            const Source src = m_plan.sources.value(c.hash);
            if (!src.path.isEmpty())
                ok = readSource(m_in.folder, src, c.hash, c.size, bytes);
            if (!ok)
                ok = OrbChunkStore(CacheRoot(m_in.folder)).Get(c.hash, c.size, bytes, &why);
        }
        if (!ok) {
            fail(reason, why.isEmpty() ? QStringLiteral("changed on disk") : why);
            return Result::Refused;
        }
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_created) {
            // A partial copy an earlier run left keeps its chunks; anything else starts empty.
            const bool keep = std::find(m_resumed.begin(), m_resumed.end(), true) != m_resumed.end();
            QFile out(m_partial);
            if (!QDir().mkpath(QFileInfo(m_partial).path()) ||
                !out.open(keep ? QIODevice::ReadWrite : (QIODevice::WriteOnly | QIODevice::Truncate)) ||
                (keep && out.size() > m_file->size && !out.resize(m_file->size))) {
                fail(reason, QStringLiteral("cannot write %1: %2").arg(m_partial, out.errorString()));
                return Result::Failed;
            }
            m_created = true;
        }
    }
    if (chunk >= 0 && !resumed) {
        // Several threads write one file through handles of their own, each at its offset.
        const OrbDeliveryChunk& c = m_file->chunks[std::size_t(chunk)];
        QFile out(m_partial);
        if (!out.open(QIODevice::ReadWrite | QIODevice::ExistingOnly) || !out.seek(c.offset) || out.write(bytes) != bytes.size()) {
            fail(reason, QStringLiteral("cannot write %1: %2").arg(m_partial, out.errorString()));
            return Result::Failed;
        }
    }
    // Every chunk was checked against its hash on its way in and the manifest's chunks
    // tile the file, so a file whose chunks are all written is the file the manifest
    // names; hashing it whole once more would double the cost of building it.
    std::lock_guard<std::mutex> guard(m_lock);
    if (chunk >= 0) {
        if (!m_written[std::size_t(chunk)]) {
            m_written[std::size_t(chunk)] = true;
            ++m_done;
        }
        if (m_done < m_written.size())
            return Result::Written;
    }
    return Result::Completed;
}

bool FinishStaging(const PlanInput& in, const Plan& plan, QString* reason, const StepHook& hook)
{
    for (int i : plan.stage) {
        if (cancelled(in.cancel)) {
            fail(reason, QStringLiteral("cancelled"));
            return false;
        }
        const OrbDeliveryFile& f = in.target->files[std::size_t(i)];
        const QString target = plan.staging + QLatin1Char('/') + f.path;
        if (!moveTo(plan.partial + QLatin1Char('/') + f.path, target, reason))
            return false;
        setMode(target, f.executable);
        if (hook)
            hook(QStringLiteral("staged:") + f.path);
    }
    removeAny(plan.partial);
    return true;
}

bool Commit(const PlanInput& in, const Plan& plan, const QByteArray& signature, QString* reason, const StepHook& hook)
{
    const QString state = StateDir(in.folder);
    const QString root = in.folder + QLatin1Char('/');
    auto writeWhole = [reason](const QString& path, const QByteArray& data) {
        QSaveFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size() || !f.commit()) {
            fail(reason, QStringLiteral("cannot write %1: %2").arg(path, f.errorString()));
            return false;
        }
        return true;
    };
    if (!writeWhole(state + QStringLiteral("/pending.manifest"), in.targetText))
        return false;
    if (!signature.isEmpty() && !writeWhole(state + QStringLiteral("/pending.manifest.sig"), signature))
        return false;

    QByteArray journal = QByteArray(kJournalHeader) + '\n';
    journal += "staging " + QFileInfo(plan.staging).fileName().toUtf8() + '\n';
    QSet<QString> newPaths;
    for (const OrbDeliveryFile& f : in.target->files)
        newPaths.insert(f.path);
    QSet<QString> newFolders(in.target->folders.begin(), in.target->folders.end());
    if (in.installed) {
        for (const OrbDeliveryFile& f : in.installed->files) {
            if (!newPaths.contains(f.path))
                journal += "remove " + OrbDeliveryManifest::EncodePath(f.path) + '\n';
        }
        for (const QString& d : in.installed->folders) {
            if (!newFolders.contains(d))
                journal += "rmdir " + OrbDeliveryManifest::EncodePath(d) + '\n';
        }
    }
    for (const std::vector<int>* list : {&plan.staged, &plan.stage}) {
        for (int i : *list)
            journal += "replace " + OrbDeliveryManifest::EncodePath(in.target->files[std::size_t(i)].path) + '\n';
    }
    for (int i : plan.keep) {
        const OrbDeliveryFile& f = in.target->files[std::size_t(i)];
        if (isExecutable(root + f.path) != f.executable)
            journal += QByteArray(f.executable ? "exec " : "plain ") + OrbDeliveryManifest::EncodePath(f.path) + '\n';
    }
    for (const QString& d : in.target->folders)
        journal += "folder " + OrbDeliveryManifest::EncodePath(d) + '\n';
    if (!writeWhole(journalPath(in.folder), journal))
        return false;
    if (hook)
        hook(QStringLiteral("journal"));

    Journal j;
    if (!readJournal(in.folder, j, reason))
        return false;
    return rollForward(in.folder, j, reason, hook);
}

} // namespace OrbDeliveryLocal
