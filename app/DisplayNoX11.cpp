#include "app/Display.hpp"

namespace tamsel
{

DisplayConnection::DisplayConnection() = default;

bool DisplayConnection::isOpen() const
{
    return true;
}

std::string DisplayConnection::getName() const
{
    return "the desktop";
}

void DisplayConnection::showIcon(sf::WindowHandle, const sf::Image&) const {}

} // namespace tamsel
