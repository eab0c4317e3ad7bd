// Game clients: start one more, notice each one's end, close them all.
#include "workflow/OrbLauncherManager.h"

#include "core/ComponentRegistry.h"
#include "core/OrbLog.h"
#include "model/IOrbModel.h"
#include "model/OrbModel.h"
#include "workflow/OrbWorkflowModel.h"
#include "workflow/OrbWorkflowRules.h"

#include <QProcess>

#include <string>

using namespace OrbWorkflowRules;
using namespace OrbWorkflowModel;

namespace {
constexpr int kStartTimeoutMs = 30000;
}

void OrbLauncherManager::onSigStartPlayGame()
{
    ORB_LOG(OrbLogInfo, "Start Play Game");
    IOrbModel* model = GetComponent<IOrbModel>("OrbModel");
    if (!model)
        return;
    const QString gameName = Setting(model, "Basic", "GameName");
    const QString folder = GameFolder(AppString(model, "InstallDirectory"), gameName);
    const QString executable = FindExecutable(folder, ExecutableName(gameName));
    if (executable.isEmpty()) {
        ORB_LOG(OrbLogWarning, "Executable not found!");
        emit sigNotFoundExecutable();
        return;
    }
    auto* process = new QProcess();
    process->setProgram(executable);
    process->start(QIODevice::ReadWrite);
    if (!process->waitForStarted(kStartTimeoutMs)) {
        ORB_LOG(OrbLogWarning, "Failed to start process!");
        // A client that never ran reports no end; kept in the list it would hold
        // back the end-of-clients notice for every later client.
        delete process;
        emit sigStartPlayGameCallback(false);
        return;
    }
    connect(process, &QProcess::finished, this, [this, process] { onGameClientFinished(process); });
    m_games.append(process);
    emit sigStartPlayGameCallback(true);
}

void OrbLauncherManager::onGameClientFinished(QProcess* process)
{
    if (m_games.removeOne(process))
        process->deleteLater();
    if (m_games.isEmpty())
        emit sigStartPlayGameCallback(false);
}

void OrbLauncherManager::onSigCloseAllGames()
{
    ORB_LOG(OrbLogInfo, "Close All Games Start");
    while (!m_games.isEmpty()) {
        QProcess* process = m_games.takeFirst();
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            // Its end is reported now, while the process object still exists.
            process->waitForFinished(5000);
        }
        delete process;
    }
    ORB_LOG(OrbLogInfo, "All games closed.");
}
