#include "workflow/game/OrbGameDelivery.h"

#include "core/ComponentRegistry.h"
#include "core/OrbLog.h"
#include "model/IOrbModel.h"
#include "services/delivery/OrbDeliveryJob.h"
#include "services/delivery/OrbDeliveryManifest.h"
#include "services/download/IOrbNetwork.h"
#include "workflow/OrbWorkflowModel.h"
#include "workflow/OrbWorkflowRules.h"
#include "workflow/update/OrbLauncherIdentity.h"
#include "workflow/update/OrbPublisherKey.h"

#include <QDir>
#include <QFile>

using namespace OrbWorkflowRules;
using namespace OrbWorkflowModel;

namespace {

constexpr qint64 kMiB = 1024 * 1024;
const QString kManifests = QStringLiteral("/manifests/");
const QString kSuffix = QStringLiteral(".manifest");

QString gameFolder(IOrbModel* model)
{
    return GameFolder(AppString(model, OrbKey::InstallDirectory), Setting(model, "Basic", "GameName"));
}

// The client to start, from the manifest the run just installed.
QString executableOf(const QString& folder, const QString& executable)
{
    QFile file(folder + QStringLiteral("/.orbdelivery/installed.manifest"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    OrbDeliveryManifest::Expect expect;  // already verified when it was installed
    const auto parsed = OrbDeliveryManifest::Parse(file.read(expect.limits.manifestBytes), expect);
    if (!parsed.ok)
        return {};
    QStringList paths;
    for (const auto& f : parsed.manifest.files)
        paths << f.path;
    return RecordedExecutable(paths, executable);
}

} // namespace

OrbGameDelivery::OrbGameDelivery(QObject* parent) : QObject(parent) {}

OrbGameDelivery::~OrbGameDelivery()
{
    if (m_job)
        m_job->disconnect(this);
    delete m_job;
}

bool OrbGameDelivery::Available(IOrbModel* model)
{
    return model && !Setting(model, "Basic", "GameManifestUrl").trimmed().isEmpty();
}

void OrbGameDelivery::Recover(IOrbModel* model)
{
    if (!Available(model))
        return;
    const QString folder = gameFolder(model);
    QString why;
    if (QDir(folder).exists() && !OrbDeliveryJob::Recover(folder, &why))
        ORB_LOG(OrbLogWarning, "an interrupted game update could not be finished yet: %s", qUtf8Printable(why));
}

bool OrbGameDelivery::prepare(IOrbModel* model, OrbDeliveryOptions* options, QString* why) const
{
    const QString url = Setting(model, "Basic", "GameManifestUrl").trimmed();
    const int at = url.lastIndexOf(kManifests);
    const QString name = FileNameOfUrl(url);
    if (at <= 0 || !name.endsWith(kSuffix) || name.size() == kSuffix.size()) {
        *why = QStringLiteral("the manifest address %1 is not <store>/manifests/<version>.manifest").arg(url);
        return false;
    }
    const QString sha256 = Setting(model, "Basic", "GameManifestSha256").trimmed();
    const OrbPublisherKey::State key = OrbPublisherKey::Current();
    if (key == OrbPublisherKey::State::Broken) {
        *why = QStringLiteral("the publisher key cannot be read; nothing is installed");
        return false;
    }
    if (key == OrbPublisherKey::State::Key && sha256.isEmpty()) {
        *why = QStringLiteral("the signed settings declare no SHA-256 for the game manifest");
        return false;
    }
    options->folder = gameFolder(model);
    options->version = name.left(name.size() - kSuffix.size());
    options->baseUrls = {url.left(at)};
    options->game = OrbLauncherIdentity::Establish(model).game;
    options->publicKeyPem = OrbPublisherKey::Pem().toStdString();
    options->manifestSha256 = sha256;
    bool ok = false;
    const int connections = AppString(model, OrbKey::DeliveryConnections).toInt(&ok);
    options->connections = ok && connections > 0 ? connections : kDefaultConnections;
    return true;
}

void OrbGameDelivery::newJob(OrbNetwork* network, Task task)
{
    m_job = new OrbDeliveryJob(network, this);
    connect(m_job, &OrbDeliveryJob::progress, this, [this](qint64 done, qint64 total, qint64, qint64) {
        emit progress(qint32(done / kMiB), qint32(total / kMiB));
    });
    connect(m_job, &OrbDeliveryJob::phaseChanged, this, [this](OrbDeliveryJob::Phase phase) { m_phaseAtEnd = phase; });
    connect(m_job, &OrbDeliveryJob::finished, this, &OrbGameDelivery::onFinished);
    m_pausing = false;
    m_task = task;
}

bool OrbGameDelivery::start()
{
    IOrbModel* model = GetComponent<IOrbModel>("OrbModel");
    IOrbNetwork* backend = GetComponent<IOrbNetwork>("OrbBackend");
    if (!model || !backend || !backend->Network() || m_job)
        return false;
    OrbDeliveryOptions options;
    QString why;
    if (!prepare(model, &options, &why)) {
        emit refused(why);
        emit started(false);
        return false;
    }
    QDir().mkpath(options.folder);
    newJob(backend->Network(), Task::Install);
    if (!m_job->Install(options)) {
        delete m_job;
        m_task = Task::None;
        emit refused(QStringLiteral("the game cannot be installed into %1").arg(options.folder));
        emit started(false);
        return false;
    }
    SetAppBool(model, OrbKey::IsDownloadStart, true);
    SetAppBool(model, OrbKey::IsDownloadFinish, false);
    SetAppBool(model, OrbKey::IsInstallGmae, false);
    emit started(true);
    return true;
}

void OrbGameDelivery::pause()
{
    // A pause is answered false, as the package download's is; the stop follows.
    emit started(false);
    if (!m_job || m_task != Task::Install)
        return;
    m_pausing = true;
    m_job->Cancel();
}

void OrbGameDelivery::repair()
{
    IOrbModel* model = GetComponent<IOrbModel>("OrbModel");
    IOrbNetwork* backend = GetComponent<IOrbNetwork>("OrbBackend");
    // Every request gets its one answer: the scene waits for it.
    if (!model || !backend || !backend->Network()) {
        emit repairFinished(false, QStringLiteral("the launcher is shutting down"));
        return;
    }
    if (m_job) {
        emit repairFinished(false, QStringLiteral("the game is being installed"));
        return;
    }
    OrbDeliveryOptions options;
    QString why;
    if (!Available(model) || !prepare(model, &options, &why)) {
        emit repairFinished(false, why.isEmpty() ? QStringLiteral("this installation was not made from a manifest") : why);
        return;
    }
    newJob(backend->Network(), Task::Repair);
    if (!m_job->Repair(options)) {
        delete m_job;
        m_task = Task::None;
        emit repairFinished(false, QStringLiteral("nothing is installed in %1").arg(options.folder));
    }
}

void OrbGameDelivery::onFinished(bool ok, const QString& reason)
{
    OrbDeliveryJob* job = m_job;
    const Task task = m_task;
    m_task = Task::None;
    m_job = nullptr;
    if (!job)
        return;
    const QStringList damaged = job->Damaged(), missing = job->Missing();
    const OrbDeliveryJob::Stats stats = job->Statistics();
    job->deleteLater();
    IOrbModel* model = GetComponent<IOrbModel>("OrbModel");
    if (task == Task::Repair) {
        if (!ok) {
            ORB_LOG(OrbLogWarning, "Repair failed: %s", qUtf8Printable(reason));
            emit repairFinished(false, reason);
            return;
        }
        ORB_LOG(OrbLogInfo, "Repair: %d damaged, %d missing, %d chunks fetched", int(damaged.size()), int(missing.size()),
                stats.chunksFetched);
        emit repairFinished(true, QStringLiteral("%1 damaged, %2 missing").arg(damaged.size()).arg(missing.size()));
        return;
    }
    if (ok) {
        ORB_LOG(OrbLogInfo, "Game installed from its manifest: %d files kept, %d built, %d chunks fetched, %lld bytes",
                stats.filesKept, stats.filesBuilt, stats.chunksFetched, static_cast<long long>(stats.bytesFetched));
        if (model) {
            const QString folder = gameFolder(model);
            SetAppString(model, OrbKey::GameExecutablePath,
                         executableOf(folder, ExecutableName(Setting(model, "Basic", "GameName"))));
            SetAppBool(model, OrbKey::IsDownloadFinish, true);
            SetAppBool(model, OrbKey::IsInstallGmae, true);
            SetAppBool(model, OrbKey::IsUpdateGmaeHint, false);
        }
        emit installed();
        return;
    }
    // A pause, or a failure while chunks were coming: the next start resumes from
    // the chunks already fetched. Anything else is the input's fault: say why.
    if (m_pausing || m_phaseAtEnd == OrbDeliveryJob::Fetching) {
        ORB_LOG(OrbLogWarning, "Game delivery stopped: %s", qUtf8Printable(reason));
        emit stopped();
        return;
    }
    ORB_LOG(OrbLogError, "Game delivery refused: %s", qUtf8Printable(reason));
    emit refused(reason);
    emit stopped();
}
