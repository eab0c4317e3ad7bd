#pragma once

// System side of the game window tracker: finding the process's top-level
// windows, measuring a client area and hooking a window's message handling.
// Win32 in OrbWindowPlatformWin.cpp, Qt windows in OrbWindowPlatformUnix.cpp.

#include "OrbWindowHandle.h"

#include <QRect>
#include <QString>

#include <vector>

namespace OrbWindowPlatform {

// What the hooked window went through, reduced to what the overlay follows.
enum class WindowEvent {
    Moved,
    Resized,
    Raised,  // activated, focused or hovered
    Closing, // about to close; the hook is already removed when this returns
};

using WindowEventHandler = void (*)(WindowEvent event);

// Top-level windows of the calling process, in the system's enumeration order.
std::vector<OrbWindowHandle> processTopLevelWindows();

// Title, at most 255 characters: on Windows the system code page's bytes read as
// Latin-1, elsewhere the Qt window's own title.
QString windowTitle(OrbWindowHandle window);

// Client area in screen coordinates, in the system's own pixels; false for an
// invalid window.
bool clientAreaOnScreen(OrbWindowHandle window, QRect* area);

// Hooks `window` so `handler` runs before each followed event reaches the
// window's own handling; every event is passed on. At most one window is
// hooked at a time. False when the window cannot be hooked (for example null).
bool hookWindow(OrbWindowHandle window, WindowEventHandler handler);

// Puts the window's own handling back; nothing when `window` is not hooked.
void unhookWindow(OrbWindowHandle window);

} // namespace OrbWindowPlatform
