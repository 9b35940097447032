#pragma once

#include <SFML/Window/ContextSettings.hpp>

#include <optional>

struct _XDisplay;

namespace tamsel
{

/// Where a visual of the X display lies: its screen and its depth in bits.
struct VisualPlace
{
    int screen;
    int depth;
};

/// The visual the graphics library makes a window of, for a window of `bitsPerPixel` bits and `settings`, picked as
/// the library picks it (SFML 2.5 to 3, on X11): of the double-buffered OpenGL (GLX) visuals, the first of those
/// closest to what is asked, falling short of it counting far more than exceeding it. Up to SFML 2.5 the library
/// looks at every screen of the display, later at the default screen's alone. The library makes the window on the
/// default screen, of the screen's depth, whatever visual it picked: X refuses a visual of another screen or depth,
/// and the library answers by ending the program. Nothing when the display offers no such visual.
std::optional<VisualPlace> pickLibraryVisual(_XDisplay* display, unsigned bitsPerPixel,
                                             const sf::ContextSettings& settings);

} // namespace tamsel
