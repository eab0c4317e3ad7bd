#include "OrbViewBase.h"

#include <QDebug>
#include <QQmlApplicationEngine>
#include <QQuickWindow>

OrbViewBase::OrbViewBase()
{
    m_toggleConnection = connect(this, &OrbViewBase::sigToggleWindowVisibility, this, &OrbViewBase::onToggleVisibility);
    m_closeConnection = connect(this, &OrbViewBase::sigCloseWindow, this, &OrbViewBase::onClose);
    m_engine = new QQmlApplicationEngine();
}

OrbViewBase::~OrbViewBase()
{
    qDebug() << "~OrbViewBase called";
    disconnect(m_toggleConnection);
    disconnect(m_closeConnection);
    if (m_rootWindow) {
        m_rootWindow->close();
        m_rootWindow->deleteLater();
    }
    m_rootWindow = nullptr;
    delete m_engine;
    m_engine = nullptr;
}

bool OrbViewBase::loadScene(const QUrl& url)
{
    if (!m_engine)
        return false;
    m_engine->load(url);
    const QList<QObject*> roots = m_engine->rootObjects();
    if (roots.isEmpty())
        return false;
    m_rootWindow = qobject_cast<QQuickWindow*>(roots.first());
    return true;
}

bool OrbViewBase::onToggleVisibility(bool bVisible)
{
    if (!m_rootWindow)
        return false;
    m_rootWindow->setProperty("visible", bVisible);
    return true;
}

bool OrbViewBase::onClose()
{
    if (!m_rootWindow)
        return false;
    m_rootWindow->close();
    return true;
}

bool OrbViewBase::prepare()
{
    return false;
}
