#include "OrbLauncherManager.h"

#include "core/OrbLog.h"

#include <QDebug>
#include <QQmlApplicationEngine>
#include <QUrl>

OrbLauncherManager::OrbLauncherManager(QObject* parent) : QObject(parent) {}

OrbLauncherManager::~OrbLauncherManager()
{
    qDebug() << "~OrbLauncherManager called";
    m_engine.reset();
}

void OrbLauncherManager::Init()
{
    if (m_engine)
        return;
    m_engine = std::make_unique<QQmlApplicationEngine>();
    m_engine->load(QUrl(QString::fromLatin1(kSceneUrl)));
    if (m_engine->rootObjects().isEmpty())
        ORB_LOG(OrbLogError, "failed to load the scene %s", kSceneUrl);
}

void OrbLauncherManager::Uninit()
{
    m_engine.reset();
}

std::string OrbLauncherManager::GetName()
{
    return "OrbLauncherManager";
}
