#include "workflow/update/OrbLauncherIdentity.h"

#include "core/OrbLog.h"
#include "workflow/OrbWorkflowModel.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>

using namespace OrbWorkflowModel;

QString OrbLauncherIdentity::FilePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/config/identity.ini");
}

OrbLauncherIdentity OrbLauncherIdentity::Establish(IOrbModel* model)
{
    OrbLauncherIdentity identity;
    QFile file(FilePath());
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        bool haveGame = false;
        for (const QByteArray& raw : file.read(4096).split('\n')) {
            const QByteArray line = raw.trimmed();
            if (line.startsWith("Game=")) {
                identity.game = QString::fromUtf8(line.mid(5));
                haveGame = true;
            } else if (line.startsWith("Channel=")) {
                identity.channel = QString::fromUtf8(line.mid(8));
            }
        }
        if (haveGame && !identity.game.isEmpty())
            return identity;
    }
    identity.game = Setting(model, "Basic", "GameName").trimmed();
    identity.channel = Setting(model, "launcher", "Channel").trimmed();
    QSaveFile out(FilePath());
    if (!identity.game.isEmpty() && out.open(QIODevice::WriteOnly | QIODevice::Text)) {
        out.write("Game=" + identity.game.toUtf8() + "\nChannel=" + identity.channel.toUtf8() + "\n");
        if (!out.commit())
            ORB_LOG(OrbLogWarning, "the launcher's identity could not be recorded in %s", qUtf8Printable(FilePath()));
    }
    return identity;
}
