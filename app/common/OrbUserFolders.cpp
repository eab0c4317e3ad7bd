#include "OrbUserFolders.h"

#include <QDir>

namespace OrbUserFolders {

QString roamingRoot()
{
#ifdef Q_OS_WIN
    return QDir::fromNativeSeparators(qEnvironmentVariable("APPDATA"));
#else
    const QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    return base.isEmpty() ? QDir::homePath() + QStringLiteral("/.config") : base;
#endif
}

QString absolute(const char* folder)
{
    return roamingRoot() + QLatin1Char('/') + QLatin1String(folder);
}

} // namespace OrbUserFolders
