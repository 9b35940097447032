#include "drawing/WorldDrawing.hpp"

#include "drawing/ParticleRenderer.hpp"
#include "platform/SfmlCompat.hpp"

#include <SFML/Graphics/CircleShape.hpp>
#include <SFML/Graphics/RenderTarget.hpp>

#include <algorithm>
#include <iostream>
#include <string>

namespace tamsel
{

namespace
{

constexpr std::size_t circlePointCount = 30;

// The two triangles that an sf::RectangleShape of the world's size fills, in black.
void fillBackground(sf::Vector2f size, sf::Vertex* vertex)
{
    const sf::Vector2f centre(size.x / 2, size.y / 2);
    const sf::Vector2f corners[4] = {{0, 0}, {size.x, 0}, {size.x, size.y}, {0, size.y}};
    for (std::size_t i = 0; i < 4; ++i)
    {
        *vertex++ = sf::Vertex{centre, sf::Color::Black};
        *vertex++ = sf::Vertex{corners[i], sf::Color::Black};
        *vertex++ = sf::Vertex{corners[(i + 1) % 4], sf::Color::Black};
    }
}

// The triangles SFML fills for a convex shape: a fan around the centre of the points' bounding box, from each
// point to the next and from the last back to the first. Taking the points from sf::CircleShape itself keeps
// every corner bit for bit where a circle shape would put it.
std::vector<sf::Vector2f> makeCircleFan(float radius)
{
    const sf::CircleShape circle(radius, circlePointCount);
    const sf::Vector2f centre = sfml::getCentre(circle.getLocalBounds());
    std::vector<sf::Vector2f> fan;
    for (std::size_t i = 0; i < circlePointCount; ++i)
    {
        fan.push_back(centre);
        fan.push_back(circle.getPoint(i));
        fan.push_back(circle.getPoint((i + 1) % circlePointCount));
    }
    return fan;
}

} // namespace

WorldDrawing::WorldDrawing(float radius) : m_circleFan(makeCircleFan(radius)) {}

WorldDrawing::~WorldDrawing() = default;

std::size_t WorldDrawing::getBatchCount(const WorldView& world)
{
    return std::max<std::size_t>(1, (world.particles.count() + circlesPerBatch - 1) / circlesPerBatch);
}

const std::vector<sf::Vertex>& WorldDrawing::getBatch(const WorldView& world, std::size_t index)
{
    if (world.particles.count() > maximumCachedCircles)
    {
        m_batches.clear();
        fillBatch(world, index, m_batchBeingDrawn);
        return m_batchBeingDrawn;
    }
    if (m_batchesVersion != world.version)
    {
        m_batchBeingDrawn = {};
        m_batches.resize(getBatchCount(world));
        for (std::size_t batch = 0; batch < m_batches.size(); ++batch)
            fillBatch(world, batch, m_batches[batch]);
        m_batchesVersion = world.version;
    }
    return m_batches[index];
}

void WorldDrawing::fillBatch(const WorldView& world, std::size_t index, std::vector<sf::Vertex>& vertices) const
{
    const ParticleArrays& particles = world.particles;
    const std::size_t first = index * circlesPerBatch;
    const std::size_t last = std::min(particles.count(), first + circlesPerBatch);
    const std::size_t fanSize = m_circleFan.size();
    const std::size_t background = index == 0 ? 4 * 3 : 0;
    vertices.resize(background + (last - first) * fanSize);
    sf::Vertex* vertex = vertices.data();

    // The background: the two triangles' worth of fan that an sf::RectangleShape of the world's size fills.
    if (background > 0)
    {
        fillBackground(world.size, vertex);
        vertex += background;
    }

    // Circles in storage order, which is region order and front to back inside a region: later ones lie on top.
    // Fields are written one by one: sf::Vertex's constructors live in the library, out of the compiler's reach,
    // and texture coordinates stay zero.
    const sf::Vector2f* fan = m_circleFan.data();
    for (std::size_t i = first; i < last; ++i)
    {
        const sf::Color color = world.typeColors[static_cast<std::size_t>(particles.type[i])];
        const float x = particles.x[i], y = particles.y[i];
        for (std::size_t c = 0; c < fanSize; ++c, ++vertex)
        {
            vertex->position.x = fan[c].x + x;
            vertex->position.y = fan[c].y + y;
            vertex->color = color;
        }
    }
}

const std::vector<ParticleVertex>& WorldDrawing::getPoints(const WorldView& world)
{
    if (m_pointsVersion != world.version)
    {
        const ParticleArrays& particles = world.particles;
        const std::size_t count = particles.count();
        m_points.resize(count);
        const std::int32_t* type = particles.type.data();
        const float* x = particles.x.data();
        const float* y = particles.y.data();
        const sf::Color* colors = world.typeColors.data();
        ParticleVertex* point = m_points.data();
        for (std::size_t i = 0; i < count; ++i)
        {
            point[i].position.x = x[i];
            point[i].position.y = y[i];
            point[i].color = colors[type[i]];
        }
        m_pointsVersion = world.version;
    }
    return m_points;
}

bool WorldDrawing::drawPoints(const WorldView& world, sf::RenderTarget& target, const sf::RenderStates& states)
{
    // The background through the graphics library, which also makes the target's context active and loads the
    // view and the transform into its matrices, where the circles' program finds them.
    sf::Vertex background[4 * 3];
    fillBackground(world.size, background);
    target.draw(background, 4 * 3, sfml::triangles, states);

    if (!m_renderer)
    {
        // A window closed before its first frame has no context to make the program in, which says nothing about
        // the driver: nothing is drawn, and a later draw makes it.
        if (!target.setActive(true))
            return true;
        auto renderer = std::make_unique<ParticleRenderer>();
        std::string error;
        if (!renderer->prepare(m_circleFan, error))
        {
            std::cerr << "Drawing without the graphics card's circles: " << error << std::endl;
            return false;
        }
        m_renderer = std::move(renderer);
    }
    m_renderer->draw(getPoints(world), world.version, states.transform);
    return true;
}

void WorldDrawing::draw(const WorldView& world, sf::RenderTarget& target, const sf::RenderStates& states)
{
    if (isGpuDrawing())
    {
        if (drawPoints(world, target, states))
            return;
        m_gpuDrawingFailed = true;
    }
    for (std::size_t batch = 0; batch < getBatchCount(world); ++batch)
    {
        const std::vector<sf::Vertex>& vertices = getBatch(world, batch);
        target.draw(vertices.data(), vertices.size(), sfml::triangles, states);
    }
}

} // namespace tamsel
