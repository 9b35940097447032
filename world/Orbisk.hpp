#pragma once

#include "settings/Settings.hpp"
#include "world/Particles.hpp"
#include "world/StepParameters.hpp"
#include "world/Uncopied.hpp"

#include <SFML/Graphics/Color.hpp>
#include <SFML/Graphics/Drawable.hpp>
#include <SFML/Graphics/Transformable.hpp>
#include <SFML/System/Vector2.hpp>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <vector>

namespace tamsel
{

class Step;
class WorldDrawing;

/// The simulated world: particles sorted into a wrap-around grid of square regions, a type-by-type interaction
/// matrix and one colour per type. Every particle lies in the region that contains its position.
///
/// Particles are stored region after region in contiguous arrays (one per field), so the step walks memory in
/// order; getRegion() presents them as regions of particles, each from front to back.
class Orbisk : public sf::Drawable, public sf::Transformable
{
public:
    class ParticleIterator;
    class Region;

    /// Copies the physical and geometric settings and derives the step's numbers from them; the world starts with no
    /// types and no regions. Settings that checkSettings refuses are refused by generateTypes.
    explicit Orbisk(const Settings& settings);
    Orbisk(const Orbisk&);
    Orbisk(Orbisk&&) noexcept;
    Orbisk& operator=(const Orbisk&);
    Orbisk& operator=(Orbisk&&) noexcept;
    ~Orbisk() override;

    /// Draws a new count x count interaction matrix and count colours and removes every particle and region.
    /// Throws the ConfigurationError of checkSettings for settings it refuses, "invalid maximum effective distance"
    /// when an interaction could reach beyond the neighbouring regions; the world is then unchanged.
    void generateTypes(std::int32_t count);

    /// Rebuilds the grid as empty regions and scatters count particles at rest. Throws std::logic_error for
    /// particles without any type (count > 0 before generateTypes with a count of at least 1).
    void generateParticles(std::int32_t count);

    /// Advances every particle by dt seconds. Throws std::logic_error before generateParticles built the grid.
    void update(float dt);

    const std::vector<Interaction>& getInteractions() const { return m_interactions; }
    const std::vector<sf::Color>& getTypeColors() const { return m_typeColors; }
    std::int32_t getTypeCount() const { return m_typeCount; }
    /// regions_x_count x regions_y_count once generateParticles built the grid, 0 before.
    std::size_t getRegionCount() const;
    /// The region with index column + row x regions_x_count, index < getRegionCount(). A view of the world as it
    /// is now: the next change of the world (update, generate...) leaves it stale.
    Region getRegion(std::size_t index) const;
    /// World units: regions_x_count x region_size by regions_y_count x region_size.
    sf::Vector2f getWorldSize() const;
    /// Index of the region that holds a position inside the world; never outside the grid.
    std::size_t getRegionIndex(sf::Vector2f position) const;

private:
    // Drawing reads the particles, the colours and the version, and keeps what it made from them.
    friend class WorldDrawing;

    void draw(sf::RenderTarget& target, sf::RenderStates states) const override;

    std::vector<Interaction> m_interactions; // typeCount x typeCount, row: moved type, column: acting type
    std::vector<sf::Color> m_typeColors;     // indexed by type
    std::int32_t m_typeCount = 0;
    // The matrix's columns, as the step reads them: derived from the matrix by generateTypes.
    ActingTables m_actingTables;
    // What checkSettings said of the settings, asked once: generateTypes throws it.
    std::optional<ConfigurationError> m_refusal;
    // The physical and geometric settings, fixed for the life of the world: the bounds of the random interactions,
    // and the rest as the step's numbers, derived once. type_count and particle_count are not kept: the counts come
    // through generateTypes and generateParticles.
    float m_maximumInteractionDistance, m_maximumInteractionStrength;
    StepParameters m_parameters;
    ParticleArrays m_particles;
    Uncopied<Step> m_step;

    // Counts the changes of the world, so that what drawing made is remade only after one.
    std::uint64_t m_version = 0;
    // The drawing's programs, buffers and caches, made on the first draw.
    mutable Uncopied<WorldDrawing> m_drawing;
};

/// A particle as seen through a region: read-only copies built from the stored fields.
class Orbisk::ParticleIterator
{
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = Particle;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = Particle;

    ParticleIterator(const ParticleArrays* particles, std::size_t index) : m_particles(particles), m_index(index) {}
    Particle operator*() const { return m_particles->at(m_index); }
    ParticleIterator& operator++()
    {
        ++m_index;
        return *this;
    }
    bool operator==(const ParticleIterator& other) const { return m_index == other.m_index; }
    bool operator!=(const ParticleIterator& other) const { return m_index != other.m_index; }

private:
    const ParticleArrays* m_particles;
    std::size_t m_index;
};

/// The particles of one region, from front to back.
class Orbisk::Region
{
public:
    Region(const ParticleArrays* particles, std::size_t first, std::size_t last)
        : m_particles(particles), m_first(first), m_last(last)
    {
    }
    ParticleIterator begin() const { return {m_particles, m_first}; }
    ParticleIterator end() const { return {m_particles, m_last}; }
    std::size_t size() const { return m_last - m_first; }
    bool empty() const { return m_first == m_last; }

private:
    const ParticleArrays* m_particles;
    std::size_t m_first, m_last;
};

inline std::size_t Orbisk::getRegionCount() const
{
    return m_particles.regionCount();
}

inline Orbisk::Region Orbisk::getRegion(std::size_t index) const
{
    return {&m_particles, m_particles.regionStart[index], m_particles.regionStart[index + 1]};
}

} // namespace tamsel
