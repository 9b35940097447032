#pragma once

#include "settings/Settings.hpp"

#include <SFML/Graphics/Color.hpp>
#include <SFML/Graphics/Drawable.hpp>
#include <SFML/Graphics/Transformable.hpp>
#include <SFML/Graphics/Vertex.hpp>
#include <SFML/System/Vector2.hpp>

#include <cmath>
#include <cstdint>
#include <iterator>
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
///
/// Particles are stored region after region in contiguous arrays (one per field), so the step walks memory in
/// order; getRegions() presents them as regions of particles, each from front to back.
class Orbisk : public sf::Drawable, public sf::Transformable
{
public:
    static constexpr std::size_t circlesPerBatch = 4096;        // 7.4 MB of vertices, well within any driver
    static constexpr std::size_t maximumCachedCircles = 131072; // 236 MB of vertices kept between frames
    class ParticleIterator;
    class Region;
    class RegionList;

    /// Copies the physical and geometric settings; the world starts with no types and no regions.
    explicit Orbisk(const Settings& settings);

    /// Draws a new count x count interaction matrix and count colours and removes every particle and region.
    /// Throws ConfigurationError "invalid maximum effective distance" when an interaction could reach beyond the
    /// neighbouring regions; the world is then unchanged.
    void generateTypes(std::int32_t count);

    /// Rebuilds the grid as empty regions and scatters count particles at rest. Throws std::logic_error for
    /// particles without any type (count > 0 before generateTypes with a count of at least 1).
    void generateParticles(std::int32_t count);

    /// Advances every particle by dt seconds. Throws std::logic_error before generateParticles built the grid.
    void update(float dt);

    const std::vector<Interaction>& getInteractions() const { return interactions; }
    const std::vector<sf::Color>& getTypeColors() const { return typeColors; }
    /// Regions in index order (column + row x regions_x_count); a view that stays valid while the world lives.
    RegionList getRegions() const;
    std::int32_t getTypeCount() const { return typeCount; }
    /// World units: regions_x_count x region_size by regions_y_count x region_size.
    sf::Vector2f getWorldSize() const;
    /// The picture as batches of triangles, each handed to the render target in one call: the background, then
    /// one 30-point circle per particle in region order, at most circlesPerBatch circles a batch. Worlds of up to
    /// maximumCachedCircles particles keep their batches until the world changes; larger ones remake a batch on
    /// every call, in one buffer, so drawing holds the same memory whatever the particle count.
    std::size_t getBatchCount() const;
    /// Batch `index` < getBatchCount(); valid until the next call.
    const std::vector<sf::Vertex>& getBatch(std::size_t index) const;
    /// Index of the region that holds a position inside the world; never outside the grid.
    std::size_t getRegionIndex(sf::Vector2f position) const;

    /// Appends a particle at the back of the region that contains its position. Throws std::invalid_argument for
    /// a position outside the world or a type outside the current types, std::logic_error before the grid exists.
    void addParticle(const Particle& particle);
    /// Replaces how particles of type `column` act on particles of type `row`. Throws std::out_of_range, or
    /// std::invalid_argument for a strength or reach that is not finite.
    void setInteraction(std::int32_t row, std::int32_t column, const Interaction& interaction);

private:
    void draw(sf::RenderTarget& target, sf::RenderStates states) const override;

    void accumulateForces(float dt);
    void findNeighbours(std::int32_t column, std::int32_t row);
    void groupLanes(std::size_t first, std::size_t last);
    void forceBlock(std::size_t block, std::size_t active, float dt);
    void moveAndSort(float dt);

    Particle particleAt(std::size_t index) const;

    std::vector<Interaction> interactions; // typeCount x typeCount, row: moved type, column: acting type
    std::vector<sf::Color> typeColors;     // indexed by type
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

    // Particles of region r occupy [m_regionStart[r], m_regionStart[r + 1]); no grid while m_regionStart is empty.
    std::vector<std::uint32_t> m_regionStart;
    std::vector<std::int32_t> m_type;
    std::vector<float> m_x, m_y, m_vx, m_vy;

    struct Box
    {
        float left, right, top, bottom;
    };

    // A neighbour region as a region sees it: its particles, the shift to their images, the images' box.
    struct Neighbour
    {
        std::size_t first, last;
        float sx, sy;
        float left, right, top, bottom;
    };

    // Working memory of the step, kept between steps so a running world allocates nothing.
    struct StepBuffers
    {
        std::vector<float> x, y, vx, vy; // the sorted particles being written
        std::vector<std::int32_t> type;
        std::vector<std::uint32_t> target;                       // each particle's region after moving
        std::vector<std::uint32_t> slow;                         // particles moved past the fast path
        std::vector<std::uint32_t> stayCount, arriveCount, fill; // per region
        std::vector<std::uint32_t> start;
        std::vector<Box> regionBox;             // bounding box of each region's particles
        Neighbour neighbours[9];                // of the current region, in the order they are met
        std::vector<std::uint64_t> regionTypes; // per region with few types: a bit for each type present
        std::size_t neighbourRegion[9];         // the current region's neighbours
        std::vector<std::int32_t> presentTypes; // acting types among the current region's neighbours
        std::vector<std::uint8_t> typeSeen;     // per type, while presentTypes is built
        std::vector<float> strength, reach;     // a block's interactions, one row of lanes per acting type
        std::vector<float> cutoff2;             // per acting type: squared reach from the block box
        std::vector<std::uint32_t> order;       // a region's particles, grouped for the lanes
        std::vector<std::uint8_t> cell;         // each particle's cell, for grouping lanes
        std::vector<float> paddedX, paddedY;    // the positions, with padding after the last particle
        std::vector<std::int32_t> paddedType;   // the types, likewise
        std::vector<std::uint32_t> nearby;      // the candidates a block of lanes visits
    } m_step;
    std::size_t findNearby(const Neighbour& neighbour, const Box& box);

    void fillBatch(std::size_t index, std::vector<sf::Vertex>& vertices) const;

    // The batches of a world small enough to keep them, remade only after the world changed; otherwise the one
    // batch being drawn.
    mutable std::vector<std::vector<sf::Vertex>> m_batches;
    mutable bool m_verticesStale = true;
    mutable std::vector<sf::Vertex> m_batchBeingDrawn;
    std::vector<sf::Vector2f> m_circleFan; // triangle corners of one circle at the origin
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

    ParticleIterator(const Orbisk* world, std::size_t index) : world(world), index(index) {}
    Particle operator*() const { return world->particleAt(index); }
    ParticleIterator& operator++()
    {
        ++index;
        return *this;
    }
    bool operator==(const ParticleIterator& other) const { return index == other.index; }
    bool operator!=(const ParticleIterator& other) const { return index != other.index; }

private:
    const Orbisk* world;
    std::size_t index;
};

/// The particles of one region, from front to back.
class Orbisk::Region
{
public:
    Region(const Orbisk* world, std::size_t first, std::size_t last) : world(world), first(first), last(last) {}
    ParticleIterator begin() const { return {world, first}; }
    ParticleIterator end() const { return {world, last}; }
    std::size_t size() const { return last - first; }
    bool empty() const { return first == last; }

private:
    const Orbisk* world;
    std::size_t first, last;
};

/// The regions of a world in index order.
class Orbisk::RegionList
{
public:
    class Iterator
    {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = Region;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = Region;

        Iterator(const Orbisk* world, std::size_t index) : world(world), index(index) {}
        Region operator*() const { return RegionList(world)[index]; }
        Iterator& operator++()
        {
            ++index;
            return *this;
        }
        bool operator==(const Iterator& other) const { return index == other.index; }
        bool operator!=(const Iterator& other) const { return index != other.index; }

    private:
        const Orbisk* world;
        std::size_t index;
    };

    explicit RegionList(const Orbisk* world) : world(world) {}
    std::size_t size() const { return world->m_regionStart.empty() ? 0 : world->m_regionStart.size() - 1; }
    bool empty() const { return size() == 0; }
    Region operator[](std::size_t index) const
    {
        return {world, world->m_regionStart[index], world->m_regionStart[index + 1]};
    }
    Iterator begin() const { return {world, 0}; }
    Iterator end() const { return {world, size()}; }

private:
    const Orbisk* world;
};

inline Orbisk::RegionList Orbisk::getRegions() const
{
    return RegionList(this);
}

inline std::size_t Orbisk::getRegionIndex(sf::Vector2f position) const
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

} // namespace tamsel
