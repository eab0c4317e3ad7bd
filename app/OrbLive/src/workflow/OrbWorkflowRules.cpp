#include "OrbWorkflowRules.h"

#include <QDir>
#include <QRegularExpression>
#include <QFileInfo>
#include <QVersionNumber>

namespace OrbWorkflowRules {

QString FileNameOfUrl(const QString& url)
{
    // The query and fragment name no file; a name that is not one plain file name
    // would be joined to a folder and could point anywhere.
    QString path = url;
    const int cut = path.indexOf(QRegularExpression(QStringLiteral("[?#]")));
    if (cut >= 0)
        path.truncate(cut);
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    const QString name = slash < 0 ? path : path.mid(slash + 1);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
        name.contains(QLatin1Char('\\')) || name.contains(QLatin1Char(':')))
        return {};
    for (const QChar c : name)
        if (c.unicode() < 0x20)
            return {};
    return name;
}

bool IsNewerVersion(const QString& server, const QString& local)
{
    return QVersionNumber::compare(QVersionNumber::fromString(server), QVersionNumber::fromString(local)) > 0;
}

int DecimalOrZero(const QString& text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? value : 0;
}

qint64 DeclaredSize(const QString& text)
{
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok, 10);
    return ok && value >= 0 ? value : -1;
}

QString GameFolder(const QString& installDirectory, const QString& gameName)
{
    if (installDirectory.contains(gameName, Qt::CaseSensitive))
        return installDirectory;
    return installDirectory + QLatin1Char('/') + gameName;
}

QString ExecutableName(const QString& gameName)
{
#ifdef Q_OS_WIN
    return gameName + QStringLiteral(".exe");
#else
    return gameName;
#endif
}

QString ExecutableBelow(const QString& folder, const QString& relative)
{
    if (folder.isEmpty() || relative.isEmpty() || QDir::isAbsolutePath(relative) ||
        relative.contains(QLatin1Char('\\')))
        return {};
    const QString root = QDir::cleanPath(folder);
    const QString path = QDir::cleanPath(root + QLatin1Char('/') + relative);
    if (!path.startsWith(root + QLatin1Char('/')))
        return {};
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable() ? path : QString();
}

QString RecordedExecutable(const QStringList& written, const QString& name)
{
    QString best;
    for (const QString& rel : written) {
        if (rel.endsWith(QLatin1Char('/')) || rel.section(QLatin1Char('/'), -1) != name)
            continue;
        // The shallowest one is the client; deeper ones are tools or bundled copies.
        if (best.isEmpty() || rel.count(QLatin1Char('/')) < best.count(QLatin1Char('/')))
            best = rel;
    }
    return best;
}

QString LauncherProgramName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("OrbLive.exe");
#else
    return QStringLiteral("OrbLive");
#endif
}

QString UpdaterProgramName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("OrbUpdate.exe");
#else
    return QStringLiteral("OrbUpdate");
#endif
}

} // namespace OrbWorkflowRules
