#include "world/Orbisk.hpp"

#include "drawing/WorldDrawing.hpp"
#include "world/Random.hpp"
#include "world/RegionGrid.hpp"
#include "world/Step.hpp"

#include <stdexcept>

namespace tamsel
{

namespace
{

std::optional<ConfigurationError> refusalOf(const Settings& settings)
{
    try
    {
        checkSettings(settings);
    }
    catch (const ConfigurationError& error)
    {
        return error;
    }
    return std::nullopt;
}

} // namespace

Orbisk::Orbisk(const Settings& settings)
    : m_refusal(refusalOf(settings)), m_maximumInteractionDistance(settings.maximum_interaction_distance),
      m_maximumInteractionStrength(settings.maximum_interaction_strength), m_parameters(stepParameters(settings))
{
}

// Here the step and the drawing are complete types.
Orbisk::Orbisk(const Orbisk&) = default;
Orbisk::Orbisk(Orbisk&&) noexcept = default;
Orbisk& Orbisk::operator=(const Orbisk&) = default;
Orbisk& Orbisk::operator=(Orbisk&&) noexcept = default;
Orbisk::~Orbisk() = default;

void Orbisk::generateTypes(std::int32_t count)
{
    if (m_refusal)
        throw *m_refusal;
    const std::size_t types = count > 0 ? static_cast<std::size_t>(count) : 0;
    m_interactions.clear();
    m_typeColors.clear();
    m_typeCount = count;

    // The order of the draws is part of the behaviour: reach before strength, entries row by row.
    m_interactions.reserve(types * types);
    for (std::size_t i = 0; i < types * types; ++i)
    {
        Interaction interaction;
        interaction.reach = uniformFloat(0.0f, m_maximumInteractionDistance);
        interaction.strength = static_cast<float>(uniformDouble(-1.0, 1.0) * m_maximumInteractionStrength);
        m_interactions.push_back(interaction);
    }

    m_typeColors.reserve(types);
    for (std::size_t i = 0; i < types; ++i)
    {
        const std::uint32_t v = static_cast<std::uint32_t>(randomEngine());
        m_typeColors.emplace_back(static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                                  static_cast<std::uint8_t>(v >> 8), 255);
    }

    m_actingTables = actingTables(m_interactions, m_typeCount);
    m_particles = ParticleArrays();
    ++m_version;
}

void Orbisk::generateParticles(std::int32_t count)
{
    if (count > 0 && m_typeCount < 1)
        throw std::logic_error("particles need at least one type");
    const std::size_t regionCount = m_parameters.grid.regionCount();
    const std::size_t particles = count > 0 ? static_cast<std::size_t>(count) : 0;

    // Draw every particle first, in order, then sort them into their regions, keeping the order of the draws
    // inside each region.
    const sf::Vector2f size(m_parameters.width, m_parameters.height);
    const RegionGrid grid = m_parameters.grid;
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
    const std::size_t padded = particles + ParticleArrays::padding;
    stored.type.assign(padded, 0);
    stored.x.assign(padded, 0.0f);
    stored.y.assign(padded, 0.0f);
    stored.vx.assign(padded, 0.0f);
    stored.vy.assign(padded, 0.0f);
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

WorldView Orbisk::getView() const
{
    return {m_particles, m_interactions, m_typeCount, m_typeColors, {m_parameters.width, m_parameters.height},
            m_version};
}

void Orbisk::update(float dt)
{
    if (m_particles.regionStart.empty())
        throw std::logic_error("update needs the grid of generateParticles");
    m_step.getOrMake().run(m_particles, m_interactions, m_typeCount, m_actingTables, m_parameters, dt);
    ++m_version;
}

void Orbisk::draw(sf::RenderTarget& target, sf::RenderStates states) const
{
    states.transform *= getTransform();
    m_drawing.getOrMake(m_parameters.radius).draw(getView(), target, states);
}

} // namespace tamsel
