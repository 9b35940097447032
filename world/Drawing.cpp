#include "world/Orbisk.hpp"

#include <SFML/Graphics/CircleShape.hpp>
#include <SFML/Graphics/RenderTarget.hpp>

#include <algorithm>

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

std::size_t Orbisk::getBatchCount() const
{
    return std::max<std::size_t>(1, (m_particles.type.size() + circlesPerBatch - 1) / circlesPerBatch);
}

const std::vector<sf::Vertex>& Orbisk::getBatch(std::size_t index) const
{
    if (m_particles.type.size() > maximumCachedCircles)
    {
        m_batches.clear();
        fillBatch(index, m_batchBeingDrawn);
        return m_batchBeingDrawn;
    }
    if (m_verticesStale)
    {
        m_batchBeingDrawn = {};
        m_batches.resize(getBatchCount());
        for (std::size_t batch = 0; batch < m_batches.size(); ++batch)
            fillBatch(batch, m_batches[batch]);
        m_verticesStale = false;
    }
    return m_batches[index];
}

void Orbisk::fillBatch(std::size_t index, std::vector<sf::Vertex>& vertices) const
{
    const std::size_t first = index * circlesPerBatch;
    const std::size_t last = std::min(m_particles.type.size(), first + circlesPerBatch);
    const std::size_t fanSize = m_circleFan.size();
    const std::size_t background = index == 0 ? 4 * 3 : 0;
    vertices.resize(background + (last - first) * fanSize);
    sf::Vertex* vertex = vertices.data();

    // The background: the two triangles' worth of fan that an sf::RectangleShape of the world's size fills.
    if (background > 0)
    {
        const sf::Vector2f size = getWorldSize();
        const sf::Vector2f centre(size.x / 2, size.y / 2);
        const sf::Vector2f corners[4] = {{0, 0}, {size.x, 0}, {size.x, size.y}, {0, size.y}};
        for (std::size_t i = 0; i < 4; ++i)
        {
            *vertex++ = sf::Vertex(centre, sf::Color::Black);
            *vertex++ = sf::Vertex(corners[i], sf::Color::Black);
            *vertex++ = sf::Vertex(corners[(i + 1) % 4], sf::Color::Black);
        }
    }

    // Circles in storage order, which is region order and front to back inside a region: later ones lie on top.
    // Fields are written one by one: sf::Vertex's constructors live in the library, out of the compiler's reach,
    // and texture coordinates stay zero.
    const sf::Vector2f* fan = m_circleFan.data();
    for (std::size_t i = first; i < last; ++i)
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
}

void Orbisk::draw(sf::RenderTarget& target, sf::RenderStates states) const
{
    states.transform *= getTransform();
    for (std::size_t batch = 0; batch < getBatchCount(); ++batch)
    {
        const std::vector<sf::Vertex>& vertices = getBatch(batch);
        target.draw(vertices.data(), vertices.size(), sf::Triangles, states);
    }
}

} // namespace tamsel
