#include "OrbWorkflowRules.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QVersionNumber>

namespace OrbWorkflowRules {

QString FileNameOfUrl(const QString& url)
{
    const int slash = url.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? url : url.mid(slash + 1);
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

QString FindExecutable(const QString& folder, const QString& name)
{
    if (folder.isEmpty() || name.isEmpty())
        return {};
    QDirIterator it(folder, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (it.fileName() == name)
            return path;
    }
    return {};
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
