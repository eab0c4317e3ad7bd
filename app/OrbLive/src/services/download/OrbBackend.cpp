#include "OrbBackend.h"

#include "core/ComponentRegistry.h"
#include "core/OrbLog.h"

#include <OrbNetDownload.h>
#include <OrbNetDownloadReq.h>
#include <OrbNetDownloadWatcher.h>
#include <OrbNetConfig.h>
#include <OrbNetwork.h>

#include <QDebug>
#include <QFileInfo>

#include <functional>

using namespace std::placeholders;

// Written out in each completion and progress function so that every line names the
// function it came from.
#define ORB_BACKEND_LOG_FINISH(download)                                                          \
    do {                                                                                          \
        ORB_LOG(OrbLogInfo, "7--- result:%d, cost = %dms, url:%s", int((download)->Error()),     \
                (download)->Cost(), (download)->GetReq().Url().c_str());                         \
        if ((download)->Error() != NetNoError)                                                    \
            ORB_LOG(OrbLogError, "[Backend] Request Down load Url Error... %d", int((download)->Error())); \
    } while (0)

#define ORB_BACKEND_LOG_PROGRESS(offset, total)                                                   \
    ORB_LOG(OrbLogInfo, "7--- offset:%lld, total = %lld", (long long)(offset), (long long)(total))

#define ORB_BACKEND_LOG_ZERO_TOTAL() \
    ORB_LOG(OrbLogWarning, "Total size is zero. Skipping progress calculation.")

static const char kLauncherProgressCaption[] = "启动器下载进度";

namespace {

OrbNetDownloadReq request(const QString& url, const QString& path, const OrbPackageCheck& check)
{
    OrbNetDownloadReq req(url.toUtf8().toStdString(), path.toUtf8().toStdString(), DefaultNetConfig);
    req.SetExpectedSize(check.size).SetExpectedSha256(check.sha256.toStdString());
    req.SetMaxSize(check.maxSize).SetDeadline(check.deadlineMs);
    return req;
}

// Why a package download was refused, or empty when it was not a verification failure.
QString verifyFailure(NetError error)
{
    if (error == NetTooLarge)
        return QStringLiteral("the server sent more than the declared package size");
    if (error == NetVerifyFailed)
        return QStringLiteral("the package does not match its declared size or SHA-256 and was removed");
    return QString();
}

} // namespace

OrbBackend::OrbBackend(QObject* parent) : QObject(parent) {}

OrbBackend::~OrbBackend()
{
    qDebug() << "~OrbBackend called";
    OrbRegistry::ResetCache<IOrbNetwork>();
    m_gameDownload.reset();
    // Stops the worker thread: no callback runs once this returns.
    m_network.reset();
}

void OrbBackend::Init()
{
    if (m_network)
        return;
    m_network = std::make_unique<OrbNetwork>();
    m_network->Init(DefaultNetConfig);
}

void OrbBackend::Uninit()
{
    m_network.reset();
}

std::string OrbBackend::GetName()
{
    return "OrbBackend";
}

bool OrbBackend::RequestAsnycGameSettingUrl(const QString& url, const QString& path)
{
    return RequestAsnycGameSettingUrl(url, path, OrbPackageCheck());
}

bool OrbBackend::RequestAsnycGameSettingUrl(const QString& url, const QString& path, const OrbPackageCheck& check)
{
    if (!m_network)
        return false;
    OrbPackageCheck bounds;  // the settings file is bounded, never verified
    bounds.maxSize = check.maxSize;
    bounds.deadlineMs = check.deadlineMs;
    std::shared_ptr<OrbNetDownload> download = m_network->Download(request(url, path, bounds), false);
    return OrbNetDownloadWatcher::Watch(download, this, std::bind(&OrbBackend::OnGameSettingFinish, this, _1),
                 std::bind(&OrbBackend::OnGameSettingProgress, this, _1, _2, _3));
}

bool OrbBackend::RequestAsnycLauncherUpdateUrl(const QString& url, const QString& path)
{
    return RequestAsnycLauncherUpdateUrl(url, path, OrbPackageCheck());
}

bool OrbBackend::RequestAsnycLauncherUpdateUrl(const QString& url, const QString& path, const OrbPackageCheck& check)
{
    if (!m_network)
        return false;
    std::shared_ptr<OrbNetDownload> download = m_network->Download(request(url, path, check), false);
    return OrbNetDownloadWatcher::Watch(download, this, std::bind(&OrbBackend::OnLauncherUpdateFinish, this, _1),
                 std::bind(&OrbBackend::OnLauncherUpdateProgress, this, _1, _2, _3));
}

bool OrbBackend::RequestAsnycDownLoadUrl(const QString& url, const QString& path)
{
    return RequestAsnycDownLoadUrl(url, path, OrbPackageCheck());
}

bool OrbBackend::RequestAsnycDownLoadUrl(const QString& url, const QString& path, const OrbPackageCheck& check)
{
    if (m_gameDownload)
        return false;
    if (!m_network)
        return false;
    m_gameDownload = m_network->Download(request(url, path, check), true);
    m_gameTotal = -1;
    if (OrbNetDownloadWatcher::Watch(m_gameDownload, this, std::bind(&OrbBackend::OnGameDownloadFinish, this, _1),
                                     std::bind(&OrbBackend::OnGameDownloadProgress, this, _1, _2, _3)))
        return true;
    // The file could not be opened: nothing runs and nothing will be reported, so nothing is held.
    m_gameDownload.reset();
    return false;
}

void OrbBackend::StopDownLoad()
{
    if (!m_gameDownload)
        return;
    m_gameDownload->Close();
    m_gameDownload.reset();
}

void OrbBackend::OnGameSettingFinish(const std::shared_ptr<OrbNetDownload>& download)
{
    ORB_BACKEND_LOG_FINISH(download);
    if (download->Error() == NetNoError)
        emit sigGameSettingDownloadFinish();
    else
        emit sigGameSettingDownloadFailed(qint32(download->Error()));
}

void OrbBackend::OnGameSettingProgress(const std::shared_ptr<OrbNetDownload>&, long long offset, long long total)
{
    ORB_BACKEND_LOG_PROGRESS(offset, total);
    if (total == 0)
        ORB_BACKEND_LOG_ZERO_TOTAL();
}

void OrbBackend::OnLauncherUpdateFinish(const std::shared_ptr<OrbNetDownload>& download)
{
    ORB_BACKEND_LOG_FINISH(download);
    if (download->Error() == NetNoError) {
        emit sigLauncherUpdateDownloadFinish();
        return;
    }
    // A refused launcher package is told by its code (NetTooLarge, NetVerifyFailed).
    const QString failure = verifyFailure(download->Error());
    if (!failure.isEmpty())
        ORB_LOG(OrbLogError, "launcher package refused: %s", failure.toUtf8().constData());
    emit sigLauncherUpdateDownloadFailed(qint32(download->Error()));
}

void OrbBackend::OnLauncherUpdateProgress(const std::shared_ptr<OrbNetDownload>&, long long offset, long long total)
{
    ORB_BACKEND_LOG_PROGRESS(offset, total);
    if (total == 0) {
        ORB_BACKEND_LOG_ZERO_TOTAL();
        return;
    }
    const qint32 percent = static_cast<qint32>((offset * 100.0) / total);
    emit sigLauncherUpdateProgress(percent, QString::fromUtf8(kLauncherProgressCaption));
}

void OrbBackend::OnGameDownloadFinish(const std::shared_ptr<OrbNetDownload>& download)
{
    ORB_BACKEND_LOG_FINISH(download);
    // Delivered on the GUI thread: the ended download is let go before anyone hears of its
    // end, so the reaction to any of the signals below (resume, download again) is accepted.
    // A download replaced after StopDownLoad is not this one and stays.
    long long total = -1;
    if (m_gameDownload == download) {
        total = m_gameTotal;
        m_gameDownload.reset();
        m_gameTotal = -1;
    }
    if (download->Error() == NetNoError) {
        emit sigDownloadFinish();
        return;
    }
    const QString failure = verifyFailure(download->Error());
    if (!failure.isEmpty()) {
        ORB_LOG(OrbLogError, "game package refused: %s", failure.toUtf8().constData());
        emit sigDownloadVerifyFailed(failure);
    }
    // What a resume starts from: the bytes really on disk (none after a refusal), against
    // the last known or the declared total.
    const QFileInfo file(QString::fromUtf8(download->GetReq().Path().c_str()));
    const long long held = file.isFile() ? file.size() : 0;
    if (total <= 0)
        total = download->GetReq().ExpectedSize();
    if (total <= 0)
        total = held;
    emit sigDownloadProgress(static_cast<qint32>(held / 1048576), static_cast<qint32>(total / 1048576));
    emit sigDownloadStop();
}

void OrbBackend::OnGameDownloadProgress(const std::shared_ptr<OrbNetDownload>& download, long long offset,
                                        long long total)
{
    ORB_BACKEND_LOG_PROGRESS(offset, total);
    if (download == m_gameDownload)
        m_gameTotal = total;
    if (total == 0) {
        ORB_BACKEND_LOG_ZERO_TOTAL();
        return;
    }
    emit sigDownloadProgress(static_cast<qint32>(offset / 1048576), static_cast<qint32>(total / 1048576));
}
