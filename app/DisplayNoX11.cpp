#include "app/Display.hpp"

namespace tamsel
{

DisplayConnection::DisplayConnection() = default;

bool DisplayConnection::isOpen() const
{
    return true;
}

std::string DisplayConnection::whyNotOpen() const
{
    return {};
}

std::string DisplayConnection::whyNoWindow(const sf::ContextSettings&) const
{
    return {};
}

unsigned DisplayConnection::getBitsPerPixel() const
{
    return 32;
}

std::optional<sf::Vector2i> DisplayConnection::getUnmanagedPosition(sf::Vector2u) const
{
    return std::nullopt;
}

void DisplayConnection::showIcon(sf::WindowHandle, const sf::Image&) const {}

} // namespace tamsel
