#pragma once

#include <SFML/Graphics/Image.hpp>
#include <SFML/Window/WindowHandle.hpp>

#include <memory>
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
    DisplayConnection();

    /// Whether a window can be opened at all.
    bool isOpen() const;
    /// The display asked for, for messages: the DISPLAY variable, or a note that it is not set.
    std::string getName() const;
    /// Hands the window's icon to the desktop's task bars and window lists as well (on X11 the _NET_WM_ICON
    /// property), whatever the window manager says it supports. SFML 2 always does so when it sets an icon;
    /// SFML 3 only where the window manager lists the property among those it supports.
    void showIcon(sf::WindowHandle window, const sf::Image& icon) const;

private:
    // On X11 the connection the error box shares, so that an error shown while the window is up opens no other.
    std::shared_ptr<_XDisplay> m_display;
};

} // namespace tamsel
