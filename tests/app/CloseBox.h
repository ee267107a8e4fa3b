#pragma once

#include <QString>

namespace testsupport {

// Sends the window what a window manager sends when the user clicks its close box
// (WM_DELETE_WINDOW). Kept apart from the tests: Xlib's macros clash with Qt's names.
bool pressCloseBox(const QString& display, unsigned long window);

} // namespace testsupport
