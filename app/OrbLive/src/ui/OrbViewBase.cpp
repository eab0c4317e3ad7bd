#include "OrbViewBase.h"

#include "core/OrbLog.h"

#include <QDateTime>
#include <QDebug>
#include <QQmlApplicationEngine>
#include <QQuickWindow>


namespace {

// One log line when the window's first frame reaches the screen: the time is
// taken on the render thread as the frame is swapped, the line is written on
// the GUI thread. Start-up measurements read it.
void noteFirstFrame(QObject* context, QQuickWindow* window)
{
    // Single shot: later frames do not pass through here at all.
    QObject::connect(window, &QQuickWindow::frameSwapped, context, [context]() {
        const qint64 at = QDateTime::currentMSecsSinceEpoch();
        QMetaObject::invokeMethod(context, [at]() {
            ORB_LOG(OrbLogInfo, "first frame shown at %lld ms since the epoch", static_cast<long long>(at));
        }, Qt::QueuedConnection);
    }, Qt::ConnectionType(Qt::DirectConnection | Qt::SingleShotConnection));
}

} // namespace

OrbViewBase::OrbViewBase()
{
    m_toggleConnection = connect(this, &OrbViewBase::sigToggleWindowVisibility, this, &OrbViewBase::onToggleVisibility);
    m_closeConnection = connect(this, &OrbViewBase::sigCloseWindow, this, &OrbViewBase::onClose);
    // Glyphs rasterised by the font engine rather than as distance fields: the
    // scene's texts are mostly Chinese at a handful of fixed sizes, and building
    // distance-field glyphs for them delayed the first frame by about 15 ms.
    QQuickWindow::setTextRenderType(QQuickWindow::NativeTextRendering);
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
    if (m_rootWindow)
        noteFirstFrame(this, m_rootWindow);
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
