#include "platform/OrbWindowPlatform.h"

#include <windows.h>

namespace OrbWindowPlatform {
namespace {

// One hooked window per process; start and stop run on one thread.
HWND g_hooked = nullptr;
WNDPROC g_previous = nullptr;
WindowEventHandler g_handler = nullptr;

BOOL CALLBACK collectWindow(HWND hwnd, LPARAM param)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == GetCurrentProcessId())
        reinterpret_cast<std::vector<OrbWindowHandle>*>(param)->push_back(hwnd);
    return TRUE;
}

LRESULT CALLBACK trackerProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Kept before the handler runs: a closing window unhooks itself.
    const WNDPROC previous = g_previous;
    const WindowEventHandler handler = g_handler;
    if (handler) {
        switch (message) {
        case WM_MOVE:
            handler(WindowEvent::Moved);
            break;
        case WM_SIZE:
            handler(WindowEvent::Resized);
            break;
        case WM_ACTIVATE:
        case WM_SETFOCUS:
        case WM_SETCURSOR:
            handler(WindowEvent::Raised);
            break;
        case WM_CLOSE:
            handler(WindowEvent::Closing);
            unhookWindow(hwnd);
            break;
        default:
            break;
        }
    }
    // The game keeps seeing every message, size and activation included.
    return previous ? CallWindowProcW(previous, hwnd, message, wParam, lParam)
                    : DefWindowProcW(hwnd, message, wParam, lParam);
}

} // namespace

std::vector<OrbWindowHandle> processTopLevelWindows()
{
    std::vector<OrbWindowHandle> windows;
    EnumWindows(collectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

QString windowTitle(OrbWindowHandle window)
{
    char title[256] = {};
    const int length = GetWindowTextA(window, title, int(sizeof title));
    return QString::fromLatin1(title, length > 0 ? length : 0);
}

bool clientAreaOnScreen(OrbWindowHandle window, QRect* area)
{
    RECT rect;
    if (!GetClientRect(window, &rect))
        return false;
    POINT topLeft{rect.left, rect.top};
    ClientToScreen(window, &topLeft);
    *area = QRect(int(topLeft.x), int(topLeft.y), int(rect.right - rect.left), int(rect.bottom - rect.top));
    return true;
}

bool hookWindow(OrbWindowHandle window, WindowEventHandler handler)
{
    if (!window || g_hooked)
        return false;
    g_handler = handler;
    const LONG_PTR previous =
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&trackerProcedure));
    if (!previous) {
        g_handler = nullptr;
        return false;
    }
    g_previous = reinterpret_cast<WNDPROC>(previous);
    g_hooked = window;
    return true;
}

void unhookWindow(OrbWindowHandle window)
{
    if (!window || window != g_hooked)
        return;
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_previous));
    g_hooked = nullptr;
    g_previous = nullptr;
    g_handler = nullptr;
}

} // namespace OrbWindowPlatform
