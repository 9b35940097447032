#include "world/Orbisk.hpp"

#include "drawing/WorldDrawing.hpp"
#include "world/Random.hpp"
#include "world/RegionGrid.hpp"
#include "world/Step.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace tamsel
{

Orbisk::Orbisk(const Settings& settings) : m_settings(settings) {}

// Here the step and the drawing are complete types.
Orbisk::Orbisk(const Orbisk&) = default;
Orbisk::Orbisk(Orbisk&&) noexcept = default;
Orbisk& Orbisk::operator=(const Orbisk&) = default;
Orbisk& Orbisk::operator=(Orbisk&&) noexcept = default;
Orbisk::~Orbisk() = default;

void Orbisk::generateTypes(std::int32_t count)
{
    const Settings& s = m_settings;
    checkSettings(s);

    const std::size_t types = count > 0 ? static_cast<std::size_t>(count) : 0;
    m_interactions.clear();
    m_typeColors.clear();
    m_typeCount = count;

    // The order of the draws is part of the behaviour: reach before strength, entries row by row.
    m_interactions.reserve(types * types);
    for (std::size_t i = 0; i < types * types; ++i)
    {
        Interaction interaction;
        interaction.reach = uniformFloat(0.0f, s.maximum_interaction_distance);
        interaction.strength = static_cast<float>(uniformDouble(-1.0, 1.0) * s.maximum_interaction_strength);
        m_interactions.push_back(interaction);
    }

    m_typeColors.reserve(types);
    for (std::size_t i = 0; i < types; ++i)
    {
        const std::uint32_t v = static_cast<std::uint32_t>(randomEngine());
        m_typeColors.emplace_back(static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                                  static_cast<std::uint8_t>(v >> 8), 255);
    }

    m_particles = ParticleArrays();
    ++m_version;
}

void Orbisk::generateParticles(std::int32_t count)
{
    if (count > 0 && m_typeCount < 1)
        throw std::logic_error("particles need at least one type");
    const std::size_t regionCount =
        static_cast<std::size_t>(m_settings.regions_x_count) * static_cast<std::size_t>(m_settings.regions_y_count);
    const std::size_t particles = count > 0 ? static_cast<std::size_t>(count) : 0;

    // Draw every particle first, in order, then sort them into their regions, keeping the order of the draws
    // inside each region.
    const sf::Vector2f size = getWorldSize();
    const RegionGrid grid(m_settings);
    std::vector<Particle> drawn(particles);
    std::vector<std::uint32_t> regionOf(particles);
    std::vector<std::uint32_t> start(regionCount + 1, 0);
    for (std::size_t i = 0; i < particles; ++i)
    {
        Particle& particle = drawn[i];
        particle.type = static_cast<std::int32_t>(uniformInteger(static_cast<std::uint32_t>(m_typeCount)));
        particle.position.x = uniformFloat(0.0f, size.x);
        particle.position.y = uniformFloat(0.0f, size.y);
        // A draw can round up to the far edge itself, which lies outside the world; it wraps to the near edge.
        if (particle.position.x >= size.x)
            particle.position.x = 0.0f;
        if (particle.position.y >= size.y)
            particle.position.y = 0.0f;
        regionOf[i] = grid.regionOf(particle.position.x, particle.position.y);
        ++start[regionOf[i] + 1];
    }
    for (std::size_t r = 0; r < regionCount; ++r)
        start[r + 1] += start[r];

    ParticleArrays& stored = m_particles;
    stored.type.assign(particles, 0);
    stored.x.assign(particles, 0.0f);
    stored.y.assign(particles, 0.0f);
    stored.vx.assign(particles, 0.0f);
    stored.vy.assign(particles, 0.0f);
    std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
    for (std::size_t i = 0; i < particles; ++i)
    {
        const std::uint32_t at = fill[regionOf[i]]++;
        stored.type[at] = drawn[i].type;
        stored.x[at] = drawn[i].position.x;
        stored.y[at] = drawn[i].position.y;
    }
    stored.regionStart = std::move(start);
    ++m_version;
}

sf::Vector2f Orbisk::getWorldSize() const
{
    return {worldWidth(m_settings), worldHeight(m_settings)};
}

std::size_t Orbisk::getRegionIndex(sf::Vector2f position) const
{
    return RegionGrid(m_settings).regionOf(position.x, position.y);
}

void Orbisk::update(float dt)
{
    if (m_particles.regionStart.empty())
        throw std::logic_error("update needs the grid of generateParticles");
    m_step.get().run(m_particles, m_interactions, m_typeCount, m_settings, dt);
    ++m_version;
}

void Orbisk::draw(sf::RenderTarget& target, sf::RenderStates states) const
{
    states.transform *= getTransform();
    m_drawing.get(m_settings.effective_radius).draw(*this, target, states);
}

void Orbisk::addParticle(const Particle& particle)
{
    ParticleArrays& stored = m_particles;
    if (stored.regionStart.empty())
        throw std::logic_error("addParticle needs the grid of generateParticles");
    const sf::Vector2f size = getWorldSize();
    const sf::Vector2f p = particle.position;
    if (!(p.x >= 0.0f && p.x < size.x && p.y >= 0.0f && p.y < size.y))
        throw std::invalid_argument("particle position outside the world");
    if (particle.type < 0 || particle.type >= m_typeCount)
        throw std::invalid_argument("particle type outside the current types");
    if (stored.type.size() >= std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("too many particles");

    const std::size_t region = getRegionIndex(p);
    const auto at = static_cast<std::ptrdiff_t>(stored.regionStart[region + 1]);
    stored.type.insert(stored.type.begin() + at, particle.type);
    stored.x.insert(stored.x.begin() + at, p.x);
    stored.y.insert(stored.y.begin() + at, p.y);
    stored.vx.insert(stored.vx.begin() + at, particle.velocity.x);
    stored.vy.insert(stored.vy.begin() + at, particle.velocity.y);
    for (std::size_t r = region + 1; r < stored.regionStart.size(); ++r)
        ++stored.regionStart[r];
    ++m_version;
}

void Orbisk::setInteraction(std::int32_t row, std::int32_t column, const Interaction& interaction)
{
    if (row < 0 || row >= m_typeCount || column < 0 || column >= m_typeCount)
        throw std::out_of_range("interaction outside the type matrix");
    if (!std::isfinite(interaction.strength) || !std::isfinite(interaction.reach))
        throw std::invalid_argument("interaction strength and reach must be finite");
    m_interactions[static_cast<std::size_t>(row) * static_cast<std::size_t>(m_typeCount) +
                   static_cast<std::size_t>(column)] = interaction;
}

} // namespace tamsel
