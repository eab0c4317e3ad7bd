#include "OrbBackend.h"

#include "core/ComponentRegistry.h"

#include <OrbNetwork.h>

#include <QDebug>

OrbBackend::OrbBackend(QObject* parent) : QObject(parent) {}

OrbBackend::~OrbBackend()
{
    qDebug() << "~OrbBackend called";
    OrbRegistry::ResetCache<IOrbNetwork>();
    m_network.reset();
}

void OrbBackend::Init()
{
    if (m_network)
        return;
    m_network = std::make_unique<OrbNetwork>();
}

void OrbBackend::Uninit()
{
    m_network.reset();
}

std::string OrbBackend::GetName()
{
    return "OrbBackend";
}

// The transfers arrive with the download work; until then nothing is accepted.
bool OrbBackend::RequestAsnycGameSettingUrl(const QString&, const QString&)
{
    return false;
}

bool OrbBackend::RequestAsnycDownLoadUrl(const QString&, const QString&)
{
    return false;
}

bool OrbBackend::RequestAsnycLauncherUpdateUrl(const QString&, const QString&)
{
    return false;
}

void OrbBackend::StopDownLoad() {}
