#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace tamsel
{

struct Interaction;
struct ParticleArrays;
struct Settings;

// The world's time step. It owns the step's working memory, kept from one step to the next so that a running world
// allocates nothing; nothing in it matters once a step has returned. Internal to the world.
class Step
{
public:
    // Advances the particles by dt seconds: every velocity collects the forces of the positions at the start, then
    // every particle is damped, moved, wrapped and re-sorted into the region that holds it.
    void run(ParticleArrays& particles, const std::vector<Interaction>& interactions, std::int32_t typeCount,
             const Settings& settings, float dt);

    // The stages of the step pass these to each other.
    struct Box
    {
        float left, right, top, bottom;

        // Holds nothing; the first point it grows by becomes all of it.
        static Box empty()
        {
            constexpr float infinity = std::numeric_limits<float>::infinity();
            return {infinity, -infinity, infinity, -infinity};
        }
        void grow(float x, float y)
        {
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
        // The box of the points minus (sx, sy).
        Box shifted(float sx, float sy) const { return {left - sx, right - sx, top - sy, bottom - sy}; }
        Box widened(float margin) const { return {left - margin, right + margin, top - margin, bottom + margin}; }
        bool overlaps(const Box& other) const
        {
            return left <= other.right && right >= other.left && top <= other.bottom && bottom >= other.top;
        }
    };

    // Where the particles stand at the start of a step, region by region.
    struct RegionSummary
    {
        std::vector<float> paddedX, paddedY;  // the positions, with a vector's worth of padding after the last one
        std::vector<std::int32_t> paddedType; // the types, likewise
        std::vector<std::uint8_t> cell;       // each particle's cell inside its region, for grouping lanes
        std::vector<Box> box;                 // per region: the bounding box of its particles
        std::vector<std::uint64_t> typeBits;  // per region, with few types: a bit for each type present
    };

    // A neighbour region as the region looking at it sees it: its particles, the shift that carries them to their
    // images next to the region, and the images' bounding box.
    struct Neighbour
    {
        std::size_t region;
        std::size_t first, last;
        float sx, sy;
        Box images;
    };

    // The neighbours of one region in the order its particles meet them, and the acting types among them.
    struct Neighbourhood
    {
        Neighbour neighbours[9];
        std::vector<std::int32_t> presentTypes;
        std::vector<std::uint8_t> typeSeen; // per type, all zero between uses
    };

    // How the acting types present act on one block of lanes.
    struct BlockRules
    {
        std::vector<float> strength, reach; // one row of lanes per acting type
        std::vector<float> cutoff2;         // per acting type: squared distance from the block's box beyond which
                                            // a candidate cannot act on any lane
    };

private:
    void accumulateForces(ParticleArrays& particles, const std::vector<Interaction>& interactions,
                          std::int32_t typeCount, const Settings& settings, float dt);
    void moveAndSort(ParticleArrays& particles, const Settings& settings, float dt);

    RegionSummary m_summary;
    Neighbourhood m_neighbourhood;
    BlockRules m_blockRules;
    std::vector<std::uint32_t> m_order;  // a region's particles, grouped for the lanes
    std::vector<std::uint32_t> m_nearby; // the candidates a block of lanes visits

    std::vector<std::uint32_t> m_slow;                             // particles moved past the fast path
    std::vector<std::uint32_t> m_targets;                          // each particle's region after moving
    std::vector<std::uint32_t> m_stayCount, m_arriveCount, m_fill; // per region
    // The re-sorted particles being written, swapped with the world's afterwards.
    std::vector<std::uint32_t> m_sortedStart;
    std::vector<std::int32_t> m_sortedType;
    std::vector<float> m_sortedX, m_sortedY, m_sortedVx, m_sortedVy;
};

} // namespace tamsel
