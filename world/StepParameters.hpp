#pragma once

#include "world/RegionGrid.hpp"

#include <cstddef>
#include <cstdint>

namespace tamsel
{

// The step's numbers, derived from the world's settings once, when the world is made (stepParameters,
// world/Step.hpp): the step reads these and never the settings.
struct StepParameters
{
    float W, H;                 // world units: the world's width and height
    std::int32_t columns, rows; // regions_x_count and regions_y_count, each >= 1
    std::size_t regionCount;    // columns x rows
    RegionGrid grid;
    float R, Z;    // world units: effective_radius and stablized_zone
    float k;       // repulsion_strength
    float damping; // 1 - friction: the share of its velocity a particle keeps each step
};

} // namespace tamsel
