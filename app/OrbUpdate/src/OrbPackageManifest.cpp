#include "OrbPackageManifest.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

const char kHeader[] = "OrbPackage 1";

void fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

} // namespace

QByteArray OrbPackageManifest::HashFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return {};
    return hash.result().toHex();
}

bool OrbPackageManifest::Write(const QString& dir, QString* error)
{
    QByteArray text = QByteArray(kHeader) + '\n';
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    QStringList names;
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (info.isSymLink() || info.isJunction() || !info.isFile())
            continue;
        const QString rel = QDir(dir).relativeFilePath(info.filePath());
        if (rel == QLatin1String(kFileName))
            continue;
        names.append(rel);
    }
    names.sort();
    for (const QString& rel : names) {
        if (rel.contains(QLatin1Char('\n')) || rel.contains(QLatin1Char('\r'))) {
            fail(error, QStringLiteral("a file name holds a line break"));
            return false;
        }
        const QByteArray hash = HashFile(QDir(dir).filePath(rel));
        if (hash.isEmpty()) {
            fail(error, QStringLiteral("cannot read %1").arg(rel));
            return false;
        }
        text += hash + ' ' + rel.toUtf8() + '\n';
    }
    QSaveFile out(QDir(dir).filePath(QLatin1String(kFileName)));
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size() || !out.commit()) {
        fail(error, QStringLiteral("cannot write the package seal"));
        return false;
    }
    return true;
}

bool OrbPackageManifest::Read(const QString& dir, QMap<QString, QByteArray>* files, QString* error)
{
    QFile file(QDir(dir).filePath(QLatin1String(kFileName)));
    const QFileInfo info(file.fileName());
    if (info.isSymLink() || !file.open(QIODevice::ReadOnly)) {
        fail(error, QStringLiteral("the package carries no seal"));
        return false;
    }
    const QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.isEmpty() || lines.first() != kHeader) {
        fail(error, QStringLiteral("the package seal is not readable"));
        return false;
    }
    files->clear();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        if (line.isEmpty())
            continue;
        const qsizetype space = line.indexOf(' ');
        if (space != 64 || line.size() <= space + 1) {
            fail(error, QStringLiteral("the package seal is not readable"));
            return false;
        }
        files->insert(QString::fromUtf8(line.mid(space + 1)), line.left(space));
    }
    return true;
}
