#pragma once

#include <SFML/Graphics/Rect.hpp>
#include <SFML/Graphics/View.hpp>
#include <SFML/System/Vector2.hpp>

namespace tamsel
{

/// Where in a window of `window` pixels the world of `world` units is drawn, as shares of the window's width and
/// height (a view's viewport): as large as fits, centred, with the world's proportions; the rest of the window stays
/// black. The whole window when it has no area (minimised).
sf::FloatRect letterbox(sf::Vector2f world, sf::Vector2u window);

/// The view that shows the whole world in the letterbox of a window of `window` pixels.
sf::View letterboxView(sf::Vector2f world, sf::Vector2u window);

} // namespace tamsel
