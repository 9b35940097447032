#pragma once

#include <SFML/Graphics/Image.hpp>

namespace tamsel
{

constexpr unsigned maximumIconSide = 256; // pixels: the largest icon desktops show, well inside what X11 accepts

/// The image as a window icon: unchanged when both sides are at most maximumSide, otherwise scaled down to fit,
/// keeping its aspect, each icon pixel the average of the image pixels it covers.
sf::Image fitIcon(const sf::Image& image, unsigned maximumSide = maximumIconSide);

} // namespace tamsel
