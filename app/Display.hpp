#pragma once

#include <SFML/Graphics/Image.hpp>
#include <SFML/Window/ContextSettings.hpp>
#include <SFML/Window/WindowHandle.hpp>

#include <SFML/System/Vector2.hpp>

#include <memory>
#include <optional>
#include <string>

struct _XDisplay;

namespace tamsel
{

/// A connection to the desktop's display, held while the window is created. Holding it closes a race: a bare X
/// server resets when its last client leaves, and a window opened during that reset would be refused, which the
/// graphics library answers by aborting.
class DisplayConnection
{
public:
    /// Connects, unless the process has too few file descriptors left for the window: then the graphics library
    /// and the graphics driver would fail on their own, each with a message of its own or none, or end the program.
    DisplayConnection();

    /// Whether the program is connected to the display.
    bool isOpen() const;
    /// Why the program is not connected, for standard error, where no box can be shown: too few free file
    /// descriptors, or no display to connect to.
    std::string whyNotOpen() const;
    /// Why no window with these context settings can be opened on the display, for the error box; empty when one
    /// can. The graphics library would crash or end the program instead: on X11 it needs a double-buffered
    /// true-colour GLX visual (an X server without GLX, a screen of 8 bits offer none) that it picks on the
    /// screen and of the depth the window is made on, and a connection of its own to the display.
    std::string whyNoWindow(const sf::ContextSettings& context) const;
    /// The bits per pixel to ask the window for: 32, unless the screen's own pixels are narrower (a screen of 16
    /// bits), and then the screen's depth. On such a screen the graphics library would pick a 32-bit visual, whose
    /// window X refuses as the library creates it.
    unsigned getBitsPerPixel() const;
    /// Where a window of this size stands centred on the screen, each side at 0 where it does not fit; nothing
    /// where a window manager places windows. Left to itself, the graphics library (SFML 2.5) centres the window's
    /// top by the screen's width, on a wide screen partly below its bottom edge.
    std::optional<sf::Vector2i> getUnmanagedPosition(sf::Vector2u size) const;
    /// Hands the window's icon to the desktop's task bars and window lists as well (on X11 the _NET_WM_ICON
    /// property), whatever the window manager says it supports. SFML 2 always does so when it sets an icon;
    /// SFML 3 only where the window manager lists the property among those it supports.
    void showIcon(sf::WindowHandle window, const sf::Image& icon) const;

private:
    // Why the window would lack file descriptors; empty when enough are free.
    std::string m_descriptorShortage;
    // On X11 the connection the error box shares, so that an error shown while the window is up opens no other.
    std::shared_ptr<_XDisplay> m_display;
};

} // namespace tamsel
