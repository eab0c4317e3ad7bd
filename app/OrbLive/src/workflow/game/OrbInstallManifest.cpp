#include "OrbInstallManifest.h"

#include "OrbLinks.h"

#include "services/installer/OrbInstaller.h"

#include "OrbUserFolders.h"

#include <quazip/quazip.h>
#include <util/bmem.h>
#include <util/platform.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QTextStream>

#include <algorithm>

namespace {

const char kHeader[] = "# OrbLive install manifest 1";

// The entry's path relative to root when it lands below it; empty otherwise.
QString relativeBelow(const QString& root, const QString& name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) ||
        name.contains(QLatin1Char(':')))
        return {};
    const bool folder = name.endsWith(QLatin1Char('/'));
    const QString clean = QDir::cleanPath(root + QLatin1Char('/') + name);
    if (!clean.startsWith(root + QLatin1Char('/')))
        return {};
    QString rel = clean.mid(root.size() + 1);
    if (folder)
        rel += QLatin1Char('/');
    return rel;
}

} // namespace

OrbInstallManifest OrbInstallManifest::FromArchive(const QString& archivePath, const QString& rootIn,
                                                   const QStringList& skipped, QString* error)
{
    OrbInstallManifest manifest;
    const QString root = QDir::cleanPath(QDir(rootIn).absolutePath());
    QuaZip zip(archivePath);
    if (!zip.open(QuaZip::mdUnzip)) {
        if (error)
            *error = QStringLiteral("cannot read the package");
        return manifest;
    }
    const QSet<QString> skip(skipped.begin(), skipped.end());
    QSet<QString> seen;
    QStringList entries;
    auto add = [&](const QString& rel) {
        if (!seen.contains(rel)) {
            seen.insert(rel);
            entries.append(rel);
        }
    };
    for (const QString& name : zip.getFileNameList()) {
        if (skip.contains(name))
            continue;
        const QString rel = relativeBelow(root, name);
        if (rel.isEmpty())
            continue;
        // The folders leading to the entry were created by the installation if
        // they were not there; listing them lets the clean-up remove them when empty.
        const QStringList parts = rel.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        QString prefix;
        for (int i = 0; i + 1 < parts.size(); ++i) {
            prefix += parts[i] + QLatin1Char('/');
            add(prefix);
        }
        add(rel);
    }
    zip.close();
    manifest.root = root;
    manifest.entries = entries;
    return manifest;
}

OrbInstallManifest OrbInstallManifest::FromWritten(const QString& rootIn, const QStringList& written)
{
    OrbInstallManifest manifest;
    const QString root = QDir::cleanPath(QDir(rootIn).absolutePath());
    QStringList entries;
    for (const QString& name : written) {
        // The installer's list is already relative, folders before their entries;
        // anything that would not stay below the root is not this installation's.
        const QString rel = relativeBelow(root, name);
        if (!rel.isEmpty() && !entries.contains(rel))
            entries.append(rel);
    }
    manifest.root = root;
    manifest.entries = entries;
    return manifest;
}

QString OrbInstallManifest::PathForGame(const QString& gameName)
{
    char* folder = os_get_config_path_ptr(OrbUserFolders::kInstall);
    const QString dir = QDir::cleanPath(QString::fromUtf8(folder ? folder : ""));
    bfree(folder);
    // The game name is a file name here; keep it to one safe segment.
    QString safe = gameName;
    for (QChar& c : safe)
        if (!(c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_') || c == QLatin1Char('.')))
            c = QLatin1Char('_');
    return dir + QLatin1Char('/') + safe + QStringLiteral(".manifest");
}

OrbInstallManifest OrbInstallManifest::Load(const QString& path)
{
    OrbInstallManifest manifest;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return manifest;
    QTextStream in(&file);
    in.setEncoding(QStringConverter::Utf8);
    if (in.readLine() != QLatin1String(kHeader))
        return manifest;
    const QString rootLine = in.readLine();
    if (!rootLine.startsWith(QStringLiteral("root=")))
        return manifest;
    const QString root = rootLine.mid(5);
    if (root.isEmpty() || !QDir::isAbsolutePath(root))
        return manifest;
    QStringList entries;
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (line.isEmpty())
            continue;
        // Only what lands below the root is accepted, whatever the file says.
        const QString rel = relativeBelow(root, line);
        if (!rel.isEmpty())
            entries.append(rel);
    }
    manifest.root = root;
    manifest.entries = entries;
    return manifest;
}

bool OrbInstallManifest::save(const QString& path) const
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    QByteArray text = QByteArray(kHeader) + "\nroot=" + root.toUtf8() + "\n";
    for (const QString& entry : entries)
        text += entry.toUtf8() + "\n";
    file.write(text);
    return file.commit();
}

void OrbInstallManifest::merge(const OrbInstallManifest& other)
{
    if (other.root != root)
        return;
    QSet<QString> seen(entries.begin(), entries.end());
    for (const QString& entry : other.entries)
        if (!seen.contains(entry)) {
            seen.insert(entry);
            entries.append(entry);
        }
}

bool OrbInstallManifest::removeInstalled(QStringList* failures) const
{
    if (root.isEmpty())
        return true;
    if (OrbInstaller::isProtectedFolder(root)) {
        if (failures)
            failures->append(root);
        return false;
    }
    const QFileInfo rootInfo(root);
    if (!rootInfo.exists())
        return true;
    if (OrbLinks::isLink(rootInfo.absoluteFilePath())) {
        // The folder was replaced by a link since the installation; its target
        // is not ours.
        if (failures)
            failures->append(root);
        return false;
    }
    bool ok = true;
    QStringList folders;
    for (const QString& rel : entries) {
        if (rel.endsWith(QLatin1Char('/'))) {
            folders.append(rel);
            continue;
        }
        const QString path = root + QLatin1Char('/') + rel;
        const QFileInfo info(path);
        if (!info.exists() && !info.isSymLink())
            continue;
        if (OrbLinks::passesThroughLink(root, rel) || (info.isDir() && !info.isSymLink())) {
            ok = false;
            if (failures)
                failures->append(rel);
            continue;
        }
        if (!QFile::remove(path)) {
            ok = false;
            if (failures)
                failures->append(rel);
        }
    }
    // Deepest first, so a folder's subfolders are gone before it is tried.
    std::sort(folders.begin(), folders.end(), [](const QString& a, const QString& b) {
        const int da = a.count(QLatin1Char('/')), db = b.count(QLatin1Char('/'));
        return da != db ? da > db : a > b;
    });
    for (const QString& rel : folders) {
        const QString path = QDir::cleanPath(root + QLatin1Char('/') + rel);
        const QFileInfo info(path);
        if (!info.exists() || info.isSymLink() || !info.isDir() || OrbLinks::passesThroughLink(root, rel))
            continue;
        // rmdir only succeeds on an empty folder: whatever the player added stays.
        QDir().rmdir(path);
    }
    return ok;
}
