#include "world/ExactArithmetic.hpp"
#include "world/ForcePass.hpp"
#include "world/Lanes.hpp"
#include "world/Particles.hpp"

#include <cstring>

// This file is compiled once for each vector width; see world/ForcePass.hpp for what it may not use.
namespace tamsel::TAMSEL_LANES
{

namespace
{

using lanes::Floats;
using lanes::Ints;

// Lanes that lie close together share more candidates worth visiting, so a region's particles are taken cell by cell
// of a grid of cellsPerSide x cellsPerSide cells over the region, numbered along a Z-shaped curve.
constexpr std::uint32_t cellsPerSide = 4;
constexpr std::size_t cellCount = cellsPerSide * cellsPerSide;

// Up to this many types, the types present in a region are kept as one bit each.
constexpr std::int32_t maskedTypes = 64;

// A cutoff from this far on counts as infinite: its square, 1e36, must stay inside the float range.
constexpr float largestCutoff = 1e18f; // world units

constexpr float infinity = __builtin_inff();

static_assert(lanes::count <= maximumLanes, "the step sizes its working memory for at most maximumLanes lanes");

// std::max of floats, with its operand order; its own code may come from another width's build.
float larger(float a, float b)
{
    return a < b ? b : a;
}

// The box of the points minus (sx, sy).
Box shifted(const Box& box, float sx, float sy)
{
    return {box.left - sx, box.right - sx, box.top - sy, box.bottom - sy};
}

Box widened(const Box& box, float margin)
{
    return {box.left - margin, box.right + margin, box.top - margin, box.bottom + margin};
}

bool overlap(const Box& a, const Box& b)
{
    return a.left <= b.right && a.right >= b.left && a.top <= b.bottom && a.bottom >= b.top;
}

// The close-range zones and the force law's constants, with the bound on what a lane may skip.
struct ForceLaw
{
    explicit ForceLaw(const StepParameters& p)
        : R(p.R), Z(p.Z), RZ(R + Z), k(p.k), canSkip(R >= 0.0f && Z >= 0.0f),
          slack(1e-6f * (static_cast<float>(p.columns + p.rows + 2) * p.grid.regionSize))
    {
    }

    // The distance from a particle beyond which a candidate of the given reach adds only zeros to its velocity:
    // candidates farther than max(R, R + Z + reach) are skipped. The margins cover the rounding of distances
    // (relative) and of image coordinates (absolute, `slack`: a few units in the last place of the largest
    // coordinate). Without non-negative radii there is no such bound: nothing is skipped.
    float cutoff(float reach) const { return canSkip ? larger(R, RZ + reach) * skipMargin + slack : infinity; }

    static float squared(float cutoff) { return cutoff < largestCutoff ? cutoff * cutoff : infinity; }

    float R, Z, RZ, k;
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
void summarizeRegions(const ForceContext& c)
{
    const std::size_t count = c.count;
    const std::size_t regionCount = c.parameters.regionCount;
    if (count > 0) // an empty world's arrays may have no storage at all
    {
        std::memcpy(c.paddedX, c.x, count * sizeof(float));
        std::memcpy(c.paddedY, c.y, count * sizeof(float));
        std::memcpy(c.paddedType, c.type, count * sizeof(std::int32_t));
    }
    for (std::size_t i = count; i < count + lanes::count; ++i)
    {
        c.paddedX[i] = c.paddedY[i] = 0.0f;
        c.paddedType[i] = 0;
    }

    // Rounding may put a particle near a cell's edge into the next cell, which only changes how lanes are grouped; so
    // does the cap that keeps the conversion to an integer defined, at a multiple of the cells per side.
    static_assert(cellsPerSide == 4, "the Z-shaped numbering interleaves two bits of column and row");
    const float cellScale = cellsPerSide / c.parameters.grid.regionSize;
    constexpr float cellCap = 1 << 30;
    const Ints laneIndex = lanes::indices();
    const Floats far = lanes::zero + infinity;
    for (std::size_t region = 0; region < regionCount; ++region)
    {
        // A region's last vector reads on into the next region or the padding: those lanes count for nothing, and
        // the cells they write are written again with the next region.
        const std::size_t first = c.regionStart[region], last = c.regionStart[region + 1];
        Floats left = far, right = -far, top = far, bottom = -far;
        for (std::size_t i = first; i < last; i += lanes::count)
        {
            const Floats x = lanes::load(&c.paddedX[i]), y = lanes::load(&c.paddedY[i]);
            const Ints inside = laneIndex < static_cast<std::int32_t>(last - i);
            left = lanes::min(left, lanes::select(inside, x, far));
            right = lanes::max(right, lanes::select(inside, x, -far));
            top = lanes::min(top, lanes::select(inside, y, far));
            bottom = lanes::max(bottom, lanes::select(inside, y, -far));
            const Ints cx = __builtin_convertvector(lanes::min(x * cellScale, lanes::zero + cellCap), Ints);
            const Ints cy = __builtin_convertvector(lanes::min(y * cellScale, lanes::zero + cellCap), Ints);
            lanes::storeBytes(&c.cell[i], (cx & 1) | (cy & 1) << 1 | (cx & 2) << 1 | (cy & 2) << 2);
        }
        std::uint64_t types = 0;
        for (std::size_t i = first; i < last; ++i)
            types |= std::uint64_t{1} << (static_cast<std::uint32_t>(c.type[i]) % maskedTypes);
        c.box[region] = {lanes::smallest(left), lanes::largest(right), lanes::smallest(top), lanes::largest(bottom)};
        c.typeBits[region] = types;
    }
}

// The neighbours of one region in the order its particles meet them, and the acting types present among them: a
// block's interaction table holds only their rows, and only their reach bounds the distance at which candidates
// can act.
struct Neighbourhood
{
    Neighbour neighbours[9];
    const std::int32_t* presentTypes;
    std::size_t presentCount;
};

Neighbourhood findNeighbours(const ForceContext& c, std::int32_t column, std::int32_t row)
{
    const std::int32_t columns = c.parameters.columns, rows = c.parameters.rows;
    const float W = c.parameters.W, H = c.parameters.H;
    Neighbourhood neighbourhood;

    // Neighbour columns left to right, rows top to bottom within each column: the order in which every particle
    // of the region meets them. A region across an edge is seen at its image one world width or height away.
    Neighbour* slot = neighbourhood.neighbours;
    for (std::int32_t dx = -1; dx <= 1; ++dx)
        for (std::int32_t dy = -1; dy <= 1; ++dy, ++slot)
        {
            float sx, sy;
            const std::int32_t nc = wrapCell(column + dx, columns, W, sx);
            const std::int32_t nr = wrapCell(row + dy, rows, H, sy);
            const auto region = static_cast<std::size_t>(nc + nr * columns);
            *slot = {region, c.regionStart[region], c.regionStart[region + 1], sx, sy, shifted(c.box[region], sx, sy)};
        }

    std::int32_t* const present = c.presentTypes;
    std::size_t presentCount = 0;
    if (c.typeCount <= maskedTypes)
    {
        std::uint64_t bits = 0;
        for (const Neighbour& neighbour : neighbourhood.neighbours)
            bits |= c.typeBits[neighbour.region];
        for (std::int32_t type = 0; bits != 0; ++type, bits >>= 1)
            if (bits & 1)
                present[presentCount++] = type;
    }
    else
    {
        for (const Neighbour& neighbour : neighbourhood.neighbours)
            for (std::size_t q = neighbour.first; q < neighbour.last; ++q)
            {
                const auto type = static_cast<std::size_t>(c.type[q]);
                if (!c.typeSeen[type])
                    present[presentCount++] = c.type[q];
                c.typeSeen[type] = 1;
            }
        for (std::size_t p = 0; p < presentCount; ++p)
            c.typeSeen[static_cast<std::size_t>(present[p])] = 0;
    }
    neighbourhood.presentTypes = present;
    neighbourhood.presentCount = presentCount;
    return neighbourhood;
}

// The particles [first, last) of a region in the order the lanes take them: cell by cell. Any order gives the same
// results, since each particle's own sum keeps its order.
void groupLanes(const ForceContext& c, std::size_t first, std::size_t last)
{
    std::uint32_t* const order = c.order;
    if (last - first <= lanes::count)
    {
        for (std::size_t i = first; i < last; ++i)
            order[i - first] = static_cast<std::uint32_t>(i);
        return;
    }
    std::uint32_t start[cellCount + 1] = {};
    for (std::size_t i = first; i < last; ++i)
        ++start[c.cell[i] + 1];
    for (std::size_t cell = 0; cell < cellCount; ++cell)
        start[cell + 1] += start[cell];
    for (std::size_t i = first; i < last; ++i)
        order[start[c.cell[i]]++] = static_cast<std::uint32_t>(i);
}

// The candidates of a neighbour, in their order, whose images lie within the cutoff of their type from a block's
// bounding box: the coordinates of their images and their rows in the block's tables, packed into `nearbyX`,
// `nearbyY` and `nearbyRow`. The last lanes of a region's last vector read the padding and are left out. Returns how
// many candidates it kept.
std::size_t findNearby(const ForceContext& c, const Neighbour& neighbour, const Box& box)
{
    // Locals: the packing's stores may alias anything, the context's pointers included.
    const float *const paddedX = c.paddedX, *const paddedY = c.paddedY, *const cutoff2 = c.cutoff2;
    const std::int32_t* const paddedType = c.paddedType;
    float *const nearbyX = c.nearbyX, *const nearbyY = c.nearbyY;
    std::uint32_t* const nearbyRow = c.nearbyRow;
    const auto typeCount = static_cast<std::size_t>(c.typeCount);
    const float sx = neighbour.sx, sy = neighbour.sy;
    std::size_t count = 0;
    for (std::size_t q = neighbour.first; q < neighbour.last; q += lanes::count)
    {
        const Floats x = lanes::load(&paddedX[q]) - sx, y = lanes::load(&paddedY[q]) - sy;
        const Ints type = lanes::load(&paddedType[q]);
        const Floats gapX = lanes::max(lanes::max(box.left - x, x - box.right), lanes::zero);
        const Floats gapY = lanes::max(lanes::max(box.top - y, y - box.bottom), lanes::zero);
        const Ints inside = gapX * gapX + gapY * gapY <= lanes::lookUp(cutoff2, typeCount, type);
        count +=
            lanes::pack(inside, neighbour.last - q, {(Ints)x, (Ints)y, type * static_cast<std::int32_t>(lanes::count)},
                        {nearbyX + count, nearbyY + count, nearbyRow + count});
    }
    return count;
}

// The square root and the quotient as the hardware rounds them: by the multiply-add sequences when `fused`.
template <bool fused> Floats squareRoot(Floats x)
{
    if constexpr (fused)
        return exact::squareRoot(x);
    else
        return lanes::squareRoot(x);
}

template <bool fused> Floats quotient(Floats a, Floats b)
{
    if constexpr (fused)
        return exact::quotient(a, b);
    else
        return a / b;
}

// Adds the forces of the region's neighbourhood to the velocities of up to a vector's worth of its particles,
// `members[0 .. active)`.
template <bool fused>
void forceBlock(const ForceContext& c, const ForceLaw& law, const Neighbourhood& neighbourhood,
                const std::uint32_t* members, std::size_t active)
{
    const float R = law.R, Z = law.Z, RZ = law.RZ, k = law.k, dt = c.dt;
    const auto T = static_cast<std::size_t>(c.typeCount);

    // Idle lanes copy the first particle of the block; their results are never stored.
    std::size_t index[lanes::count];
    float pxs[lanes::count], pys[lanes::count], vxs[lanes::count], vys[lanes::count];
    std::int32_t types[lanes::count];
    for (std::size_t l = 0; l < lanes::count; ++l)
    {
        index[l] = members[l < active ? l : 0];
        pxs[l] = c.x[index[l]];
        pys[l] = c.y[index[l]];
        vxs[l] = c.vx[index[l]];
        vys[l] = c.vy[index[l]];
        types[l] = c.type[index[l]];
    }
    const Floats px = lanes::load(pxs), py = lanes::load(pys);
    Floats vx = lanes::load(vxs), vy = lanes::load(vys);
    const Ints laneType = lanes::load(types);
    const Box box = {lanes::smallest(px), lanes::largest(px), lanes::smallest(py), lanes::largest(py)};
    // How each acting type present acts on each lane's particle, and the distance from the block's bounding box
    // beyond which a candidate of that type cannot act on any of the lanes. With few types, a vector's lookup in the
    // acting type's column of the interactions gives a whole row.
    float widestCutoff = 0.0f;
    for (std::size_t p = 0; p < neighbourhood.presentCount; ++p)
    {
        const auto t = static_cast<std::size_t>(neighbourhood.presentTypes[p]);
        float* const strengthRow = &c.strength[t * lanes::count];
        float* const reachRow = &c.reach[t * lanes::count];
        if (T <= lanes::count)
        {
            lanes::store(strengthRow, lanes::lookUp(&c.actingStrength[t * lanes::count], T, laneType));
            lanes::store(reachRow, lanes::lookUp(&c.actingReach[t * lanes::count], T, laneType));
        }
        else
            for (std::size_t l = 0; l < lanes::count; ++l)
            {
                const Interaction& m = c.interactions[T * static_cast<std::size_t>(laneType[l]) + t];
                strengthRow[l] = m.strength;
                reachRow[l] = m.reach;
            }
        const float cutoff = law.cutoff(larger(0.0f, lanes::largest(lanes::load(reachRow))));
        c.cutoff2[t] = ForceLaw::squared(cutoff);
        widestCutoff = larger(widestCutoff, c.cutoff2[t] < infinity ? cutoff : infinity);
    }
    const Box near = widened(box, widestCutoff);

    const float* const strength = c.strength;
    const float* const reach = c.reach;
    for (const Neighbour& neighbour : neighbourhood.neighbours)
    {
        if (!overlap(neighbour.images, near))
            continue;
        const std::size_t nearbyCount = findNearby(c, neighbour, box);

        for (std::size_t n = 0; n < nearbyCount; ++n)
        {
            const std::size_t row = c.nearbyRow[n];
            const Floats u = px - c.nearbyX[n];
            const Floats v = py - c.nearbyY[n];
            const Floats d = squareRoot<fused>(u * u + v * v);
            // Beyond R + Z: a tent over the band of width reach; inside R: the close-range push. The neutral zone
            // between adds a zero, which is left out, as is distance 0 (a particle meeting itself).
            const Floats e = d - R - Z;
            const Floats tent = lanes::max(lanes::zero, lanes::min(e, lanes::load(&reach[row]) - e));
            const Floats band = lanes::load(&strength[row]) * tent;
            const Floats push = (R - d) * k;
            const Ints beyond = d > RZ;
            const Ints acts = beyond | ((d <= R) & (d > lanes::zero));
            const Floats f = quotient<fused>(lanes::select(beyond, band, push), d);
            vx = lanes::select(acts, vx + f * u * dt, vx);
            vy = lanes::select(acts, vy + f * v * dt, vy);
        }
    }
    for (std::size_t l = 0; l < active; ++l)
    {
        c.vx[index[l]] = vx[l];
        c.vy[index[l]] = vy[l];
    }
}

} // namespace

void accumulateForces(const ForceContext& context)
{
    summarizeRegions(context);
    const auto T = static_cast<std::size_t>(context.typeCount);
    if (T <= lanes::count)
        for (std::size_t t = 0; t < T; ++t)
            for (std::size_t a = 0; a < T; ++a)
            {
                context.actingStrength[t * lanes::count + a] = context.interactions[a * T + t].strength;
                context.actingReach[t * lanes::count + a] = context.interactions[a * T + t].reach;
            }
    const StepParameters& parameters = context.parameters;
    const ForceLaw law(parameters);
    for (std::int32_t r = 0; r < parameters.rows; ++r)
        for (std::int32_t column = 0; column < parameters.columns; ++column)
        {
            const auto region = static_cast<std::size_t>(column + r * parameters.columns);
            const std::size_t first = context.regionStart[region], last = context.regionStart[region + 1];
            if (first == last)
                continue;
            const Neighbourhood neighbourhood = findNeighbours(context, column, r);
            groupLanes(context, first, last);
            for (std::size_t block = 0; block < last - first; block += lanes::count)
            {
                const std::size_t remaining = last - first - block;
                const std::size_t active = remaining < lanes::count ? remaining : lanes::count;
                if (exact::fused && context.fused)
                    forceBlock<true>(context, law, neighbourhood, &context.order[block], active);
                else
                    forceBlock<false>(context, law, neighbourhood, &context.order[block], active);
            }
        }
}

bool takesRootsByMultiplyAdds()
{
    return exact::fused;
}

} // namespace tamsel::TAMSEL_LANES
