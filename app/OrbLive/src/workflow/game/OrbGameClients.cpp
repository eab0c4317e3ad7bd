#include "workflow/game/OrbGameClients.h"

#include "core/ComponentRegistry.h"
#include "core/OrbLog.h"
#include "model/IOrbModel.h"
#include "workflow/OrbWorkflowModel.h"
#include "workflow/OrbWorkflowRules.h"

#include <QProcess>
#include <QTimer>

using namespace OrbWorkflowRules;
using namespace OrbWorkflowModel;

OrbGameClients::OrbGameClients(QObject* parent) : QObject(parent) {}

OrbGameClients::~OrbGameClients()
{
    // Destroying a client that still runs ends it; its end is no longer reported.
    for (QList<QProcess*>* list : {&m_starting, &m_games, &m_closing}) {
        const QList<QProcess*> processes = *list;
        list->clear();
        for (QProcess* process : processes) {
            process->disconnect(this);
            delete process;
        }
    }
}

void OrbGameClients::start()
{
    IOrbModel* model = GetComponent<IOrbModel>("OrbModel");
    if (!model)
        return;
    // Exactly the client the installation recorded, never the first file of that
    // name found somewhere below the folder.
    const QString gameName = Setting(model, "Basic", "GameName");
    const QString folder = GameFolder(AppString(model, OrbKey::InstallDirectory), gameName);
    QString relative = AppString(model, OrbKey::GameExecutablePath);
    if (relative.isEmpty())
        relative = ExecutableName(gameName);
    const QString executable = ExecutableBelow(folder, relative);
    if (executable.isEmpty()) {
        ORB_LOG(OrbLogWarning, "Executable not found!");
        emit notFound();
        return;
    }
    auto* process = new QProcess();
    process->setProgram(executable);
    m_starting.append(process);
    connect(process, &QProcess::started, this, [this, process] {
        if (!m_starting.removeOne(process))
            return;
        m_games.append(process);
        emit startResult(true);
    });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            onStartFailed(process);
    });
    connect(process, &QProcess::finished, this, [this, process] { onEnded(process); });
    QTimer::singleShot(kStartTimeoutMs, process, [this, process] {
        if (m_starting.contains(process))
            onStartFailed(process);
    });
    process->start(QIODevice::ReadWrite);
}

// A client that never ran reports no end; kept in the list it would hold back
// the end-of-clients notice for every later client.
void OrbGameClients::onStartFailed(QProcess* process)
{
    if (!m_starting.removeOne(process))
        return;
    ORB_LOG(OrbLogWarning, "Failed to start process!");
    process->disconnect(this);
    process->kill();
    process->deleteLater();
    emit startResult(false);
}

void OrbGameClients::onEnded(QProcess* process)
{
    const bool known = m_games.removeOne(process) || m_closing.removeOne(process);
    if (known)
        process->deleteLater();
    if (m_games.isEmpty() && m_closing.isEmpty() && m_starting.isEmpty())
        emit allEnded();
}

void OrbGameClients::closeAll()
{
    // Kill and move on; each end arrives through onEnded, the last one reports.
    const QList<QProcess*> games = m_games + m_starting;
    m_games.clear();
    m_starting.clear();
    for (QProcess* process : games) {
        if (process->state() == QProcess::NotRunning) {
            process->disconnect(this);
            process->deleteLater();
            continue;
        }
        m_closing.append(process);
        process->kill();
    }
    ORB_LOG(OrbLogInfo, "All games closed.");
}
