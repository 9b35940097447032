#pragma once

#include "world/StepParameters.hpp"

#include <cstddef>
#include <cstdint>

namespace tamsel
{

struct Interaction;

// The step's vector loops, the force pass (world/Forces.cpp) and the motion pass (world/Motion.cpp), are compiled
// once for each vector width (world/Lanes.hpp), each build in a namespace of its own, and each step is made with one
// of the widths the CPU runs. Code built for wide vectors must never run on a CPU without them, so the pass shares no
// function with the rest of the program: it receives plain numbers and pointers, sized by the step beforehand, and
// allocates nothing.

// A box of points; an empty one has left = top = infinity, right = bottom = -infinity.
struct Box
{
    float left, right, top, bottom;
};

// A neighbour region as the region looking at it sees it: its particles, the shift that carries them to their images
// next to the region, and the images' bounding box.
struct Neighbour
{
    std::size_t region;
    std::size_t first, last;
    float sx, sy;
    Box images;
};

// Everything the force pass reads and writes.
struct ForceContext
{
    // The particles at the start of the step; the pass adds the forces to their velocities.
    std::size_t count;
    const std::uint32_t* regionStart;
    const std::int32_t* type;
    const float *x, *y;
    float *vx, *vy;
    const Interaction* interactions;
    std::int32_t typeCount;
    StepParameters parameters;
    float dt;
    // Square roots and quotients by multiply-add sequences (world/ExactArithmetic.hpp) where the width is built with
    // them; by the hardware's instructions otherwise. The bits are the same.
    bool fused;

    // Working memory, nothing in it kept from one step to the next. Sizes in brackets; P = count, L = maximumLanes,
    // T = typeCount, N = parameters.regionCount.
    float *paddedX, *paddedY;   // [P + L] the positions, with a vector's worth of padding after the last one
    std::int32_t* paddedType;   // [P + L] the types, likewise
    std::uint8_t* cell;         // [P + L] each particle's cell inside its region, for grouping lanes
    Box* box;                   // [N] per region: the bounding box of its particles
    std::uint64_t* typeBits;    // [N] per region, with few types: a bit for each type present
    std::int32_t* presentTypes; // [T] the acting types present around a region
    std::uint8_t* typeSeen;     // [T] per type, all zero between uses
    float *strength, *reach;    // [T x L] how each acting type acts on each lane of a block
    // [L x L] with at most as many types as lanes: how type t acts on type a, at t x lanes + a
    float *actingStrength, *actingReach;
    float* cutoff2;       // [max(T, L)] per type: squared distance from a block's box beyond any lane's reach
    std::uint32_t* order; // [P] a region's particles, grouped for the lanes
    // [P + L] each: the candidates a block of lanes visits, as their images' coordinates and their types' rows in
    // `strength` and `reach`
    float *nearbyX, *nearbyY;
    std::uint32_t* nearbyRow;
};

// Everything the motion pass reads and writes: it damps, moves and wraps the particles that end less than a world
// width or height past an edge, finds the region of each, and marks the others in `slow` for the exact path.
struct MotionContext
{
    std::size_t count;
    float *x, *y, *vx, *vy;
    StepParameters parameters;
    float dt;
    std::uint32_t* slow;    // [count] 1 for a particle left as it was, 0 otherwise
    std::uint32_t* targets; // [count] each moved particle's region
};

// The most lanes a vector of any build holds.
constexpr std::size_t maximumLanes = 16;

// The passes of each width. takesRootsByMultiplyAdds() tells whether the width is built with the multiply-add
// sequences, without which the force pass takes the hardware's instructions whatever `fused` says.
#define TAMSEL_PASS_FUNCTIONS                                                                                          \
    void accumulateForces(const ForceContext& context);                                                                \
    void moveParticles(const MotionContext& context);                                                                  \
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

} // namespace tamsel
