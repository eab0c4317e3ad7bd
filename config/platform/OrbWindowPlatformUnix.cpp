#include "platform/OrbWindowPlatform.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QWindow>

namespace OrbWindowPlatform {
namespace {

// Stands in for a replaced window procedure: it sees the window's events first
// and always lets them through.
class WindowHook final : public QObject {
public:
    explicit WindowHook(WindowEventHandler handler) : m_handler(handler) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::Move:
            m_handler(WindowEvent::Moved);
            break;
        case QEvent::Resize:
            m_handler(WindowEvent::Resized);
            break;
        case QEvent::WindowActivate:
        case QEvent::FocusIn:
        case QEvent::Enter:
            m_handler(WindowEvent::Raised);
            break;
        case QEvent::Close:
            m_handler(WindowEvent::Closing);
            unhookWindow(qobject_cast<QWindow*>(watched));
            break;
        default:
            break;
        }
        return false;
    }

private:
    WindowEventHandler m_handler;
};

// The raw pointer names the hooked window even after it was destroyed; the
// guarded one tells whether it still exists.
QWindow* g_hookedWindow = nullptr;
QPointer<QWindow> g_hookedAlive;
WindowHook* g_hook = nullptr;

} // namespace

std::vector<OrbWindowHandle> processTopLevelWindows()
{
    std::vector<OrbWindowHandle> windows;
    if (!qGuiApp)
        return windows;
    const QWindowList all = QGuiApplication::topLevelWindows();
    windows.reserve(size_t(all.size()));
    for (QWindow* window : all)
        windows.push_back(window);
    return windows;
}

QString windowTitle(OrbWindowHandle window)
{
    return window ? window->title().left(255) : QString();
}

bool clientAreaOnScreen(OrbWindowHandle window, QRect* area)
{
    // A top-level QWindow's geometry is its client area in screen coordinates.
    if (!window)
        return false;
    *area = window->geometry();
    return true;
}

bool hookWindow(OrbWindowHandle window, WindowEventHandler handler)
{
    if (!window || !handler || g_hook)
        return false;
    // A filter must live in its window's thread.
    g_hook = new WindowHook(handler);
    g_hook->moveToThread(window->thread());
    g_hookedWindow = window;
    g_hookedAlive = window;
    window->installEventFilter(g_hook);
    return true;
}

void unhookWindow(OrbWindowHandle window)
{
    if (!g_hook || window != g_hookedWindow)
        return;
    if (g_hookedAlive)
        g_hookedAlive->removeEventFilter(g_hook);
    // The hook may be the filter running right now: delete it from the loop.
    g_hook->deleteLater();
    g_hook = nullptr;
    g_hookedWindow = nullptr;
    g_hookedAlive.clear();
}

} // namespace OrbWindowPlatform
