#pragma once

#include <SFML/Graphics/Image.hpp>

#include <string>

namespace tamsel
{

constexpr unsigned maximumIconSide = 256; // pixels: the largest icon desktops show, well inside what X11 accepts

/// The picture in the file at `path`, or an empty image when it cannot be read, when memory cannot hold its
/// pixels, or when it is no regular file (a link counts as what it leads to): a pipe would block the program until
/// someone writes to it, and a device or a socket is no picture.
sf::Image loadIcon(const std::string& path);

/// The image as a window icon: unchanged when both sides are at most maximumSide, otherwise scaled down to fit,
/// keeping its aspect, each icon pixel the average of the image pixels it covers. An empty image when memory cannot
/// hold the icon.
sf::Image fitIcon(const sf::Image& image, unsigned maximumSide = maximumIconSide);

} // namespace tamsel
