#pragma once

//
//  W A R N I N G
//  -------------
//
// This file is not part of the OrbConfig API. It exists for the implementation
// of OrbUtils only and may change from version to version without notice, or
// even be removed.
//

#include "OrbWindowHandle.h"

class QQuickWindow;

// The game window tracker behind OrbUtils' window functions: one per process,
// start and stop from one thread.
namespace OrbWindowTracker {

OrbWindowHandle findGameWindow();
void start(QQuickWindow* window);
void stop();
void updatePosition(QQuickWindow* window, OrbWindowHandle hwnd);

} // namespace OrbWindowTracker
