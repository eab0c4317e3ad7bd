#include "OrbInstaller.h"

#include "core/ComponentRegistry.h"

#include <QDebug>

OrbInstaller::OrbInstaller(QObject* parent) : QObject(parent) {}

OrbInstaller::~OrbInstaller()
{
    qDebug() << "~OrbInstaller called";
    OrbRegistry::ResetCache<IOrbArchieve>();
}

void OrbInstaller::Init()
{
    connect(&m_watcher, &QFutureWatcher<QList<QString>>::finished, this, &OrbInstaller::onExtractDirFinished);
    connect(&m_watcher, &QFutureWatcher<QList<QString>>::progressValueChanged, this,
            &OrbInstaller::onExtractDirProgressChanged);
}

void OrbInstaller::Uninit()
{
    m_cancelled->store(true);
    m_future.cancel();
}

std::string OrbInstaller::GetName()
{
    return "OrbInstaller";
}

// Extraction arrives with the installer work.
bool OrbInstaller::extractEntry(QuaZip*, const QString&, const QString&)
{
    return false;
}

void OrbInstaller::extractDir(const QString&, const QString&, IOrbArchieve::extractType type)
{
    m_type = type;
}

bool OrbInstaller::removeDirContents(const QString&)
{
    return false;
}

void OrbInstaller::onExtractDirFinished() {}

void OrbInstaller::onExtractDirProgressChanged(int) {}
