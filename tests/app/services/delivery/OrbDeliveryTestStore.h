#pragma once

// Builds chunk stores for the delivery job tests with the delivery library itself,
// serves them through nginx with an access log, and snapshots installation trees.

#include "OrbChunkStore.h"
#include "OrbChunker.h"
#include "OrbDeliveryManifest.h"
#include "TestHttpServer.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSet>

#include <algorithm>
#include <string>
#include <unistd.h>

namespace deliverytest {

// Chunks every file of src into the store and writes the signed manifest of version.
inline bool publish(const QString& src, const QString& store, const QString& version, const QString& game,
                    qint64 serial, const std::string& privatePem, OrbDeliveryManifest* out = nullptr)
{
    OrbDeliveryManifest m;
    m.game = game;
    m.version = version;
    m.serial = serial;
    m.expires = QDateTime::currentSecsSinceEpoch() + 86400;
    QStringList files, dirs;
    QDirIterator it(src, QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = QDir(src).relativeFilePath(path);
        if (QFileInfo(path).isDir()) {
            if (QDir(path).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
                dirs << rel;
        } else {
            files << rel;
        }
    }
    auto byBytes = [](const QString& a, const QString& b) { return a.toUtf8() < b.toUtf8(); };
    std::sort(files.begin(), files.end(), byBytes);
    std::sort(dirs.begin(), dirs.end(), byBytes);
    OrbChunkStore chunks(store);
    for (const QString& rel : files) {
        QFile f(src + QLatin1Char('/') + rel);
        if (!f.open(QIODevice::ReadOnly))
            return false;
        const QByteArray data = f.readAll();
        OrbDeliveryFile entry;
        entry.path = rel;
        entry.size = data.size();
        entry.executable = QFileInfo(f).permissions() & QFileDevice::ExeOwner;
        entry.sha256 = OrbDeliveryHash::Sha256Hex(data);
        std::uint64_t start = 0;
        for (std::uint64_t cut : OrbChunker::Cuts(reinterpret_cast<const unsigned char*>(data.constData()), std::size_t(data.size()))) {
            const QByteArray piece = data.mid(int(start), int(cut - start));
            OrbChunkStore::Stored stored;
            if (!chunks.Put(piece, stored))
                return false;
            entry.chunks.push_back(OrbDeliveryChunk{stored.hash, qint64(start), piece.size(), stored.compressedSize});
            start = cut;
        }
        m.files.push_back(entry);
    }
    m.folders = dirs;
    QDir().mkpath(store + QStringLiteral("/manifests"));
    const QString base = store + QStringLiteral("/manifests/") + version + QStringLiteral(".manifest");
    QFile text(base), sig(base + QStringLiteral(".sig"));
    if (!text.open(QIODevice::WriteOnly | QIODevice::Truncate) || !sig.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    text.write(m.Serialize());
    sig.write(QByteArray::fromStdString(m.Sign(privatePem)) + '\n');
    if (out)
        *out = m;
    return true;
}

// Distinct chunk hashes of a manifest.
inline QSet<QByteArray> chunkSet(const OrbDeliveryManifest& m)
{
    QSet<QByteArray> s;
    for (const OrbDeliveryFile& f : m.files)
        for (const OrbDeliveryChunk& c : f.chunks)
            s.insert(c.hash);
    return s;
}

inline bool copyTree(const QString& from, const QString& to)
{
    QDirIterator it(from, QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    QDir().mkpath(to);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString target = to + QLatin1Char('/') + QDir(from).relativeFilePath(path);
        if (QFileInfo(path).isDir()) {
            QDir().mkpath(target);
        } else {
            QFile::remove(target);
            if (!QFile::copy(path, target))
                return false;
            QFile::setPermissions(target, QFile::permissions(path));
        }
    }
    return true;
}

// What an installation looks like to the game: every file's bytes and executable bit,
// every empty folder; the launcher's own state folder is left out.
inline QMap<QString, QByteArray> snapshot(const QString& root)
{
    QMap<QString, QByteArray> s;
    QDirIterator it(root, QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = QDir(root).relativeFilePath(path);
        if (rel == QLatin1String(".orbdelivery") || rel.startsWith(QLatin1String(".orbdelivery/")))
            continue;
        const QFileInfo info(path);
        if (info.isDir()) {
            if (QDir(path).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System))
                s.insert(rel, "<folder>");
            continue;
        }
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        s.insert(rel, OrbDeliveryHash::Sha256Hex(f.readAll()) + ((info.permissions() & QFileDevice::ExeOwner) ? " 755" : " 644"));
    }
    return s;
}

// nginx on loopback serving root, logging every request to logPath.
inline bool startLoggedNginx(orbtest::ExternalDaemon& d, quint16 port, const QString& root, const QString& logPath)
{
    return orbtest::startNginx(d, port, root, QByteArray(), logPath);
}

} // namespace deliverytest
