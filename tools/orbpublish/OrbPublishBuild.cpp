#include "OrbPublishBuild.h"

#include "OrbChunkStore.h"
#include "OrbChunker.h"
#include "OrbDeliveryManifest.h"
#include "OrbDeliveryPack.h"
#include "OrbSignature.h"
#include "OrbSignedSettings.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cstdio>

namespace {

constexpr qint64 kReadBlock = 1 << 20;

struct Totals {
    std::int64_t chunks = 0;
    std::int64_t added = 0;
    std::int64_t addedBytes = 0;
};

void complain(const QString& text) { std::fprintf(stderr, "orbpublish: %s\n", qPrintable(text)); }

// Files and empty folders below root in byte order of their paths; refuses links
// and anything that is neither a file nor a folder.
bool collect(const QString& root, const QString& relative, QStringList& files, QStringList& folders)
{
    const QDir dir(relative.isEmpty() ? root : root + QLatin1Char('/') + relative);
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    if (entries.isEmpty() && !relative.isEmpty()) {
        folders.append(relative);
        return true;
    }
    QStringList names;
    for (const QFileInfo& fi : entries)
        names.append(fi.fileName());
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) { return a.toUtf8() < b.toUtf8(); });
    for (const QString& name : names) {
        const QString rel = relative.isEmpty() ? name : relative + QLatin1Char('/') + name;
        const QFileInfo fi(root + QLatin1Char('/') + rel);
        if (fi.isSymLink() || fi.isJunction()) {
            complain(QStringLiteral("refusing a link inside the game folder: %1").arg(rel));
            return false;
        }
        if (fi.isDir()) {
            if (!collect(root, rel, files, folders))
                return false;
        } else if (fi.isFile()) {
            files.append(rel);
        } else {
            complain(QStringLiteral("refusing a special file inside the game folder: %1").arg(rel));
            return false;
        }
    }
    return true;
}

bool storeChunk(OrbChunkStore& store, const QByteArray& bytes, std::int64_t offset, OrbDeliveryFile& file, Totals& totals)
{
    OrbChunkStore::Stored stored;
    QString error;
    if (!store.Put(bytes, stored, &error)) {
        complain(error);
        return false;
    }
    OrbDeliveryChunk c;
    c.hash = stored.hash;
    c.offset = offset;
    c.size = bytes.size();
    c.compressedSize = stored.compressedSize;
    file.chunks.push_back(c);
    ++totals.chunks;
    if (stored.added) {
        ++totals.added;
        totals.addedBytes += stored.compressedSize;
    }
    return true;
}

// Streams one file through the chunker: memory stays at about two chunks.
bool chunkFile(const QString& path, OrbChunkStore& store, OrbDeliveryFile& file, Totals& totals)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        complain(QStringLiteral("cannot read %1: %2").arg(path, in.errorString()));
        return false;
    }
    OrbChunker chunker;
    OrbDeliveryHash::Sha256 whole;
    QByteArray pending;           // bytes of the current, unfinished chunk
    std::int64_t pendingAt = 0;   // its offset in the file
    std::vector<std::uint64_t> cuts;
    for (;;) {
        const QByteArray block = in.read(kReadBlock);
        if (block.isEmpty()) {
            if (in.error() != QFileDevice::NoError) {
                complain(QStringLiteral("cannot read %1: %2").arg(path, in.errorString()));
                return false;
            }
            break;
        }
        whole.Add(block.constData(), std::size_t(block.size()));
        cuts.clear();
        chunker.Feed(reinterpret_cast<const unsigned char*>(block.constData()), std::size_t(block.size()), cuts);
        pending += block;
        std::int64_t used = 0;
        for (std::uint64_t cut : cuts) {
            const std::int64_t length = std::int64_t(cut) - pendingAt;
            if (!storeChunk(store, pending.mid(int(used), int(length)), pendingAt, file, totals))
                return false;
            used += length;
            pendingAt = std::int64_t(cut);
        }
        pending.remove(0, int(used));
    }
    std::uint64_t last = 0;
    if (chunker.Finish(last) && !storeChunk(store, pending, pendingAt, file, totals))
        return false;
    file.size = std::int64_t(chunker.Offset());
    file.sha256 = whole.HexResult();
    return true;
}

// The highest serial among the store's manifests, 0 when there is none.
std::int64_t highestSerial(const QString& manifests)
{
    std::int64_t best = 0;
    const QStringList names = QDir(manifests).entryList({QStringLiteral("*.manifest")}, QDir::Files);
    for (const QString& name : names) {
        QFile f(manifests + QLatin1Char('/') + name);
        if (!f.open(QIODevice::ReadOnly))
            continue;
        for (int i = 0; i < 5 && !f.atEnd(); ++i) {
            const QByteArray line = f.readLine().trimmed();
            if (line.startsWith("Serial="))
                best = std::max<std::int64_t>(best, line.mid(7).toLongLong());
        }
    }
    return best;
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size() || !out.commit()) {
        complain(QStringLiteral("cannot write %1: %2").arg(path, out.errorString()));
        return false;
    }
    return true;
}

} // namespace

int OrbPublishBuild(const OrbPublishBuildOptions& o)
{
    if (!OrbDeliveryManifest::IsVersionName(o.version)) {
        complain(QStringLiteral("version '%1' is not a valid name ([A-Za-z0-9._+-], not starting with '.')").arg(o.version));
        return 2;
    }
    if (o.game.isEmpty()) {
        complain(QStringLiteral("--game is required"));
        return 2;
    }
    QFile keyFile(o.keyPath);
    if (!keyFile.open(QIODevice::ReadOnly)) {
        complain(QStringLiteral("cannot read the key %1").arg(o.keyPath));
        return 1;
    }
    const std::string privatePem = keyFile.readAll().toStdString();
    const std::string publicPem = OrbSignature::PublicKeyOf(privatePem);
    if (publicPem.empty()) {
        complain(QStringLiteral("%1 is not an Ed25519 private key").arg(o.keyPath));
        return 1;
    }
    const QFileInfo gameInfo(o.gameFolder);
    if (!gameInfo.isDir()) {
        complain(QStringLiteral("%1 is not a folder").arg(o.gameFolder));
        return 1;
    }
    const QString root = gameInfo.absoluteFilePath();

    const QString storeRoot = QDir(o.storeFolder).absolutePath();
    if (storeRoot == root || storeRoot.startsWith(root + QLatin1Char('/'))) {
        complain(QStringLiteral("the store is inside the game folder: %1").arg(storeRoot));
        return 1;
    }

    OrbDeliveryManifest m;
    m.game = o.game;
    m.version = o.version;
    QStringList files;
    if (!collect(root, QString(), files, m.folders))
        return 1;

    const QString manifests = storeRoot + QStringLiteral("/manifests");
    if (!QDir().mkpath(manifests)) {
        complain(QStringLiteral("cannot create %1").arg(manifests));
        return 1;
    }
    OrbChunkStore store(storeRoot);
    Totals totals;
    for (const QString& rel : files) {
        const QString why = OrbDeliveryManifest::CheckPath(rel, OrbDeliveryManifest::Limits());
        if (!why.isEmpty()) {
            complain(QStringLiteral("%1: %2").arg(why, rel));
            return 1;
        }
        OrbDeliveryFile file;
        file.path = rel;
        const QString path = root + QLatin1Char('/') + rel;
        file.executable = QFileInfo(path).permission(QFileDevice::ExeOwner);
        if (!chunkFile(path, store, file, totals))
            return 1;
        m.files.push_back(std::move(file));
    }

    m.serial = o.serial >= 0 ? o.serial : highestSerial(manifests) + 1;
    const std::int64_t now = QDateTime::currentSecsSinceEpoch();
    m.expires = now + o.days * 86400;
    const QByteArray text = m.Serialize();
    const std::string signature = m.Sign(privatePem);

    // What the launcher will be given must pass the launcher's own checks.
    OrbDeliveryManifest::Expect expect;
    expect.publicPem = publicPem;
    expect.signature = QByteArray::fromStdString(signature);
    expect.game = o.game;
    expect.now = now;
    const OrbDeliveryManifest::Parsed check = OrbDeliveryManifest::Parse(text, expect);
    if (!check.ok) {
        complain(QStringLiteral("the manifest would be refused: %1").arg(check.reason));
        return 1;
    }
    // The pack before the manifest: a served manifest never names a pack still being written.
    QString packError;
    if (!OrbDeliveryPack::Write(storeRoot, m, &packError)) {
        complain(packError);
        return 1;
    }
    const QString base = manifests + QLatin1Char('/') + o.version + QStringLiteral(".manifest");
    if (!writeFile(base, text) || !writeFile(base + QStringLiteral(".sig"), QByteArray::fromStdString(signature) + '\n'))
        return 1;
    std::printf("built %s %s: %d files, %d empty folders, %lld chunks, %lld new (%lld bytes), serial %lld, expires %s\n",
                qPrintable(o.game), qPrintable(o.version), int(m.files.size()), int(m.folders.size()),
                static_cast<long long>(totals.chunks), static_cast<long long>(totals.added),
                static_cast<long long>(totals.addedBytes), static_cast<long long>(m.serial),
                OrbSignedSettings::FormatTime(m.expires).c_str());
    return 0;
}
