// Prints the most antialiasing samples a double-buffered OpenGL (GLX) visual of the display's default screen
// offers, 0 where none is multisampled: the antialiasing level a window that asks for 8 gets there.
//
// usage: glx_samples
// Exits 1 with a message on standard error when the display cannot be opened.

#include <GL/glx.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <iostream>

int main()
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
    {
        std::cerr << "glx_samples: cannot open the display" << std::endl;
        return 1;
    }
    XVisualInfo wanted{};
    wanted.screen = DefaultScreen(display);
    int count = 0;
    XVisualInfo* visuals = XGetVisualInfo(display, VisualScreenMask, &wanted, &count);
    int most = 0;
    for (int i = 0; i < count; ++i)
    {
        int doubleBuffered = 0, sampleBuffers = 0, samples = 0;
        if (glXGetConfig(display, &visuals[i], GLX_DOUBLEBUFFER, &doubleBuffered) != 0 || !doubleBuffered)
            continue;
        glXGetConfig(display, &visuals[i], GLX_SAMPLE_BUFFERS, &sampleBuffers);
        glXGetConfig(display, &visuals[i], GLX_SAMPLES, &samples);
        if (sampleBuffers)
            most = std::max(most, samples);
    }
    if (visuals)
        XFree(visuals);
    XCloseDisplay(display);
    std::cout << most << std::endl;
    return 0;
}
