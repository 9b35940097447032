#pragma once

#include "settings/Settings.hpp"

#include <SFML/Graphics/Color.hpp>
#include <SFML/Graphics/Drawable.hpp>
#include <SFML/Graphics/Transformable.hpp>
#include <SFML/System/Vector2.hpp>

#include <cstdint>
#include <list>
#include <vector>

namespace tamsel
{

/// How particles of one type act on particles of another.
struct Interaction
{
    float strength = 0.0f; // signed: positive pushes the moved particle away, negative pulls it closer
    float reach = 0.0f;    // world units: width of the band beyond effective_radius + stablized_zone
};

struct Particle
{
    std::int32_t type = 0; // 0 <= type < type count
    sf::Vector2f position; // world units, inside [0, width) x [0, height)
    sf::Vector2f velocity; // world units per second
};

/// The simulated world: particles sorted into a wrap-around grid of square regions, a type-by-type interaction
/// matrix and one colour per type. Every particle lies in the region that contains its position.
class Orbisk : public sf::Drawable, public sf::Transformable
{
public:
    using Region = std::list<Particle>;

    /// Copies the physical and geometric settings; the world starts with no types and no regions.
    explicit Orbisk(const Settings& settings);

    /// Draws a new count x count interaction matrix and count colours and removes every particle and region.
    /// Throws ConfigurationError "invalid maximum effective distance" when an interaction could reach beyond the
    /// neighbouring regions; the world is then unchanged.
    void generateTypes(std::int32_t count);

    /// Rebuilds the grid as empty regions and scatters count particles at rest. Needs a type count of at least 1
    /// when count > 0.
    void generateParticles(std::int32_t count);

    /// Advances every particle by dt seconds. Needs a populated grid (generateParticles first).
    void update(float dt);

    const std::vector<Interaction>& getInteractions() const { return interactions; }
    const std::vector<sf::Color>& getTypeColors() const { return typeColors; }
    /// Regions in index order (column + row x regions_x_count), each from front to back.
    const std::vector<Region>& getRegions() const { return regions; }
    std::int32_t getTypeCount() const { return typeCount; }
    /// World units: regions_x_count x region_size by regions_y_count x region_size.
    sf::Vector2f getWorldSize() const;
    /// Index of the region that holds a position inside the world; never outside the grid.
    std::size_t getRegionIndex(sf::Vector2f position) const;

    /// Appends a particle at the back of the region that contains its position. Throws std::invalid_argument for
    /// a position outside the world or a type outside the current types, std::logic_error before the grid exists.
    void addParticle(const Particle& particle);
    /// Replaces how particles of type `column` act on particles of type `row`. Throws std::out_of_range.
    void setInteraction(std::int32_t row, std::int32_t column, const Interaction& interaction);

private:
    void draw(sf::RenderTarget& target, sf::RenderStates states) const override;

    std::vector<Interaction> interactions; // typeCount x typeCount, row: moved type, column: acting type
    std::vector<sf::Color> typeColors;     // indexed by type
    std::vector<Region> regions;           // empty until generateParticles
    std::int32_t typeCount = 0;

    float repulsion_strength;
    float stablized_zone;
    float effective_radius;
    std::int32_t regions_x_count;
    std::int32_t regions_y_count;
    float region_size;
    float friction;
    float maximum_interaction_distance;
    float maximum_interaction_strength;
};

} // namespace tamsel
