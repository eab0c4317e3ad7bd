#include "OrbViewLauncher.h"

#include "core/ComponentRegistry.h"
#include "core/OrbLog.h"
#include "model/IOrbModel.h"
#include "model/OrbModel.h"

#include <OrbUtils.h>

#include <QCursor>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QScreen>

#include <string>

namespace {

IOrbModel* model()
{
    return GetComponent<IOrbModel>("OrbModel");
}

QString gameSectionString(IOrbModel* m, const char* key)
{
    const std::string section = OrbModel::GameSection();
    return QString::fromStdString(m->GetStringValue(OrbConfig::AppConfig, section.c_str(), key));
}

bool gameSectionBool(IOrbModel* m, const char* key)
{
    const std::string section = OrbModel::GameSection();
    return m->GetBoolValue(OrbConfig::AppConfig, section.c_str(), key);
}

QString basicString(IOrbModel* m, const char* key)
{
    return QString::fromStdString(m->GetStringValue(OrbConfig::GameSettingConfig, "Basic", key));
}

} // namespace

OrbViewLauncher::OrbViewLauncher() = default;

OrbViewLauncher::~OrbViewLauncher()
{
    qDebug() << "~OrbViewLauncher called";
}

void OrbViewLauncher::requestShow()
{
    emit sigToggleWindowVisibility(true);
}

void OrbViewLauncher::requestHide()
{
    emit sigToggleWindowVisibility(false);
}

void OrbViewLauncher::requestClose()
{
    emit sigCloseWindow();
}

bool OrbViewLauncher::registerContext()
{
    m_engine->rootContext()->setContextProperty(QString::fromLatin1(kContextName), this);
    return true;
}

bool OrbViewLauncher::prepare()
{
    return true;
}

void OrbViewLauncher::DownLoadBtnClick(QString path)
{
    ORB_LOG(OrbLogInfo, "DownLoad Btn Clicked");
    emit sigDownLoadBtnClicked(path);
}

float OrbViewLauncher::GetPathCapacity(QString path)
{
    ORB_LOG(OrbLogInfo, "Get Path Capacity");
    return OrbUtils::getStorageInfo(path);
}

int OrbViewLauncher::GetDownLoadFileSize()
{
    ORB_LOG(OrbLogInfo, "Get DownLoad File Size");
    IOrbModel* m = model();
    if (!m)
        return 0;
    return OrbUtils::extractNumber(basicString(m, "GameSize"));
}

void OrbViewLauncher::SetDownloadStatus(bool status)
{
    ORB_LOG(OrbLogInfo, "Set Download Status");
    emit sigSetDownloadStatus(status);
}

void OrbViewLauncher::StartInstall()
{
    ORB_LOG(OrbLogInfo, "Start Install");
    emit sigStartInstallGame();
}

void OrbViewLauncher::StartPlay()
{
    ORB_LOG(OrbLogInfo, "Start Play");
    emit sigStartPlayGame();
}

void OrbViewLauncher::CloseAllGames()
{
    ORB_LOG(OrbLogInfo, "Close All Games");
    emit sigCloseAllGames();
}

void OrbViewLauncher::UpdateCheckStart()
{
    ORB_LOG(OrbLogInfo, "Update Check Start");
    emit sigUpdateCheckStart();
}

void OrbViewLauncher::LauncherUpdateStart()
{
    ORB_LOG(OrbLogInfo, "Launcher Update Start");
    emit sigLauncherUpdateStart();
}

void OrbViewLauncher::LauncherInstall()
{
    ORB_LOG(OrbLogInfo, "Launcher Update Install");
    emit sigLauncherInstall();
}

bool OrbViewLauncher::IsDownloadStart() const
{
    ORB_LOG(OrbLogInfo, "Is Download Start");
    IOrbModel* m = model();
    return m && gameSectionBool(m, "IsDownloadStart");
}

bool OrbViewLauncher::IsDownloadFinish() const
{
    ORB_LOG(OrbLogInfo, "Is Download Finish");
    IOrbModel* m = model();
    return m && gameSectionBool(m, "IsDownloadFinish");
}

bool OrbViewLauncher::IsInstall() const
{
    ORB_LOG(OrbLogInfo, "Is Install");
    IOrbModel* m = model();
    return m && gameSectionBool(m, "IsInstallGmae");
}

bool OrbViewLauncher::IsOpenMore() const
{
    ORB_LOG(OrbLogInfo, "Is OpenMore");
    IOrbModel* m = model();
    return m && m->GetBoolValue(OrbConfig::GameSettingConfig, "Basic", "IsOpenMoreGames");
}

bool OrbViewLauncher::IsValidPath(QString path) const
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    if (!info.exists())
        return false;
    if (info.isFile())
        return true;
    if (info.isDir())
        return QDir(path).exists();
    return false;
}

QString OrbViewLauncher::NearestExistingFolder(QString path) const
{
    if (path.trimmed().isEmpty())
        return QString();
    QString current = QDir::cleanPath(QDir::fromNativeSeparators(path));
    // A relative text would be resolved against the working folder: not a place the player chose.
    if (QDir::isRelativePath(current))
        return QString();
    while (!current.isEmpty()) {
        const QFileInfo info(current);
        if (info.exists())
            return info.isDir() ? current : QString();
        const QString parent = info.dir().path();
        if (parent == current)
            break;
        current = parent;
    }
    return QString();
}

bool OrbViewLauncher::IsRepairAvailable() const
{
    IOrbModel* m = model();
    if (!m)
        return false;
    const std::string section = OrbModel::GameSection();
    return !m->GetStringValue(OrbConfig::GameSettingConfig, "Basic", "GameManifestUrl").empty() &&
           m->GetBoolValue(OrbConfig::AppConfig, section.c_str(), "IsInstallGmae");
}

void OrbViewLauncher::VerifyAndRepair()
{
    ORB_LOG(OrbLogInfo, "Verify And Repair");
    emit sigVerifyAndRepair();
}

bool OrbViewLauncher::IsCreatablePath(QString path) const
{
    const QString nearest = NearestExistingFolder(path);
    if (nearest.isEmpty())
        return false;
    const QFileInfo target(path);
    if (target.exists())
        return target.isDir();
    return QFileInfo(nearest).isWritable();
}

QString OrbViewLauncher::GetWebViewUrl() const
{
    ORB_LOG(OrbLogInfo, "Get WebView Url");
    IOrbModel* m = model();
    return m ? basicString(m, "WebPageUrl") : QString();
}

QString OrbViewLauncher::GetInstallPath() const
{
    ORB_LOG(OrbLogInfo, "Get Install Path");
    IOrbModel* m = model();
    return m ? gameSectionString(m, "InstallDirectory") : QString();
}

void OrbViewLauncher::SetInstallPath(QString path)
{
    ORB_LOG(OrbLogInfo, "Set Install Path");
    IOrbModel* m = model();
    if (!m)
        return;
    const std::string section = OrbModel::GameSection();
    m->SetString(OrbConfig::AppConfig, section.c_str(), "InstallDirectory", path.toUtf8().constData());
    const QString downloadDir = path + QStringLiteral("/Orbdownload");
    // With all missing parents: on a fresh account the chosen folder itself may
    // not exist yet. A failure leaves the key pointing at a folder still to be made.
    if (!QDir(downloadDir).exists())
        QDir().mkpath(downloadDir);
    m->SetString(OrbConfig::AppConfig, section.c_str(), "DownLoadPath", downloadDir.toUtf8().constData());
}

QString OrbViewLauncher::GetVersionContent() const
{
    ORB_LOG(OrbLogInfo, "Get Version Content");
    IOrbModel* m = model();
    return m ? gameSectionString(m, "Version") : QString();
}

QString OrbViewLauncher::GetInstallGameInfo() const
{
    ORB_LOG(OrbLogInfo, "Get Install GameInfo");
    IOrbModel* m = model();
    return m ? basicString(m, "GameNickName") + basicString(m, "Version") : QString();
}

int OrbViewLauncher::GetDiskSpace()
{
    ORB_LOG(OrbLogInfo, "Get Disk Space");
    IOrbModel* m = model();
    if (!m)
        return 0;
    return static_cast<int>(OrbUtils::getStorageInfo(gameSectionString(m, "DownLoadPath")));
}

double OrbViewLauncher::GetDevicePixelRatio()
{
    ORB_LOG(OrbLogInfo, "Get Device Pixel Ratio");
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return 1.0;
    const double ratio = screen->devicePixelRatio();
    qDebug() << "Scale Factor:" << ratio;
    return ratio;
}

QString OrbViewLauncher::GetGameNickName()
{
    ORB_LOG(OrbLogInfo, "Get Game Nick Name");
    IOrbModel* m = model();
    return m ? basicString(m, "GameNickName") : QString();
}

QPointF OrbViewLauncher::cursonPos()
{
    return QPointF(QCursor::pos());
}
