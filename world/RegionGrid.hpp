#pragma once

#include <cstddef>
#include <cstdint>

namespace tamsel
{

// The world's grid of square regions: its size, and which region holds a position. Region index = column + row x
// columns. The passes use it in every vector width's build, so its functions are always inlined: no build's copy of
// one can stand in for another's.
struct RegionGrid
{
    float regionSize;     // world units: region_size
    std::int32_t columns; // regions_x_count, >= 1
    std::int32_t rows;    // regions_y_count, >= 1

    __attribute__((always_inline)) std::size_t regionCount() const
    {
        return static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows);
    }

    // The column (or row) of a coordinate among `cells` of them. x / regionSize can round up to the column count for
    // x just below the world's width; such a position belongs to the last column. A comparison that fails (NaN)
    // yields the first column. Written as choices, so a loop over many particles runs on vectors.
    __attribute__((always_inline)) float cellOf(float coordinate, std::int32_t cells) const
    {
        const float count = static_cast<float>(cells);
        const float cell = __builtin_floorf(coordinate / regionSize);
        return cell > 0.0f ? (cell >= count ? count - 1.0f : cell) : 0.0f;
    }

    __attribute__((always_inline)) std::uint32_t regionOf(float x, float y) const
    {
        return static_cast<std::uint32_t>(static_cast<std::int32_t>(cellOf(x, columns))) +
               static_cast<std::uint32_t>(static_cast<std::int32_t>(cellOf(y, rows))) *
                   static_cast<std::uint32_t>(columns);
    }
};

} // namespace tamsel
