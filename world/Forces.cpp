#include "world/Lanes.hpp"
#include "world/Orbisk.hpp"
#include "world/Step.hpp"

#include <algorithm>
#include <cmath>

namespace tamsel
{

namespace
{

using lanes::Floats;
using lanes::Ints;
using Box = Step::Box;

// Lanes that lie close together share more candidates worth visiting, so a region's particles are taken cell by cell
// of a grid of cellsPerSide x cellsPerSide cells over the region, numbered along a Z-shaped curve.
constexpr std::uint32_t cellsPerSide = 4;
constexpr std::size_t cellCount = cellsPerSide * cellsPerSide;

// Up to this many types, the types present in a region are kept as one bit each.
constexpr std::int32_t maskedTypes = 64;

const Ints laneIndex = lanes::indices();

// A cutoff from this far on counts as infinite: its square, 1e36, must stay inside the float range.
constexpr float largestCutoff = 1e18f; // world units

// The close-range zones and the force law's constants, with the bound on what a block of lanes may skip.
struct ForceLaw
{
    explicit ForceLaw(const Settings& settings)
        : R(settings.effective_radius), Z(settings.stablized_zone), RZ(R + Z), k(settings.repulsion_strength),
          canSkip(R >= 0.0f && Z >= 0.0f),
          slack(1e-6f *
                (static_cast<float>(settings.regions_x_count + settings.regions_y_count + 2) * settings.region_size))
    {
    }

    float R, Z, RZ, k;
    // Candidates farther than max(R, R + Z + reach) from every lane add only zeros and are skipped. The margins
    // cover the rounding of distances (relative) and of image coordinates (absolute, `slack`: a few units in the
    // last place of the largest coordinate). Without non-negative radii there is no such bound: nothing is skipped.
    bool canSkip;
    float slack;
    static constexpr float skipMargin = 1.0f + 1e-5f;
};

// A neighbouring column (or row) of the grid, wrapped into it, and the shift that carries its particles to the
// image next to the region looking at them: one world width (or height) across an edge.
std::int32_t wrapCell(std::int32_t cell, std::int32_t count, float extent, float& shift)
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

// Where the particles stand before any velocity changes: padded copies to read a vector at a time, each particle's
// cell, and each region's bounding box and types.
void summarizeRegions(const ParticleArrays& particles, float regionSize, Step::RegionSummary& summary)
{
    const std::size_t count = particles.type.size();
    const std::size_t regionCount = particles.regionStart.size() - 1;
    summary.paddedX.assign(particles.x.begin(), particles.x.end());
    summary.paddedY.assign(particles.y.begin(), particles.y.end());
    summary.paddedType.assign(particles.type.begin(), particles.type.end());
    summary.paddedX.resize(count + lanes::count, 0.0f);
    summary.paddedY.resize(count + lanes::count, 0.0f);
    summary.paddedType.resize(count + lanes::count, 0);

    // Rounding may put a particle near a cell's edge into the next cell, which only changes how lanes are grouped.
    static_assert(cellsPerSide == 4, "the Z-shaped numbering interleaves two bits of column and row");
    const float cellScale = cellsPerSide / regionSize;
    summary.cell.resize(count);
    for (std::size_t i = 0; i < count; ++i)
    {
        const auto cx = static_cast<std::uint32_t>(particles.x[i] * cellScale) % cellsPerSide;
        const auto cy = static_cast<std::uint32_t>(particles.y[i] * cellScale) % cellsPerSide;
        summary.cell[i] = static_cast<std::uint8_t>((cx & 1) | (cy & 1) << 1 | (cx & 2) << 1 | (cy & 2) << 2);
    }

    summary.box.resize(regionCount);
    summary.typeBits.assign(regionCount, 0);
    for (std::size_t region = 0; region < regionCount; ++region)
    {
        Box box = Box::empty();
        std::uint64_t types = 0;
        for (std::size_t i = particles.regionStart[region]; i < particles.regionStart[region + 1]; ++i)
        {
            box.grow(particles.x[i], particles.y[i]);
            types |= std::uint64_t{1} << (static_cast<std::uint32_t>(particles.type[i]) % maskedTypes);
        }
        summary.box[region] = box;
        summary.typeBits[region] = types;
    }
}

// The neighbours of region (column, row) and the acting types present among them: a block's interaction table
// holds only their rows, and only their reach bounds the distance at which candidates can act.
void findNeighbours(const ParticleArrays& particles, const Step::RegionSummary& summary, const Settings& settings,
                    std::int32_t typeCount, std::int32_t column, std::int32_t row, Step::Neighbourhood& neighbourhood)
{
    const std::int32_t columns = settings.regions_x_count, rows = settings.regions_y_count;
    const float W = static_cast<float>(columns) * settings.region_size;
    const float H = static_cast<float>(rows) * settings.region_size;

    // Neighbour columns left to right, rows top to bottom within each column: the order in which every particle
    // of the region meets them. A region across an edge is seen at its image one world width or height away.
    Step::Neighbour* slot = neighbourhood.neighbours;
    for (std::int32_t dx = -1; dx <= 1; ++dx)
        for (std::int32_t dy = -1; dy <= 1; ++dy, ++slot)
        {
            float sx, sy;
            const std::int32_t nc = wrapCell(column + dx, columns, W, sx);
            const std::int32_t nr = wrapCell(row + dy, rows, H, sy);
            const auto region = static_cast<std::size_t>(nc + nr * columns);
            *slot = {region, particles.regionStart[region],      particles.regionStart[region + 1], sx,
                     sy,     summary.box[region].shifted(sx, sy)};
        }

    std::vector<std::int32_t>& present = neighbourhood.presentTypes;
    present.clear();
    if (typeCount <= maskedTypes)
    {
        std::uint64_t bits = 0;
        for (const Step::Neighbour& neighbour : neighbourhood.neighbours)
            bits |= summary.typeBits[neighbour.region];
        for (std::int32_t type = 0; bits != 0; ++type, bits >>= 1)
            if (bits & 1)
                present.push_back(type);
        return;
    }
    std::vector<std::uint8_t>& seen = neighbourhood.typeSeen;
    for (const Step::Neighbour& neighbour : neighbourhood.neighbours)
        for (std::size_t q = neighbour.first; q < neighbour.last; ++q)
        {
            const auto type = static_cast<std::size_t>(particles.type[q]);
            if (!seen[type])
                present.push_back(particles.type[q]);
            seen[type] = 1;
        }
    for (const std::int32_t type : present)
        seen[static_cast<std::size_t>(type)] = 0;
}

// The particles [first, last) of a region in the order the lanes take them: cell by cell. Any order gives the same
// results, since each particle's own sum keeps its order.
void groupLanes(std::size_t first, std::size_t last, const std::vector<std::uint8_t>& cell,
                std::vector<std::uint32_t>& order)
{
    order.resize(last - first);
    if (last - first <= lanes::count)
    {
        for (std::size_t i = first; i < last; ++i)
            order[i - first] = static_cast<std::uint32_t>(i);
        return;
    }
    std::uint32_t start[cellCount + 1] = {};
    for (std::size_t i = first; i < last; ++i)
        ++start[cell[i] + 1];
    for (std::size_t c = 0; c < cellCount; ++c)
        start[c + 1] += start[c];
    for (std::size_t i = first; i < last; ++i)
        order[start[cell[i]]++] = static_cast<std::uint32_t>(i);
}

// The candidates of a neighbour, in their order, whose images lie within the cutoff of their type from a block's
// bounding box. The last lanes of a region's last vector read the padding and are left out. Returns how many it
// wrote to `nearby`.
std::size_t findNearby(const Step::Neighbour& neighbour, const Box& box, const Step::RegionSummary& summary,
                       const std::vector<float>& cutoff2ByType, std::uint32_t* nearby)
{
    const float* const xs = summary.paddedX.data();
    const float* const ys = summary.paddedY.data();
    const std::int32_t* const types = summary.paddedType.data();
    std::size_t count = 0;
    for (std::size_t q = neighbour.first; q < neighbour.last; q += lanes::count)
    {
        const Floats x = lanes::load(&xs[q]) - neighbour.sx, y = lanes::load(&ys[q]) - neighbour.sy;
        const Floats gapX = lanes::max(lanes::max(box.left - x, x - box.right), lanes::zero);
        const Floats gapY = lanes::max(lanes::max(box.top - y, y - box.bottom), lanes::zero);
        Floats cutoff2;
        for (std::size_t l = 0; l < lanes::count; ++l)
            cutoff2[l] = cutoff2ByType[static_cast<std::size_t>(types[q + l])];
        const Ints inside =
            (gapX * gapX + gapY * gapY <= cutoff2) & (laneIndex < static_cast<std::int32_t>(neighbour.last - q));
        // Every lane is written; a lane inside holds -1, so subtracting it keeps the lane by moving past it.
        for (std::size_t l = 0; l < lanes::count; ++l)
        {
            nearby[count] = static_cast<std::uint32_t>(q + l);
            count -= static_cast<std::size_t>(inside[l]);
        }
    }
    return count;
}

// Adds the forces of the region's neighbourhood to the velocities of up to a vector's worth of its particles,
// `members[0 .. active)`.
void forceBlock(ParticleArrays& particles, const std::uint32_t* members, std::size_t active,
                const Step::Neighbourhood& neighbourhood, const Step::RegionSummary& summary,
                const std::vector<Interaction>& interactions, std::size_t typeCount, const ForceLaw& law, float dt,
                Step::BlockRules& rules, std::uint32_t* nearby)
{
    const float R = law.R, Z = law.Z, RZ = law.RZ, k = law.k;
    const std::size_t T = typeCount;

    // Idle lanes copy the first particle of the block; their results are never stored.
    std::size_t index[lanes::count];
    float pxs[lanes::count], pys[lanes::count], vxs[lanes::count], vys[lanes::count];
    Box box = Box::empty();
    for (std::size_t l = 0; l < lanes::count; ++l)
    {
        index[l] = members[l < active ? l : 0];
        pxs[l] = particles.x[index[l]];
        pys[l] = particles.y[index[l]];
        vxs[l] = particles.vx[index[l]];
        vys[l] = particles.vy[index[l]];
        box.grow(pxs[l], pys[l]);
    }
    // How each acting type present acts on each lane's particle, and the distance from the block's bounding box
    // beyond which a candidate of that type cannot act on any of the lanes.
    float widestCutoff = 0.0f;
    for (const std::int32_t type : neighbourhood.presentTypes)
    {
        const auto t = static_cast<std::size_t>(type);
        float widestReach = 0.0f;
        for (std::size_t l = 0; l < lanes::count; ++l)
        {
            const Interaction& m = interactions[T * static_cast<std::size_t>(particles.type[index[l]]) + t];
            rules.strength[t * lanes::count + l] = m.strength;
            rules.reach[t * lanes::count + l] = m.reach;
            widestReach = std::max(widestReach, m.reach);
        }
        const float cutoff = law.canSkip ? std::max(R, RZ + widestReach) * ForceLaw::skipMargin + law.slack : INFINITY;
        rules.cutoff2[t] = cutoff < largestCutoff ? cutoff * cutoff : INFINITY;
        widestCutoff = std::max(widestCutoff, rules.cutoff2[t] < INFINITY ? cutoff : INFINITY);
    }
    const Box near = box.widened(widestCutoff);

    const float* const xs = particles.x.data();
    const float* const ys = particles.y.data();
    const std::int32_t* const types = particles.type.data();
    const float* const strength = rules.strength.data();
    const float* const reach = rules.reach.data();
    Floats vx = lanes::load(vxs), vy = lanes::load(vys);
    const Floats px = lanes::load(pxs), py = lanes::load(pys);
    for (const Step::Neighbour& neighbour : neighbourhood.neighbours)
    {
        if (!neighbour.images.overlaps(near))
            continue;
        const float sx = neighbour.sx, sy = neighbour.sy;
        const std::size_t nearbyCount = findNearby(neighbour, box, summary, rules.cutoff2, nearby);

        for (std::size_t n = 0; n < nearbyCount; ++n)
        {
            const std::size_t candidate = nearby[n];
            const std::size_t row = static_cast<std::size_t>(types[candidate]) * lanes::count;
            const Floats u = px - (xs[candidate] - sx);
            const Floats v = py - (ys[candidate] - sy);
            const Floats d = lanes::squareRoot(u * u + v * v);
            // Beyond R + Z: a tent over the band of width reach; inside R: the close-range push. The neutral zone
            // between adds a zero, which is left out, as is distance 0 (a particle meeting itself).
            const Floats e = d - R - Z;
            const Floats tent = lanes::max(lanes::zero, lanes::min(e, lanes::load(&reach[row]) - e));
            const Floats band = lanes::load(&strength[row]) * tent;
            const Floats push = (R - d) * k;
            const Ints beyond = d > RZ;
            const Ints acts = beyond | ((d <= R) & (d > lanes::zero));
            const Floats f = lanes::select(beyond, band, push) / d;
            vx = lanes::select(acts, vx + f * u * dt, vx);
            vy = lanes::select(acts, vy + f * v * dt, vy);
        }
    }
    lanes::store(vxs, vx);
    lanes::store(vys, vy);

    for (std::size_t l = 0; l < active; ++l)
    {
        particles.vx[index[l]] = vxs[l];
        particles.vy[index[l]] = vys[l];
    }
}

} // namespace

void Step::accumulateForces(ParticleArrays& particles, const std::vector<Interaction>& interactions,
                            std::int32_t typeCount, const Settings& settings, float dt)
{
    const auto T = static_cast<std::size_t>(typeCount);
    m_neighbourhood.typeSeen.assign(T, 0);
    m_blockRules.strength.resize(T * lanes::count);
    m_blockRules.reach.resize(T * lanes::count);
    m_blockRules.cutoff2.resize(T);
    m_nearby.resize(particles.type.size() + lanes::count);
    summarizeRegions(particles, settings.region_size, m_summary);
    const ForceLaw law(settings);

    for (std::int32_t r = 0; r < settings.regions_y_count; ++r)
        for (std::int32_t c = 0; c < settings.regions_x_count; ++c)
        {
            const auto region = static_cast<std::size_t>(c + r * settings.regions_x_count);
            const std::size_t first = particles.regionStart[region], last = particles.regionStart[region + 1];
            if (first == last)
                continue;
            findNeighbours(particles, m_summary, settings, typeCount, c, r, m_neighbourhood);
            groupLanes(first, last, m_summary.cell, m_order);
            for (std::size_t block = 0; block < m_order.size(); block += lanes::count)
                forceBlock(particles, &m_order[block], std::min(lanes::count, m_order.size() - block), m_neighbourhood,
                           m_summary, interactions, T, law, dt, m_blockRules, m_nearby.data());
        }
}

} // namespace tamsel
