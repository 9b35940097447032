#include "world/Orbisk.hpp"

#include <SFML/Graphics/CircleShape.hpp>
#include <SFML/Graphics/RenderTarget.hpp>

namespace tamsel
{

namespace
{

constexpr std::size_t circlePointCount = 30;

} // namespace

// The triangles SFML fills for a convex shape: a fan around the centre of the points' bounding box, from each
// point to the next and from the last back to the first. Taking the points from sf::CircleShape itself keeps
// every corner bit for bit where a circle shape would put it.
std::vector<sf::Vector2f> Orbisk::makeCircleFan(float radius)
{
    const sf::CircleShape circle(radius, circlePointCount);
    const sf::FloatRect bounds = circle.getLocalBounds();
    const sf::Vector2f centre(bounds.left + bounds.width / 2, bounds.top + bounds.height / 2);
    std::vector<sf::Vector2f> fan;
    for (std::size_t i = 0; i < circlePointCount; ++i)
    {
        fan.push_back(centre);
        fan.push_back(circle.getPoint(i));
        fan.push_back(circle.getPoint((i + 1) % circlePointCount));
    }
    return fan;
}

const sf::VertexArray& Orbisk::getVertices() const
{
    if (!m_verticesStale)
        return m_vertices;

    // The background: the two triangles' worth of fan that an sf::RectangleShape of the world's size fills.
    const sf::Vector2f size = getWorldSize();
    const sf::Vector2f centre(size.x / 2, size.y / 2);
    const sf::Vector2f corners[4] = {{0, 0}, {size.x, 0}, {size.x, size.y}, {0, size.y}};

    const std::size_t particles = m_particles.type.size();
    m_vertices.resize(4 * 3 + particles * m_circleFan.size());
    sf::Vertex* vertex = &m_vertices[0];
    for (std::size_t i = 0; i < 4; ++i)
    {
        *vertex++ = sf::Vertex(centre, sf::Color::Black);
        *vertex++ = sf::Vertex(corners[i], sf::Color::Black);
        *vertex++ = sf::Vertex(corners[(i + 1) % 4], sf::Color::Black);
    }

    // Circles in storage order, which is region order and front to back inside a region: later ones lie on top.
    // Fields are written one by one: sf::Vertex's constructors live in the library, out of the compiler's reach,
    // and texture coordinates stay zero.
    const std::size_t fanSize = m_circleFan.size();
    const sf::Vector2f* fan = m_circleFan.data();
    for (std::size_t i = 0; i < particles; ++i)
    {
        const sf::Color color = m_typeColors[static_cast<std::size_t>(m_particles.type[i])];
        const float x = m_particles.x[i], y = m_particles.y[i];
        for (std::size_t c = 0; c < fanSize; ++c, ++vertex)
        {
            vertex->position.x = fan[c].x + x;
            vertex->position.y = fan[c].y + y;
            vertex->color = color;
        }
    }
    m_verticesStale = false;
    return m_vertices;
}

void Orbisk::draw(sf::RenderTarget& target, sf::RenderStates states) const
{
    states.transform *= getTransform();
    target.draw(getVertices(), states);
}

} // namespace tamsel
