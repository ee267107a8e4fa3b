#include "tests/app/CloseBox.h"

#include <X11/Xlib.h>

namespace testsupport {

bool pressCloseBox(const QString& displayName, unsigned long window) {
    Display* display = XOpenDisplay(displayName.toLatin1().constData());
    if (!display)
        return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
    XCloseDisplay(display);
    return sent != 0;
}

} // namespace testsupport
