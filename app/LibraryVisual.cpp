#include "app/LibraryVisual.hpp"

#include "platform/SfmlCompat.hpp"

#include <GL/glx.h>
#include <SFML/Config.hpp>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <climits>
#include <cstring>
#include <memory>

namespace tamsel
{

namespace
{

// Up to SFML 2.5 the library takes the best visual of all the display's screens.
constexpr bool picksAmongAllScreens = SFML_VERSION_MAJOR == 2 && SFML_VERSION_MINOR < 6;

bool hasExtension(const char* extensions, const char* name)
{
    const std::size_t length = std::strlen(name);
    for (const char* at = extensions; at && (at = std::strstr(at, name)) != nullptr; at += length)
        if ((at == extensions || at[-1] == ' ') && (at[length] == ' ' || at[length] == '\0'))
            return true;
    return false;
}

// How far the visual is from what is asked, as the library weighs it: each bit or sample missing counts 100000,
// each one more than asked counts 1.
int distance(int wanted, int offered)
{
    const int missing = wanted - offered;
    return missing > 0 ? missing * 100000 : -missing;
}

} // namespace

std::optional<VisualPlace> pickLibraryVisual(Display* display, unsigned bitsPerPixel,
                                             const sf::ContextSettings& settings)
{
    const int screen = DefaultScreen(display);
    const bool multisampling = hasExtension(glXQueryExtensionsString(display, screen), "GLX_ARB_multisample");
    XVisualInfo wanted{};
    wanted.screen = screen;
    int count = 0;
    const std::unique_ptr<XVisualInfo, int (*)(void*)> visuals(
        XGetVisualInfo(display, picksAmongAllScreens ? VisualNoMask : VisualScreenMask, &wanted, &count), XFree);
    std::optional<VisualPlace> best;
    int bestScore = INT_MAX;
    for (int i = 0; i < count; ++i)
    {
        XVisualInfo* visual = &visuals.get()[i];
        const auto get = [&](int attribute)
        {
            int value = 0;
            return glXGetConfig(display, visual, attribute, &value) == 0 ? value : 0;
        };
        if (!get(GLX_DOUBLEBUFFER))
            continue;
        const int colour = get(GLX_RED_SIZE) + get(GLX_GREEN_SIZE) + get(GLX_BLUE_SIZE) + get(GLX_ALPHA_SIZE);
        const int samples = multisampling && get(GLX_SAMPLE_BUFFERS_ARB) ? get(GLX_SAMPLES_ARB) : 0;
        const int score = distance(static_cast<int>(bitsPerPixel), colour) +
                          distance(static_cast<int>(settings.depthBits), get(GLX_DEPTH_SIZE)) +
                          distance(static_cast<int>(settings.stencilBits), get(GLX_STENCIL_SIZE)) +
                          distance(static_cast<int>(sfml::antialiasingLevel(settings)), samples);
        if (score < bestScore)
        {
            bestScore = score;
            best = VisualPlace{visual->screen, visual->depth};
        }
    }
    return best;
}

} // namespace tamsel
