#include "world/Orbisk.hpp"

#include "world/Random.hpp"

#include <SFML/Graphics/CircleShape.hpp>
#include <SFML/Graphics/RectangleShape.hpp>
#include <SFML/Graphics/RenderTarget.hpp>

#include <cassert>
#include <cmath>
#include <stdexcept>

namespace tamsel
{

constexpr std::size_t circlePointCount = 30;

Orbisk::Orbisk(const Settings& settings)
    : repulsion_strength(settings.repulsion_strength), stablized_zone(settings.stablized_zone),
      effective_radius(settings.effective_radius), regions_x_count(settings.regions_x_count),
      regions_y_count(settings.regions_y_count), region_size(settings.region_size), friction(settings.friction),
      maximum_interaction_distance(settings.maximum_interaction_distance),
      maximum_interaction_strength(settings.maximum_interaction_strength)
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

    regions.clear();
}

void Orbisk::generateParticles(std::int32_t count)
{
    assert((count <= 0 || typeCount >= 1) && "particles need at least one type");

    regions.clear();
    regions.resize(static_cast<std::size_t>(regions_x_count) * static_cast<std::size_t>(regions_y_count));

    const sf::Vector2f size = getWorldSize();
    for (std::int32_t i = 0; i < count; ++i)
    {
        Particle particle;
        particle.type = static_cast<std::int32_t>(uniformInteger(static_cast<std::uint32_t>(typeCount)));
        particle.position.x = uniformFloat(0.0f, size.x);
        particle.position.y = uniformFloat(0.0f, size.y);
        // A draw can round up to the far edge itself, which lies outside the world; it wraps to the near edge.
        if (particle.position.x >= size.x)
            particle.position.x = 0.0f;
        if (particle.position.y >= size.y)
            particle.position.y = 0.0f;
        regions[getRegionIndex(particle.position)].push_back(particle);
    }
}

sf::Vector2f Orbisk::getWorldSize() const
{
    return {static_cast<float>(regions_x_count) * region_size, static_cast<float>(regions_y_count) * region_size};
}

std::size_t Orbisk::getRegionIndex(sf::Vector2f position) const
{
    // x / region_size can round up to the column count for x just below the width; such a position belongs to
    // the last column. A comparison that fails (NaN) yields the first column.
    const auto cell = [this](float coordinate, std::int32_t cells) -> std::size_t
    {
        const float index = std::floor(coordinate / region_size);
        if (!(index > 0.0f))
            return 0;
        if (index >= static_cast<float>(cells))
            return static_cast<std::size_t>(cells) - 1;
        return static_cast<std::size_t>(index);
    };
    return cell(position.x, regions_x_count) +
           cell(position.y, regions_y_count) * static_cast<std::size_t>(regions_x_count);
}

void Orbisk::addParticle(const Particle& particle)
{
    if (regions.empty())
        throw std::logic_error("addParticle needs the grid of generateParticles");
    const sf::Vector2f size = getWorldSize();
    const sf::Vector2f p = particle.position;
    if (!(p.x >= 0.0f && p.x < size.x && p.y >= 0.0f && p.y < size.y))
        throw std::invalid_argument("particle position outside the world");
    if (particle.type < 0 || particle.type >= typeCount)
        throw std::invalid_argument("particle type outside the current types");
    regions[getRegionIndex(p)].push_back(particle);
}

void Orbisk::setInteraction(std::int32_t row, std::int32_t column, const Interaction& interaction)
{
    if (row < 0 || row >= typeCount || column < 0 || column >= typeCount)
        throw std::out_of_range("interaction outside the type matrix");
    interactions[static_cast<std::size_t>(row) * static_cast<std::size_t>(typeCount) +
                 static_cast<std::size_t>(column)] = interaction;
}

void Orbisk::draw(sf::RenderTarget& target, sf::RenderStates states) const
{
    states.transform *= getTransform();

    sf::RectangleShape background(getWorldSize());
    background.setFillColor(sf::Color::Black);
    target.draw(background, states);

    // Later circles cover earlier ones: the back of each region, and the higher regions, lie on top.
    for (const Region& region : regions)
        for (const Particle& particle : region)
        {
            sf::CircleShape circle(effective_radius, circlePointCount);
            circle.setPosition(particle.position);
            circle.setFillColor(typeColors[static_cast<std::size_t>(particle.type)]);
            target.draw(circle, states);
        }
}

} // namespace tamsel
