#pragma once

#include <SFML/System/Vector2.hpp>

namespace sf
{
class RenderWindow;
}

namespace tamsel
{

/// The largest window, in pixels, that the graphics system draws into faithfully: its largest viewport. A larger
/// window would show a squeezed picture or fail inside the driver. (0, 0) when the system does not say.
sf::Vector2u getLargestWindowSize();

/// Whether the graphics system draws into the window: a corner cleared to a colour reads back in that colour.
/// Leaves the window's back buffer cleared to that colour, unshown. True when the system does not say.
bool canDrawInto(sf::RenderWindow& window);

} // namespace tamsel
