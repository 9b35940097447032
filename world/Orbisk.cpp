#include "world/Orbisk.hpp"

#include "world/Random.hpp"

#include <SFML/Graphics/CircleShape.hpp>
#include <SFML/Graphics/RenderTarget.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace tamsel
{

namespace
{

constexpr std::size_t circlePointCount = 30;

// The triangles SFML fills for a convex shape: a fan around the centre of the points' bounding box, from each
// point to the next and from the last back to the first. Taking the points from sf::CircleShape itself keeps
// every corner bit for bit where a circle shape would put it.
std::vector<sf::Vector2f> circleFan(float radius)
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

} // namespace

Orbisk::Orbisk(const Settings& settings)
    : repulsion_strength(settings.repulsion_strength), stablized_zone(settings.stablized_zone),
      effective_radius(settings.effective_radius), regions_x_count(settings.regions_x_count),
      regions_y_count(settings.regions_y_count), region_size(settings.region_size), friction(settings.friction),
      maximum_interaction_distance(settings.maximum_interaction_distance),
      maximum_interaction_strength(settings.maximum_interaction_strength),
      m_circleFan(circleFan(settings.effective_radius))
{
}

void Orbisk::generateTypes(std::int32_t count)
{
    // The step only searches a particle's own and its eight neighbouring regions, so no interaction may reach
    // further than one region beyond the close-range zones.
    if (maximum_interaction_distance > (region_size - effective_radius) - stablized_zone)
        throw ConfigurationError("invalid maximum effective distance");

    const std::size_t types = count > 0 ? static_cast<std::size_t>(count) : 0;
    interactions.clear();
    typeColors.clear();
    typeCount = count;

    // The order of the draws is part of the behaviour: reach before strength, entries row by row.
    interactions.reserve(types * types);
    for (std::size_t i = 0; i < types * types; ++i)
    {
        Interaction interaction;
        interaction.reach = uniformFloat(0.0f, maximum_interaction_distance);
        interaction.strength = static_cast<float>(uniformDouble(-1.0, 1.0) * maximum_interaction_strength);
        interactions.push_back(interaction);
    }

    typeColors.reserve(types);
    for (std::size_t i = 0; i < types; ++i)
    {
        const std::uint32_t v = static_cast<std::uint32_t>(randomEngine());
        typeColors.emplace_back(static_cast<sf::Uint8>(v >> 24), static_cast<sf::Uint8>(v >> 16),
                                static_cast<sf::Uint8>(v >> 8), 255);
    }

    m_regionStart.clear();
    m_type.clear();
    m_x.clear();
    m_y.clear();
    m_vx.clear();
    m_vy.clear();
    m_verticesStale = true;
}

void Orbisk::generateParticles(std::int32_t count)
{
    if (count > 0 && typeCount < 1)
        throw std::logic_error("particles need at least one type");
    const std::size_t regionCount =
        static_cast<std::size_t>(regions_x_count) * static_cast<std::size_t>(regions_y_count);
    const std::size_t particles = count > 0 ? static_cast<std::size_t>(count) : 0;

    // Draw every particle first, in order, then sort them into their regions, keeping the order of the draws
    // inside each region.
    const sf::Vector2f size = getWorldSize();
    std::vector<Particle> drawn(particles);
    std::vector<std::uint32_t> regionOf(particles);
    std::vector<std::uint32_t> start(regionCount + 1, 0);
    for (std::size_t i = 0; i < particles; ++i)
    {
        Particle& particle = drawn[i];
        particle.type = static_cast<std::int32_t>(uniformInteger(static_cast<std::uint32_t>(typeCount)));
        particle.position.x = uniformFloat(0.0f, size.x);
        particle.position.y = uniformFloat(0.0f, size.y);
        // A draw can round up to the far edge itself, which lies outside the world; it wraps to the near edge.
        if (particle.position.x >= size.x)
            particle.position.x = 0.0f;
        if (particle.position.y >= size.y)
            particle.position.y = 0.0f;
        regionOf[i] = static_cast<std::uint32_t>(getRegionIndex(particle.position));
        ++start[regionOf[i] + 1];
    }
    for (std::size_t r = 0; r < regionCount; ++r)
        start[r + 1] += start[r];

    m_type.assign(particles, 0);
    m_x.assign(particles, 0.0f);
    m_y.assign(particles, 0.0f);
    m_vx.assign(particles, 0.0f);
    m_vy.assign(particles, 0.0f);
    std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
    for (std::size_t i = 0; i < particles; ++i)
    {
        const std::uint32_t at = fill[regionOf[i]]++;
        m_type[at] = drawn[i].type;
        m_x[at] = drawn[i].position.x;
        m_y[at] = drawn[i].position.y;
    }
    m_regionStart = std::move(start);
    m_verticesStale = true;
}

sf::Vector2f Orbisk::getWorldSize() const
{
    return {static_cast<float>(regions_x_count) * region_size, static_cast<float>(regions_y_count) * region_size};
}

Particle Orbisk::particleAt(std::size_t index) const
{
    Particle particle;
    particle.type = m_type[index];
    particle.position = {m_x[index], m_y[index]};
    particle.velocity = {m_vx[index], m_vy[index]};
    return particle;
}

void Orbisk::addParticle(const Particle& particle)
{
    if (m_regionStart.empty())
        throw std::logic_error("addParticle needs the grid of generateParticles");
    const sf::Vector2f size = getWorldSize();
    const sf::Vector2f p = particle.position;
    if (!(p.x >= 0.0f && p.x < size.x && p.y >= 0.0f && p.y < size.y))
        throw std::invalid_argument("particle position outside the world");
    if (particle.type < 0 || particle.type >= typeCount)
        throw std::invalid_argument("particle type outside the current types");
    if (m_type.size() >= std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("too many particles");

    const std::size_t region = getRegionIndex(p);
    const auto at = static_cast<std::ptrdiff_t>(m_regionStart[region + 1]);
    m_type.insert(m_type.begin() + at, particle.type);
    m_x.insert(m_x.begin() + at, p.x);
    m_y.insert(m_y.begin() + at, p.y);
    m_vx.insert(m_vx.begin() + at, particle.velocity.x);
    m_vy.insert(m_vy.begin() + at, particle.velocity.y);
    for (std::size_t r = region + 1; r < m_regionStart.size(); ++r)
        ++m_regionStart[r];
    m_verticesStale = true;
}

void Orbisk::setInteraction(std::int32_t row, std::int32_t column, const Interaction& interaction)
{
    if (row < 0 || row >= typeCount || column < 0 || column >= typeCount)
        throw std::out_of_range("interaction outside the type matrix");
    if (!std::isfinite(interaction.strength) || !std::isfinite(interaction.reach))
        throw std::invalid_argument("interaction strength and reach must be finite");
    interactions[static_cast<std::size_t>(row) * static_cast<std::size_t>(typeCount) +
                 static_cast<std::size_t>(column)] = interaction;
}

std::size_t Orbisk::getBatchCount() const
{
    return std::max<std::size_t>(1, (m_type.size() + circlesPerBatch - 1) / circlesPerBatch);
}

const std::vector<sf::Vertex>& Orbisk::getBatch(std::size_t index) const
{
    if (m_type.size() > maximumCachedCircles)
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
    const std::size_t last = std::min(m_type.size(), first + circlesPerBatch);
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
        const sf::Color color = typeColors[static_cast<std::size_t>(m_type[i])];
        const float x = m_x[i], y = m_y[i];
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
