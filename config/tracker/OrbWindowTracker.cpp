// The game window tracker: system-neutral state and reactions. The system side
// (enumeration, client area, hooking) is in platform/OrbWindowPlatform*.cpp.

#include "OrbWindowTracker_p.h"

#include "platform/OrbWindowPlatform.h"

#include <QDebug>
#include <QMetaObject>
#include <QPointer>
#include <QQuickWindow>

namespace {

// Process-wide tracker state; start and stop are meant for one thread.
OrbWindowHandle g_tracked = nullptr;
// Guarded: an overlay destroyed while tracking must not be addressed.
QPointer<QQuickWindow> g_overlay;

const char kLauncherTitle[] = "OrbLive";

OrbWindowHandle searchGameWindow(const QQuickWindow* overlay)
{
    for (OrbWindowHandle window : OrbWindowPlatform::processTopLevelWindows()) {
        const QString text = OrbWindowPlatform::windowTitle(window);
        // The overlay is a top-level window of this process too; following
        // itself would make no sense.
        const bool isOverlay =
#if defined(_WIN32)
            overlay && overlay->handle() && reinterpret_cast<OrbWindowHandle>(overlay->winId()) == window;
#else
            overlay && overlay == window;
#endif
        if (!text.isEmpty() && text != QLatin1String(kLauncherTitle) && !isOverlay) {
            qDebug().noquote() << QStringLiteral("窗口标题: ") + text;
            return window;
        }
        qDebug().noquote() << QStringLiteral("无法获取窗口标题。");
    }
    return nullptr;
}

void invoke(const char* method)
{
    if (QQuickWindow* overlay = g_overlay.data())
        QMetaObject::invokeMethod(overlay, method, Qt::AutoConnection);
}

void onGameWindowEvent(OrbWindowPlatform::WindowEvent event)
{
    using OrbWindowPlatform::WindowEvent;
    switch (event) {
    case WindowEvent::Moved:
    case WindowEvent::Resized:
        OrbWindowTracker::updatePosition(g_overlay.data(), g_tracked);
        break;
    case WindowEvent::Raised:
        invoke("raise");
        break;
    case WindowEvent::Closing:
        invoke("close");
        break;
    }
}

} // namespace

OrbWindowHandle OrbWindowTracker::findGameWindow()
{
    return searchGameWindow(g_overlay.data());
}

void OrbWindowTracker::start(QQuickWindow* window)
{
    g_overlay = window;
    if (g_tracked || !window)
        return;
    const OrbWindowHandle found = searchGameWindow(window);
    if (OrbWindowPlatform::hookWindow(found, &onGameWindowEvent))
        g_tracked = found;
}

void OrbWindowTracker::stop()
{
    if (!g_tracked)
        return;
    OrbWindowPlatform::unhookWindow(g_tracked);
    g_tracked = nullptr;
    g_overlay = nullptr;
}

void OrbWindowTracker::updatePosition(QQuickWindow* window, OrbWindowHandle hwnd)
{
    QRect area;
    if (!hwnd || !OrbWindowPlatform::clientAreaOnScreen(hwnd, &area) || !window)
        return;
    QMetaObject::invokeMethod(window, "setWidth", Qt::AutoConnection, Q_ARG(int, area.width()));
    QMetaObject::invokeMethod(window, "setHeight", Qt::AutoConnection, Q_ARG(int, area.height()));
    QMetaObject::invokeMethod(window, "setX", Qt::AutoConnection, Q_ARG(int, area.x()));
    QMetaObject::invokeMethod(window, "setY", Qt::AutoConnection, Q_ARG(int, area.y()));
}
