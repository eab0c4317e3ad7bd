#pragma once

// The handle of a native top-level window as the window tracker sees it: the
// Win32 window handle on Windows, the Qt window itself elsewhere.
#if defined(_WIN32)
struct HWND__;
using OrbWindowHandle = HWND__*;
#else
class QWindow;
using OrbWindowHandle = QWindow*;
#endif
