#pragma once

#include "world/StepParameters.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tamsel
{

struct Interaction;

// The step's vector loops, the force pass (world/Forces.cpp) and the motion pass (world/Motion.cpp), are compiled
// once for each vector width (world/Lanes.hpp), each build in a namespace of its own, and each step is made with one
// of the widths the CPU runs. Code built for wide vectors must never run on a CPU without them, so the passes share
// no function with the rest of the program but the always inlined ones here and in world/RegionGrid.hpp: they receive
// plain numbers and pointers, and buffers that the step sized beforehand, and allocate nothing.

// One buffer of the step's working memory. The step sizes it; the passes read and write it through its pointer.
template <typename T> class Buffer
{
public:
    // Room for at least `size` elements, zeros where it grew; nothing in it matters from one step to the next.
    void reserve(std::size_t size)
    {
        if (size <= m_capacity)
            return;
        m_storage = std::make_unique<T[]>(size);
        m_data = m_storage.get();
        m_capacity = size;
    }

    __attribute__((always_inline)) T* data() const { return m_data; }
    __attribute__((always_inline)) T& operator[](std::size_t index) const { return m_data[index]; }

private:
    std::unique_ptr<T[]> m_storage;
    T* m_data = nullptr;
    std::size_t m_capacity = 0;
};

// A box of points; an empty one has left = top = infinity, right = bottom = -infinity.
struct Box
{
    float left, right, top, bottom;
};

// The working memory of one block of lanes: how each acting type acts on each lane, and per type the squared distance
// from the block's box beyond which it acts on none of them; then the candidates the block visits, as their images'
// coordinates and their types' rows in `strength` and `reach`. Sizes in brackets, as for ForceBuffers.
struct BlockBuffers
{
    Buffer<float> strength, reach;   // [T x L]
    Buffer<float> cutoff2;           // [max(T, L)]
    Buffer<float> nearbyX, nearbyY;  // [P + L]
    Buffer<std::uint32_t> nearbyRow; // [P + L]
};

// The force pass's working memory, declared here once: each buffer with its size in brackets, where P = particles,
// L = maximumLanes, T = types, N = regions.
struct ForceBuffers
{
    // Where the particles stand before any velocity changes, region by region.
    Buffer<std::uint8_t> cell;      // [P + L] each particle's cell inside its region, for grouping lanes
    Buffer<Box> box;                // [N] the bounding box of each region's particles
    Buffer<std::uint64_t> typeBits; // [N] with few types: a bit for each type present in the region

    // Around one region.
    Buffer<std::int32_t> presentTypes; // [T] the acting types present around it
    Buffer<std::uint8_t> typeSeen;     // [T] per type, all zero between uses
    Buffer<std::uint32_t> order;       // [P] its particles, grouped for the lanes

    BlockBuffers block;

    void reserve(std::size_t particles, std::size_t types, std::size_t regions)
    {
        cell.reserve(particles + maximumLanes);
        box.reserve(regions);
        typeBits.reserve(regions);
        presentTypes.reserve(types);
        typeSeen.reserve(types);
        order.reserve(particles);
        block.strength.reserve(types * maximumLanes);
        block.reach.reserve(types * maximumLanes);
        block.cutoff2.reserve(types > maximumLanes ? types : maximumLanes);
        block.nearbyX.reserve(particles + maximumLanes);
        block.nearbyY.reserve(particles + maximumLanes);
        block.nearbyRow.reserve(particles + maximumLanes);
    }
};

// What the force pass reads, which none of its stages writes: the particles at the start of the step (their arrays
// carry the padding that vector loads read past the last one), the matrix and the step's numbers.
struct ForceInput
{
    std::size_t count;
    const std::uint32_t* regionStart;
    const std::int32_t* type;
    const float *x, *y;
    const Interaction* interactions;
    std::int32_t typeCount;
    const float *actingStrength, *actingReach; // ActingTables, with at most maximumLanes types
    StepParameters parameters;
    float dt;
    // Square roots and quotients by multiply-add sequences (world/ExactArithmetic.hpp) where the width is built with
    // them; by the hardware's instructions otherwise. The bits are the same.
    bool fused;
};

// What the motion pass moves: the particles' positions and velocities.
struct MovedParticles
{
    std::size_t count;
    float *x, *y, *vx, *vy;
};

// The passes of each width.
//
// accumulateForces adds the forces of the positions at the start of the step to the velocities vx and vy.
//
// moveParticles damps, moves and wraps the particles that end less than a world width or height past an edge, and
// finds each one's region in `targets`; it marks the others with 1 in `leftToExactPath` and leaves them as they were.
//
// takesRootsByMultiplyAdds() tells whether the width is built with the multiply-add sequences, without which the force
// pass takes the hardware's instructions whatever `fused` says.
#define TAMSEL_PASS_FUNCTIONS                                                                                          \
    void accumulateForces(const ForceInput& input, float* vx, float* vy, ForceBuffers& buffers);                       \
    void moveParticles(const StepParameters& parameters, float dt, const MovedParticles& particles,                    \
                       std::uint32_t* leftToExactPath, std::uint32_t* targets);                                        \
    bool takesRootsByMultiplyAdds();

namespace lanes4
{
TAMSEL_PASS_FUNCTIONS
} // namespace lanes4
namespace lanes8
{
TAMSEL_PASS_FUNCTIONS
} // namespace lanes8
namespace lanes16
{
TAMSEL_PASS_FUNCTIONS
} // namespace lanes16

#undef TAMSEL_PASS_FUNCTIONS

// The widths built into the program, narrowest first, each as entry(lanes) with the width's namespace lanes<lanes>:
// x86-64 builds (TAMSEL_LANE_DISPATCH) carry 4, 8 and 16 lanes, the others 4.
#if defined(TAMSEL_LANE_DISPATCH)
#define TAMSEL_BUILT_WIDTHS(entry) entry(4), entry(8), entry(16)
#else
#define TAMSEL_BUILT_WIDTHS(entry) entry(4)
#endif

} // namespace tamsel
