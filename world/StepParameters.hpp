#pragma once

#include "world/RegionGrid.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tamsel
{

struct Interaction;
struct Settings;

// The step's numbers, derived from the world's settings once, when the world is made: the step reads these and never
// the settings.
struct StepParameters
{
    RegionGrid grid;
    float width, height; // world units: the grid's columns and rows times region_size
    float radius;        // world units: effective_radius, within which particles push each other apart
    float zone;          // world units: stablized_zone, the neutral band just outside the radius
    float bandStart;     // world units: radius + zone, where the interactions' bands begin
    float repulsion;     // repulsion_strength: the close-range push per world unit of overlap
    float damping;       // 1 - friction: the share of its velocity a particle keeps each step
    // Whether candidates far beyond every band may be skipped: only with a radius and zone of at least 0, where a
    // particle meeting itself (distance 0) adds nothing.
    bool canSkip;
    // world units: what the skipping distance adds for the rounding of image coordinates, a few units in the last
    // place of the largest coordinate.
    float slack;
};

StepParameters stepParameters(const Settings& settings);

// The most lanes a vector of any build holds.
constexpr std::size_t maximumLanes = 16;

// The interaction matrix column by column, for worlds of at most maximumLanes types: how acting type t acts on moved
// type a stands at t x maximumLanes + a, so that a block of lanes looks up a whole column of the matrix at once.
// Derived from the matrix when the types change; empty for more types.
struct ActingTables
{
    std::vector<float> strength, reach;
};

ActingTables actingTables(const std::vector<Interaction>& interactions, std::int32_t typeCount);

} // namespace tamsel
