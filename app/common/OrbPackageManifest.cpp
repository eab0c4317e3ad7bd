#include "OrbPackageManifest.h"

#include "OrbLinks.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <openssl/evp.h>

#include <memory>

namespace {

const char kHeader[] = "OrbPackage 1";

void fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

} // namespace

// OpenSSL rather than QCryptographicHash: it uses the CPU's SHA instructions and
// hashes a launcher folder (WebEngine included) about ten times faster, which the
// player waits for twice, when the launcher seals the folder and when the updater
// checks it.
QByteArray OrbPackageManifest::HashFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!ctx || !EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr))
        return {};
    QByteArray buffer(1024 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(buffer.data(), buffer.size());
        if (n < 0)
            return {};
        if (n == 0)
            break;
        if (!EVP_DigestUpdate(ctx.get(), buffer.constData(), static_cast<size_t>(n)))
            return {};
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!EVP_DigestFinal_ex(ctx.get(), digest, &length))
        return {};
    return QByteArray(reinterpret_cast<const char*>(digest), static_cast<qsizetype>(length)).toHex();
}

bool OrbPackageManifest::Write(const QString& dir, QString* error)
{
    QByteArray text = QByteArray(kHeader) + '\n';
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    QStringList names;
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (OrbLinks::isLink(info.filePath()) || !info.isFile())
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
    if (OrbLinks::isLink(file.fileName()) || !file.open(QIODevice::ReadOnly)) {
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
