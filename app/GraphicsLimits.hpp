#pragma once

#include <SFML/System/Vector2.hpp>

namespace tamsel
{

/// The largest window, in pixels, that the graphics system draws into faithfully: its largest viewport. A larger
/// window would show a squeezed picture or fail inside the driver. (0, 0) when the system does not say.
sf::Vector2u getLargestWindowSize();

} // namespace tamsel
