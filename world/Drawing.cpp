#include "world/Orbisk.hpp"
#include "world/ParticleRenderer.hpp"
#include "world/SfmlCompat.hpp"

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

bool gpuDrawingEnabled = true;
// Set for the rest of the run once a context could not draw with the graphics card's circles.
bool gpuDrawingFailed = false;

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

} // namespace

RendererSlot::RendererSlot() = default;
RendererSlot::RendererSlot(const RendererSlot&) {}
RendererSlot& RendererSlot::operator=(const RendererSlot&)
{
    renderer.reset();
    return *this;
}
RendererSlot::~RendererSlot() = default;

void Orbisk::setGpuDrawing(bool enabled)
{
    gpuDrawingEnabled = enabled;
}

bool Orbisk::isGpuDrawing()
{
    return gpuDrawingEnabled && !gpuDrawingFailed;
}

// The triangles SFML fills for a convex shape: a fan around the centre of the points' bounding box, from each
// point to the next and from the last back to the first. Taking the points from sf::CircleShape itself keeps
// every corner bit for bit where a circle shape would put it.
std::vector<sf::Vector2f> Orbisk::makeCircleFan(float radius)
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
    if (m_batchesVersion != m_version)
    {
        m_batchBeingDrawn = {};
        m_batches.resize(getBatchCount());
        for (std::size_t batch = 0; batch < m_batches.size(); ++batch)
            fillBatch(batch, m_batches[batch]);
        m_batchesVersion = m_version;
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
        fillBackground(getWorldSize(), vertex);
        vertex += background;
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

const std::vector<ParticleVertex>& Orbisk::getPoints() const
{
    if (m_pointsVersion != m_version)
    {
        const std::size_t count = m_particles.type.size();
        m_points.resize(count);
        const std::int32_t* type = m_particles.type.data();
        const float* x = m_particles.x.data();
        const float* y = m_particles.y.data();
        const sf::Color* colors = m_typeColors.data();
        ParticleVertex* point = m_points.data();
        for (std::size_t i = 0; i < count; ++i)
        {
            point[i].position.x = x[i];
            point[i].position.y = y[i];
            point[i].color = colors[type[i]];
        }
        m_pointsVersion = m_version;
    }
    return m_points;
}

bool Orbisk::drawPoints(sf::RenderTarget& target, const sf::RenderStates& states) const
{
    // The background through the graphics library, which also makes the target's context active and loads the
    // view and the transform into its matrices, where the circles' program finds them.
    sf::Vertex background[4 * 3];
    fillBackground(getWorldSize(), background);
    target.draw(background, 4 * 3, sfml::triangles, states);

    if (!m_renderer.renderer)
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
        m_renderer.renderer = std::move(renderer);
    }
    m_renderer.renderer->draw(getPoints(), m_version, states.transform);
    return true;
}

void Orbisk::draw(sf::RenderTarget& target, sf::RenderStates states) const
{
    states.transform *= getTransform();
    if (gpuDrawingEnabled && !gpuDrawingFailed)
    {
        if (drawPoints(target, states))
            return;
        gpuDrawingFailed = true;
    }
    for (std::size_t batch = 0; batch < getBatchCount(); ++batch)
    {
        const std::vector<sf::Vertex>& vertices = getBatch(batch);
        target.draw(vertices.data(), vertices.size(), sfml::triangles, states);
    }
}

} // namespace tamsel
