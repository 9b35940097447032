#include "world/Orbisk.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tamsel
{

namespace
{

// Particles of one region handled side by side: every lane walks the same candidates in the same order, so each
// velocity still receives its contributions one after another, exactly as a particle-by-particle walk would add
// them, while the lanes run in vector instructions: as many lanes as one register holds (16 with AVX-512, 8 with
// AVX, 4 with SSE). The lane count never changes a result.
#if defined(__AVX512F__)
constexpr std::size_t lanes = 16;
#elif defined(__AVX__)
constexpr std::size_t lanes = 8;
#else
constexpr std::size_t lanes = 4;
#endif

// Lanes of floats operated on together (GCC and Clang vector extensions). Comparisons give a mask of all-ones
// or zero per lane; `mask ? a : b` picks per lane.
using Lanes = float __attribute__((vector_size(lanes * sizeof(float))));
using LaneMask = std::int32_t __attribute__((vector_size(lanes * sizeof(float))));
constexpr Lanes zero = {};

LaneMask countLanes()
{
    LaneMask index = {};
    for (std::size_t l = 0; l < lanes; ++l)
        index[l] = static_cast<std::int32_t>(l);
    return index;
}
const LaneMask laneIndex = countLanes();

inline Lanes load(const float* from)
{
    Lanes lanesOf;
    std::memcpy(&lanesOf, from, sizeof lanesOf);
    return lanesOf;
}

// std::max, lane by lane.
inline Lanes lanesMax(Lanes a, Lanes b)
{
    return a < b ? b : a;
}

inline Lanes squareRoot(Lanes x)
{
    for (std::size_t l = 0; l < lanes; ++l)
        x[l] = std::sqrt(x[l]);
    return x;
}

// A neighbouring column (or row) of the grid, wrapped into it, and the shift that carries its particles to the
// image next to the region looking at them: one world width (or height) across an edge.
inline std::int32_t wrapCell(std::int32_t cell, std::int32_t count, float extent, float& shift)
{
    shift = 0.0f;
    if (cell < 0)
    {
        shift = extent;
        return cell + count;
    }
    if (cell >= count)
    {
        shift = -extent;
        return cell - count;
    }
    return cell;
}

// Up to this many types, the types present in a region are kept as one bit each.
constexpr std::int32_t maskedTypes = 64;

} // namespace

void Orbisk::findNeighbours(std::int32_t c, std::int32_t r)
{
    const float W = static_cast<float>(regions_x_count) * region_size;
    const float H = static_cast<float>(regions_y_count) * region_size;
    StepBuffers& b = m_step;

    // Neighbour columns left to right, rows top to bottom within each column: the order in which every particle
    // of region (c, r) meets them. A region across an edge is seen at its image one world width or height away.
    std::size_t range = 0;
    for (std::int32_t dx = -1; dx <= 1; ++dx)
        for (std::int32_t dy = -1; dy <= 1; ++dy, ++range)
        {
            float sx, sy;
            const std::int32_t nc = wrapCell(c + dx, regions_x_count, W, sx);
            const std::int32_t nr = wrapCell(r + dy, regions_y_count, H, sy);
            const std::size_t neighbour = static_cast<std::size_t>(nc + nr * regions_x_count);
            b.neighbourRegion[range] = neighbour;
            const Box& box = b.regionBox[neighbour];
            b.neighbours[range] = {m_regionStart[neighbour],
                                   m_regionStart[neighbour + 1],
                                   sx,
                                   sy,
                                   box.left - sx,
                                   box.right - sx,
                                   box.top - sy,
                                   box.bottom - sy};
        }

    // The acting types present: a block's interaction table holds only their rows, and only their reach bounds
    // the distance at which candidates can act. With few types each region keeps a bit per type present.
    b.presentTypes.clear();
    if (typeCount <= maskedTypes)
    {
        std::uint64_t present = 0;
        for (std::size_t range = 0; range < 9; ++range)
            present |= b.regionTypes[b.neighbourRegion[range]];
        for (std::int32_t type = 0; present != 0; ++type, present >>= 1)
            if (present & 1)
                b.presentTypes.push_back(type);
        return;
    }
    for (const Neighbour& neighbour : b.neighbours)
        for (std::size_t q = neighbour.first; q < neighbour.last; ++q)
        {
            const auto type = static_cast<std::size_t>(m_type[q]);
            if (!b.typeSeen[type])
                b.presentTypes.push_back(m_type[q]);
            b.typeSeen[type] = 1;
        }
    for (const std::int32_t type : b.presentTypes)
        b.typeSeen[static_cast<std::size_t>(type)] = 0;
}

void Orbisk::groupLanes(std::size_t first, std::size_t last)
{
    // Lanes that lie close together share more candidates worth visiting, so a region's particles are taken
    // cell by cell (see the cells in accumulateForces). Any order gives the same results: each particle's own
    // sum keeps its order.
    StepBuffers& b = m_step;
    b.order.resize(last - first);
    if (last - first <= lanes)
    {
        for (std::size_t i = first; i < last; ++i)
            b.order[i - first] = static_cast<std::uint32_t>(i);
        return;
    }
    std::uint32_t count[17] = {};
    for (std::size_t i = first; i < last; ++i)
        ++count[b.cell[i] + 1];
    for (std::size_t cell = 0; cell < 16; ++cell)
        count[cell + 1] += count[cell];
    for (std::size_t i = first; i < last; ++i)
        b.order[count[b.cell[i]]++] = static_cast<std::uint32_t>(i);
}

void Orbisk::accumulateForces(float dt)
{
    const std::size_t T = static_cast<std::size_t>(typeCount);
    const std::size_t regionCount = m_regionStart.size() - 1;
    StepBuffers& b = m_step;
    b.typeSeen.assign(T, 0);

    b.strength.resize(T * lanes);
    b.reach.resize(T * lanes);
    b.cutoff2.resize(T);
    b.nearby.resize(m_type.size() + lanes);
    // Positions and types with a vector's worth of padding, so a region's candidates are read a whole vector
    // at a time.
    b.paddedX.assign(m_x.begin(), m_x.end());
    b.paddedY.assign(m_y.begin(), m_y.end());
    b.paddedType.assign(m_type.begin(), m_type.end());
    b.paddedX.resize(m_x.size() + lanes, 0.0f);
    b.paddedY.resize(m_y.size() + lanes, 0.0f);
    b.paddedType.resize(m_type.size() + lanes, 0);
    // Each particle's cell in a 4 x 4 grid over its region, numbered along a Z-shaped curve. Rounding may put
    // a particle near a cell's edge into the next cell, which only changes how lanes are grouped.
    const float cellScale = 4 / region_size;
    b.cell.resize(m_type.size());
    for (std::size_t i = 0; i < m_type.size(); ++i)
    {
        const auto cx = static_cast<std::uint32_t>(m_x[i] * cellScale) & 3;
        const auto cy = static_cast<std::uint32_t>(m_y[i] * cellScale) & 3;
        b.cell[i] = static_cast<std::uint8_t>((cx & 1) | (cy & 1) << 1 | (cx & 2) << 1 | (cy & 2) << 2);
    }
    b.regionBox.resize(regionCount);
    b.regionTypes.assign(regionCount, 0);
    for (std::size_t region = 0; region < regionCount; ++region)
    {
        Box& box = b.regionBox[region];
        box = {INFINITY, -INFINITY, INFINITY, -INFINITY};
        std::uint64_t types = 0;
        for (std::size_t i = m_regionStart[region]; i < m_regionStart[region + 1]; ++i)
        {
            box.left = std::min(box.left, m_x[i]);
            box.right = std::max(box.right, m_x[i]);
            box.top = std::min(box.top, m_y[i]);
            box.bottom = std::max(box.bottom, m_y[i]);
            types |= std::uint64_t{1} << (static_cast<std::uint32_t>(m_type[i]) & 63);
        }
        b.regionTypes[region] = types;
    }

    for (std::int32_t r = 0; r < regions_y_count; ++r)
        for (std::int32_t c = 0; c < regions_x_count; ++c)
        {
            const std::size_t region = static_cast<std::size_t>(c + r * regions_x_count);
            const std::size_t first = m_regionStart[region], last = m_regionStart[region + 1];
            if (first == last)
                continue;
            findNeighbours(c, r);
            groupLanes(first, last);

            for (std::size_t block = 0; block < b.order.size(); block += lanes)
                forceBlock(block, std::min(lanes, b.order.size() - block), dt);
        }
}

void Orbisk::forceBlock(std::size_t block, std::size_t active, float dt)
{
    const float R = effective_radius;
    const float Z = stablized_zone;
    const float RZ = R + Z;
    const float k = repulsion_strength;
    const std::size_t T = static_cast<std::size_t>(typeCount);
    // Candidates farther than max(R, R + Z + reach) from every lane add only zeros and are skipped. The margins
    // cover the rounding of distances (relative) and of image coordinates (absolute: a few units in the last
    // place of the largest coordinate). Without non-negative radii there is no such bound: nothing is skipped.
    const bool canSkip = R >= 0.0f && Z >= 0.0f;
    constexpr float skipMargin = 1.0f + 1e-5f;
    const float slack = 1e-6f * (static_cast<float>(regions_x_count + regions_y_count + 2) * region_size);
    StepBuffers& b = m_step;

    // Idle lanes copy the first particle of the block; their results are never stored.
    std::size_t index[lanes];
    float pxs[lanes], pys[lanes], vxs[lanes], vys[lanes];
    Box box = {INFINITY, -INFINITY, INFINITY, -INFINITY};
    for (std::size_t l = 0; l < lanes; ++l)
    {
        index[l] = b.order[block + (l < active ? l : 0)];
        pxs[l] = m_x[index[l]];
        pys[l] = m_y[index[l]];
        vxs[l] = m_vx[index[l]];
        vys[l] = m_vy[index[l]];
        box.left = std::min(box.left, pxs[l]);
        box.right = std::max(box.right, pxs[l]);
        box.top = std::min(box.top, pys[l]);
        box.bottom = std::max(box.bottom, pys[l]);
    }
    // How each acting type present acts on each lane's particle, one row per type, and the distance from the
    // block's bounding box beyond which a candidate of that type cannot act on any of the lanes.
    float widestCutoff = 0.0f;
    for (const std::int32_t type : b.presentTypes)
    {
        const auto t = static_cast<std::size_t>(type);
        float widestReach = 0.0f;
        for (std::size_t l = 0; l < lanes; ++l)
        {
            const Interaction& m = interactions[T * static_cast<std::size_t>(m_type[index[l]]) + t];
            b.strength[t * lanes + l] = m.strength;
            b.reach[t * lanes + l] = m.reach;
            widestReach = std::max(widestReach, m.reach);
        }
        const float cutoff = canSkip ? std::max(R, RZ + widestReach) * skipMargin + slack : INFINITY;
        b.cutoff2[t] = cutoff < 1e18f ? cutoff * cutoff : INFINITY;
        widestCutoff = std::max(widestCutoff, b.cutoff2[t] < INFINITY ? cutoff : INFINITY);
    }
    const Box near = {box.left - widestCutoff, box.right + widestCutoff, box.top - widestCutoff,
                      box.bottom + widestCutoff};

    Lanes vx = load(vxs), vy = load(vys);
    const Lanes px = load(pxs), py = load(pys);
    for (const Neighbour& neighbour : b.neighbours)
    {
        if (!(neighbour.left <= near.right && neighbour.right >= near.left && neighbour.top <= near.bottom &&
              neighbour.bottom >= near.top))
            continue;
        const float sx = neighbour.sx, sy = neighbour.sy;
        const std::size_t nearbyCount = findNearby(neighbour, box);

        for (std::size_t n = 0; n < nearbyCount; ++n)
        {
            const std::size_t candidate = b.nearby[n];
            const std::size_t row = static_cast<std::size_t>(m_type[candidate]) * lanes;
            const Lanes u = px - (m_x[candidate] - sx);
            const Lanes v = py - (m_y[candidate] - sy);
            const Lanes d = squareRoot(u * u + v * v);
            // Beyond R + Z: a tent over the band of width reach; inside R: the close-range push. The neutral zone
            // between adds a zero, which is left out, as is distance 0 (a particle meeting itself). Each select
            // below is written as std::min and std::max decide.
            const Lanes e = d - R - Z;
            const Lanes outer = load(&b.reach[row]) - e;
            const Lanes nearer = outer < e ? outer : e;
            const Lanes tent = zero < nearer ? nearer : zero;
            const Lanes band = load(&b.strength[row]) * tent;
            const Lanes push = (R - d) * k;
            const LaneMask beyond = d > RZ;
            const LaneMask acts = beyond | ((d <= R) & (d > zero));
            const Lanes f = (beyond ? band : push) / d;
            vx = acts ? vx + f * u * dt : vx;
            vy = acts ? vy + f * v * dt : vy;
        }
    }
    std::memcpy(vxs, &vx, sizeof vx);
    std::memcpy(vys, &vy, sizeof vy);

    for (std::size_t l = 0; l < active; ++l)
    {
        m_vx[index[l]] = vxs[l];
        m_vy[index[l]] = vys[l];
    }
}

std::size_t Orbisk::findNearby(const Neighbour& neighbour, const Box& box)
{
    // The candidates of a neighbour within the cutoff of their type from a block's bounding box, in their order,
    // at their images. The last lanes of a region's last chunk read the padding and are masked out.
    StepBuffers& b = m_step;
    std::size_t count = 0;
    for (std::size_t q = neighbour.first; q < neighbour.last; q += lanes)
    {
        const Lanes x = load(&b.paddedX[q]) - neighbour.sx, y = load(&b.paddedY[q]) - neighbour.sy;
        const Lanes gapX = lanesMax(lanesMax(box.left - x, x - box.right), zero);
        const Lanes gapY = lanesMax(lanesMax(box.top - y, y - box.bottom), zero);
        Lanes cutoff2;
        for (std::size_t l = 0; l < lanes; ++l)
            cutoff2[l] = b.cutoff2[static_cast<std::size_t>(b.paddedType[q + l])];
        const LaneMask inside =
            (gapX * gapX + gapY * gapY <= cutoff2) & (laneIndex < static_cast<std::int32_t>(neighbour.last - q));
        for (std::size_t l = 0; l < lanes; ++l)
        {
            b.nearby[count] = static_cast<std::uint32_t>(q + l);
            count -= static_cast<std::size_t>(inside[l]);
        }
    }
    return count;
}

} // namespace tamsel
