#include "app/Letterbox.hpp"

namespace tamsel
{

sf::FloatRect letterbox(sf::Vector2f world, sf::Vector2u window)
{
    if (window.x == 0 || window.y == 0 || !(world.x > 0) || !(world.y > 0))
        return sf::FloatRect(sf::Vector2f(0, 0), sf::Vector2f(1, 1));
    // A window wider than the world, for its height, gets bars left and right; a taller one above and below. The
    // side that fits is the whole of the window's, exactly.
    const double worldAcross = static_cast<double>(world.x) * window.y;
    const double windowAcross = static_cast<double>(window.x) * world.y;
    sf::Vector2f share(1, 1);
    if (windowAcross > worldAcross)
        share.x = static_cast<float>(worldAcross / windowAcross);
    else
        share.y = static_cast<float>(windowAcross / worldAcross);
    return sf::FloatRect(sf::Vector2f((1 - share.x) / 2, (1 - share.y) / 2), share);
}

sf::View letterboxView(sf::Vector2f world, sf::Vector2u window)
{
    sf::View view(sf::FloatRect(sf::Vector2f(0, 0), world));
    view.setViewport(letterbox(world, window));
    return view;
}

} // namespace tamsel
