#pragma once

#include <cstdint>

namespace tamsel
{

// The world's grid of square regions: which region holds a position. Region index = column + row x columns.
// The motion pass uses it in every vector width's build, so it is always inlined: no build's copy of it can stand in
// for another's.
struct RegionGrid
{
    RegionGrid() = default;
    // region_size, regions_x_count and regions_y_count.
    RegionGrid(float regionSize, std::int32_t columns, std::int32_t rows)
        : regionSize(regionSize), columns(static_cast<float>(columns)), rows(static_cast<float>(rows)),
          stride(static_cast<std::uint32_t>(columns))
    {
    }

    // The column (or row) of a coordinate among `cells` of them. x / regionSize can round up to the column count for
    // x just below the world's width; such a position belongs to the last column. A comparison that fails (NaN)
    // yields the first column. Written as choices, so a loop over many particles runs on vectors.
    __attribute__((always_inline)) float cellOf(float coordinate, float cells) const
    {
        const float cell = __builtin_floorf(coordinate / regionSize);
        return cell > 0.0f ? (cell >= cells ? cells - 1.0f : cell) : 0.0f;
    }

    __attribute__((always_inline)) std::uint32_t regionOf(float x, float y) const
    {
        return static_cast<std::uint32_t>(static_cast<std::int32_t>(cellOf(x, columns))) +
               static_cast<std::uint32_t>(static_cast<std::int32_t>(cellOf(y, rows))) * stride;
    }

    float regionSize; // world units
    float columns;    // regions_x_count
    float rows;       // regions_y_count
    std::uint32_t stride;
};

} // namespace tamsel
