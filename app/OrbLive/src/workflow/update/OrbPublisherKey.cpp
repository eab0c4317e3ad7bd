#include "workflow/update/OrbPublisherKey.h"

#include "OrbPublisherKeyBuiltIn.h"

#include <QCoreApplication>
#include <QFile>

namespace OrbPublisherKey {

QString FilePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/config/publisher.pub");
}

QString Pem()
{
    const QString builtIn = QString::fromLatin1(kOrbBuiltInPublisherKey).trimmed();
    if (!builtIn.isEmpty())
        return builtIn;
    QFile file(FilePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.read(16384)).trimmed();
}

QString Source()
{
    if (!QString::fromLatin1(kOrbBuiltInPublisherKey).trimmed().isEmpty())
        return QStringLiteral("built in");
    return QFile::exists(FilePath()) ? FilePath() : QString();
}

} // namespace OrbPublisherKey
