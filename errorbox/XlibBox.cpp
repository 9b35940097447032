#include "errorbox/XlibBox.hpp"

#include "errorbox/XlibBoxFont.hpp"
#include "errorbox/XlibBoxLayout.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>

namespace tamsel
{
namespace
{

unsigned long colour(Display* display, unsigned short red, unsigned short green, unsigned short blue,
                     unsigned long fallback)
{
    XColor wanted{};
    wanted.red = static_cast<unsigned short>(red * 257);
    wanted.green = static_cast<unsigned short>(green * 257);
    wanted.blue = static_cast<unsigned short>(blue * 257);
    wanted.flags = DoRed | DoGreen | DoBlue;
    return XAllocColor(display, DefaultColormap(display, DefaultScreen(display)), &wanted) ? wanted.pixel : fallback;
}

// The box's window, for the error handler, which has no other way to learn it, and whether the window is gone:
// another client destroyed it. DestroyNotify says so once the box watches its window; before that, the requests
// on it fail.
Window boxWindow = None;
bool boxWindowGone = false;

// Requests the box makes may fail on an odd server (focus on a window the window manager has not shown yet);
// none of them is worth ending the program over. Those that fail for want of the box's window tell it is gone.
int noteError(Display*, XErrorEvent* error)
{
    if (error->resourceid == boxWindow && (error->error_code == BadWindow || error->error_code == BadDrawable))
        boxWindowGone = true;
    return 0;
}

struct Palette
{
    unsigned long background, mark, markSign, button, buttonPressed, border;
};

void draw(Display* display, Window window, GC gc, const XlibBoxFont& font, const XlibBoxLayout& layout,
          const Palette& palette, bool pressed)
{
    constexpr int margin = XlibBoxLayout::margin, markSize = XlibBoxLayout::markSize;
    XSetForeground(display, gc, palette.background);
    XFillRectangle(display, window, gc, 0, 0, static_cast<unsigned>(layout.width),
                   static_cast<unsigned>(layout.height));

    // The error mark: a red disc with a white cross.
    XSetForeground(display, gc, palette.mark);
    XFillArc(display, window, gc, margin, margin, markSize, markSize, 0, 360 * 64);
    XSetForeground(display, gc, palette.markSign);
    XSetLineAttributes(display, gc, 4, LineSolid, CapRound, JoinRound);
    const int centre = margin + markSize / 2, arm = markSize / 5;
    XDrawLine(display, window, gc, centre - arm, centre - arm, centre + arm, centre + arm);
    XDrawLine(display, window, gc, centre - arm, centre + arm, centre + arm, centre - arm);
    XSetLineAttributes(display, gc, 1, LineSolid, CapButt, JoinMiter);

    // The message, its first line level with the middle of the mark when it is short.
    const int textHeight = static_cast<int>(layout.lines.size()) * layout.lineHeight;
    int baseline = margin + std::max(0, (markSize - textHeight) / 2) + font.getAscent();
    for (const std::string& line : layout.lines)
    {
        font.draw(window, gc, XlibBoxLayout::textLeft, baseline, line);
        baseline += layout.lineHeight;
    }

    // The one button, framed twice as the default button.
    const XRectangle& b = layout.button;
    XSetForeground(display, gc, pressed ? palette.buttonPressed : palette.button);
    XFillRectangle(display, window, gc, b.x, b.y, b.width, b.height);
    XSetForeground(display, gc, palette.border);
    XDrawRectangle(display, window, gc, b.x, b.y, b.width - 1u, b.height - 1u);
    XDrawRectangle(display, window, gc, b.x + 1, b.y + 1, b.width - 3u, b.height - 3u);
    const std::string label = "OK";
    font.draw(window, gc, b.x + (b.width - font.measure(label.data(), label.size())) / 2,
              b.y + (b.height + font.getAscent() - font.getDescent()) / 2, label);
    XFlush(display);
}

bool inside(const XRectangle& r, int x, int y)
{
    return x >= r.x && y >= r.y && x < r.x + r.width && y < r.y + r.height;
}

void setAtom(Display* display, Window window, const char* property, const char* value)
{
    const Atom atom = XInternAtom(display, value, False);
    XChangeProperty(display, window, XInternAtom(display, property, False), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&atom), 1);
}

// A fixed-size dialog titled "Error", in the middle of the screen, whose close button asks rather than kills. The
// error handler learns its id at once.
Window createWindow(Display* display, int screen, const XlibBoxLayout& layout, unsigned long background)
{
    const Window window = XCreateSimpleWindow(
        display, RootWindow(display, screen), std::max(0, (DisplayWidth(display, screen) - layout.width) / 2),
        std::max(0, (DisplayHeight(display, screen) - layout.height) / 2), static_cast<unsigned>(layout.width),
        static_cast<unsigned>(layout.height), 0, BlackPixel(display, screen), background);
    boxWindow = window;
    XStoreName(display, window, "Error");
    const char title[] = "Error";
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False),
                    XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title), sizeof title - 1);
    setAtom(display, window, "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_DIALOG");
    char name[] = "orbisk", className[] = "Orbisk";
    XClassHint classHint{name, className};
    XSetClassHint(display, window, &classHint);
    XSizeHints size{};
    size.flags = PPosition | PMinSize | PMaxSize;
    size.min_width = size.max_width = layout.width;
    size.min_height = size.max_height = layout.height;
    XSetWMNormalHints(display, window, &size);
    XWMHints hints{};
    hints.flags = InputHint | StateHint;
    hints.input = True;
    hints.initial_state = NormalState;
    XSetWMHints(display, window, &hints);
    Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, window, &deleteWindow, 1);
    // StructureNotify: the box learns when it is mapped, and when another client destroys it.
    XSelectInput(display, window,
                 ExposureMask | KeyPressMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask);
    return window;
}

// Blocks until the user dismisses the box, or the box is gone; nothing is grabbed, other windows stay usable.
void waitForDismissal(Display* display, Window window, GC gc, const XlibBoxFont& font, const XlibBoxLayout& layout,
                      const Palette& palette)
{
    const Atom wmProtocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    bool pressed = false, dismissed = false;
    XEvent event;
    while (!dismissed && !boxWindowGone)
    {
        XNextEvent(display, &event);
        switch (event.type)
        {
        case MapNotify:
            // Without a window manager nobody else gives the box the keyboard.
            XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
            break;
        case DestroyNotify:
            // Another client destroyed the box: nothing is left on the screen to wait for.
            boxWindowGone = event.xdestroywindow.window == window;
            break;
        case Expose:
            if (event.xexpose.count == 0)
                draw(display, window, gc, font, layout, palette, pressed);
            break;
        case KeyPress:
        {
            const KeySym key = XLookupKeysym(&event.xkey, 0);
            dismissed = key == XK_Return || key == XK_KP_Enter || key == XK_Escape;
            break;
        }
        case ButtonPress:
            if (event.xbutton.button == Button1 && inside(layout.button, event.xbutton.x, event.xbutton.y))
            {
                pressed = true;
                draw(display, window, gc, font, layout, palette, pressed);
            }
            break;
        case ButtonRelease:
            if (event.xbutton.button == Button1 && pressed)
            {
                dismissed = inside(layout.button, event.xbutton.x, event.xbutton.y);
                pressed = false;
                draw(display, window, gc, font, layout, palette, pressed);
            }
            break;
        case ClientMessage:
            dismissed =
                event.xclient.message_type == wmProtocols && static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow;
            break;
        default:
            break;
        }
    }
}

} // namespace

bool showXlibBox(Display* display, const std::string& text)
{
    const struct ErrorHandling
    {
        XErrorHandler previous = XSetErrorHandler(noteError);
        ~ErrorHandling()
        {
            XSetErrorHandler(previous);
            boxWindow = None;
        }
    } errorHandling;

    const int screen = DefaultScreen(display);
    const XlibBoxFont font(display, screen);
    if (!font.isOpen())
        return false;

    const unsigned long black = BlackPixel(display, screen), white = WhitePixel(display, screen);
    const Palette palette{colour(display, 0xEE, 0xEE, 0xEE, white),
                          colour(display, 0xCC, 0x1F, 0x1F, black),
                          white,
                          colour(display, 0xFA, 0xFA, 0xFA, white),
                          colour(display, 0xCC, 0xCC, 0xCC, white),
                          colour(display, 0x55, 0x55, 0x55, black)};
    const XlibBoxLayout layout = layOutXlibBox(text, font, DisplayWidth(display, screen));

    boxWindowGone = false;
    const Window window = createWindow(display, screen, layout, palette.background);
    const GC gc = XCreateGC(display, window, 0, nullptr);
    XMapRaised(display, window);
    // The errors of the requests above, if any, come in before the wait begins.
    XSync(display, False);
    waitForDismissal(display, window, gc, font, layout, palette);

    XFreeGC(display, gc);
    if (!boxWindowGone)
        XDestroyWindow(display, window);
    XSync(display, False);
    return true;
}

} // namespace tamsel
