// Asks a window to close the way a window manager does when its close button is pressed: a ClientMessage of type
// WM_PROTOCOLS carrying WM_DELETE_WINDOW, sent to the window itself. With --destroy, destroys the window instead,
// as any other client of the X server may.
//
// usage: wm_close [--destroy] WINDOW-ID
//   WINDOW-ID is decimal, or hexadecimal with 0x, as xdotool and xwininfo print it.
// Exits 0 once the message (or the destruction) is delivered to the X server, 1 with a message on standard error
// otherwise.

#include <X11/Xlib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

namespace
{

int lastError = 0;

int recordError(Display*, XErrorEvent* event)
{
    lastError = event->error_code;
    return 0;
}

// The window id written in text, or None when the text is not a number.
Window parseWindowId(const char* text)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 0);
    if (end == text || *end != '\0' || errno == ERANGE || value == 0)
        return None;
    return static_cast<Window>(value);
}

// Whether the window lists protocol among its WM_PROTOCOLS, as a window manager checks before sending it.
bool supportsProtocol(Display* display, Window window, Atom protocol)
{
    Atom* protocols = nullptr;
    int count = 0;
    if (!XGetWMProtocols(display, window, &protocols, &count))
        return false;
    bool found = false;
    for (int i = 0; i < count; ++i)
        found = found || protocols[i] == protocol;
    XFree(protocols);
    return found;
}

int fail(const std::string& message)
{
    std::cerr << "wm_close: " << message << std::endl;
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    const bool destroy = argc == 3 && std::strcmp(argv[1], "--destroy") == 0;
    if (argc != 2 && !destroy)
        return fail("usage: wm_close [--destroy] WINDOW-ID");
    const char* id = argv[argc - 1];
    const Window window = parseWindowId(id);
    if (window == None)
        return fail(std::string("not a window id: ") + id);

    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return fail("cannot open the display");
    XSetErrorHandler(recordError);
    if (destroy)
    {
        XDestroyWindow(display, window);
        XSync(display, False);
        const int error = lastError;
        XCloseDisplay(display);
        return error == 0 ? 0 : fail("destroying the window failed (X error " + std::to_string(error) + ")");
    }

    const Atom wmProtocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom wmDeleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    const bool supported = supportsProtocol(display, window, wmDeleteWindow);
    XSync(display, False);
    if (lastError != 0)
    {
        XCloseDisplay(display);
        return fail(std::string("no such window: ") + id);
    }
    if (!supported)
    {
        XCloseDisplay(display);
        return fail("the window does not take part in WM_DELETE_WINDOW");
    }

    XEvent event;
    std::memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = wmProtocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(wmDeleteWindow);
    event.xclient.data.l[1] = CurrentTime;

    const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    const int error = lastError;
    XCloseDisplay(display);
    if (!sent || error != 0)
        return fail("sending the close request failed (X error " + std::to_string(error) + ")");
    return 0;
}
