#include "world/ExactArithmetic.hpp"
#include "world/ForcePass.hpp"
#include "world/Lanes.hpp"
#include "world/Particles.hpp"

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

// The relative margin of a cutoff, for the rounding of distances.
constexpr float skipMargin = 1.0f + 1e-5f;

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

// The distance from a particle beyond which a candidate of the given reach adds only zeros to its velocity:
// candidates farther than max(radius, bandStart + reach) are skipped, with margins for the rounding of distances and
// of image coordinates. Without the bound (StepParameters::canSkip) nothing is skipped.
float cutoffFor(const StepParameters& parameters, float reach)
{
    if (!parameters.canSkip)
        return infinity;
    return larger(parameters.radius, parameters.bandStart + reach) * skipMargin + parameters.slack;
}

float squared(float cutoff)
{
    return cutoff < largestCutoff ? cutoff * cutoff : infinity;
}

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

// Each particle's cell, and each region's bounding box and types, before any velocity changes.
void summarizeRegions(const ForceInput& input, Buffer<std::uint8_t>& cell, Buffer<Box>& box,
                      Buffer<std::uint64_t>& typeBits)
{
    // Rounding may put a particle near a cell's edge into the next cell, which only changes how lanes are grouped; so
    // does the cap that keeps the conversion to an integer defined, at a multiple of the cells per side.
    static_assert(cellsPerSide == 4, "the Z-shaped numbering interleaves two bits of column and row");
    const float cellScale = cellsPerSide / input.parameters.grid.regionSize;
    constexpr float cellCap = 1 << 30;
    const Ints laneIndex = lanes::indices();
    const Floats far = lanes::zero + infinity;
    const std::size_t regionCount = input.parameters.grid.regionCount();
    for (std::size_t region = 0; region < regionCount; ++region)
    {
        // A region's last vector reads on into the next region or the padding: those lanes count for nothing, and
        // the cells they write are written again with the next region.
        const std::size_t first = input.regionStart[region], last = input.regionStart[region + 1];
        Floats left = far, right = -far, top = far, bottom = -far;
        for (std::size_t i = first; i < last; i += lanes::count)
        {
            const Floats x = lanes::load(&input.x[i]), y = lanes::load(&input.y[i]);
            const Ints inside = laneIndex < static_cast<std::int32_t>(last - i);
            left = lanes::min(left, lanes::select(inside, x, far));
            right = lanes::max(right, lanes::select(inside, x, -far));
            top = lanes::min(top, lanes::select(inside, y, far));
            bottom = lanes::max(bottom, lanes::select(inside, y, -far));
            const Ints cx = __builtin_convertvector(lanes::min(x * cellScale, lanes::zero + cellCap), Ints);
            const Ints cy = __builtin_convertvector(lanes::min(y * cellScale, lanes::zero + cellCap), Ints);
            lanes::storeBytes(&cell[i], (cx & 1) | (cy & 1) << 1 | (cx & 2) << 1 | (cy & 2) << 2);
        }
        std::uint64_t types = 0;
        for (std::size_t i = first; i < last; ++i)
            types |= std::uint64_t{1} << (static_cast<std::uint32_t>(input.type[i]) % maskedTypes);
        box[region] = {lanes::smallest(left), lanes::largest(right), lanes::smallest(top), lanes::largest(bottom)};
        typeBits[region] = types;
    }
}

// A neighbour region as the region looking at it sees it: its particles, the shift that carries them to their images
// next to the region, and the images' bounding box.
struct Neighbour
{
    std::size_t region;
    std::size_t first, last;
    float sx, sy;
    Box images;
};

// The neighbours of one region in the order its particles meet them, and the acting types present among them: a
// block's tables hold only their rows, and only their reach bounds the distance at which candidates can act.
struct Neighbourhood
{
    Neighbour neighbours[9];
    const std::int32_t* presentTypes;
    std::size_t presentCount;
};

// Neighbour columns left to right, rows top to bottom within each column: the order in which every particle of the
// region meets them. A region across an edge is seen at its image one world width or height away.
void findNeighbours(const ForceInput& input, const Buffer<Box>& box, std::int32_t column, std::int32_t row,
                    Neighbour (&neighbours)[9])
{
    const StepParameters& parameters = input.parameters;
    Neighbour* slot = neighbours;
    for (std::int32_t dx = -1; dx <= 1; ++dx)
        for (std::int32_t dy = -1; dy <= 1; ++dy, ++slot)
        {
            float sx, sy;
            const std::int32_t neighbourColumn = wrapCell(column + dx, parameters.grid.columns, parameters.width, sx);
            const std::int32_t neighbourRow = wrapCell(row + dy, parameters.grid.rows, parameters.height, sy);
            const auto region = static_cast<std::size_t>(neighbourColumn + neighbourRow * parameters.grid.columns);
            *slot = {region, input.regionStart[region],   input.regionStart[region + 1], sx,
                     sy,     shifted(box[region], sx, sy)};
        }
}

// The types of the neighbours' particles, each once, into `present`; returns how many. With few types they come from
// the regions' bits, otherwise from the particles themselves, marked in `typeSeen` while they are listed.
std::size_t findPresentTypes(const ForceInput& input, const Buffer<std::uint64_t>& typeBits,
                             const Neighbour (&neighbours)[9], std::int32_t* present, std::uint8_t* typeSeen)
{
    std::size_t presentCount = 0;
    if (input.typeCount <= maskedTypes)
    {
        std::uint64_t bits = 0;
        for (const Neighbour& neighbour : neighbours)
            bits |= typeBits[neighbour.region];
        for (std::int32_t type = 0; bits != 0; ++type, bits >>= 1)
            if (bits & 1)
                present[presentCount++] = type;
        return presentCount;
    }
    for (const Neighbour& neighbour : neighbours)
        for (std::size_t q = neighbour.first; q < neighbour.last; ++q)
        {
            const auto type = static_cast<std::size_t>(input.type[q]);
            if (!typeSeen[type])
                present[presentCount++] = input.type[q];
            typeSeen[type] = 1;
        }
    for (std::size_t p = 0; p < presentCount; ++p)
        typeSeen[static_cast<std::size_t>(present[p])] = 0;
    return presentCount;
}

// The particles [first, last) of a region in the order the lanes take them: cell by cell. Any order gives the same
// results, since each particle's own sum keeps its order.
void groupLanes(const std::uint8_t* cell, std::size_t first, std::size_t last, std::uint32_t* order)
{
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

// Up to a vector's worth of a region's particles, one per lane. Idle lanes copy the first particle of the block;
// their results are never stored. The block's steps are inlined into forceBlock, as its own lines would be: a call
// would hand the block's vectors over through memory.
struct Block
{
    std::size_t index[lanes::count];
    std::size_t active;
    Floats x, y, vx, vy;
    Ints type;
    Box box;
};

__attribute__((always_inline)) inline Block loadBlock(const ForceInput& input, const float* vx, const float* vy,
                                                      const std::uint32_t* members, std::size_t active)
{
    Block block;
    block.active = active;
    float xs[lanes::count], ys[lanes::count], vxs[lanes::count], vys[lanes::count];
    std::int32_t types[lanes::count];
    for (std::size_t l = 0; l < lanes::count; ++l)
    {
        const std::size_t i = block.index[l] = members[l < active ? l : 0];
        xs[l] = input.x[i];
        ys[l] = input.y[i];
        vxs[l] = vx[i];
        vys[l] = vy[i];
        types[l] = input.type[i];
    }
    block.x = lanes::load(xs);
    block.y = lanes::load(ys);
    block.vx = lanes::load(vxs);
    block.vy = lanes::load(vys);
    block.type = lanes::load(types);
    block.box = {lanes::smallest(block.x), lanes::largest(block.x), lanes::smallest(block.y), lanes::largest(block.y)};
    return block;
}

__attribute__((always_inline)) inline void storeBlock(const Block& block, float* vx, float* vy)
{
    for (std::size_t l = 0; l < block.active; ++l)
    {
        vx[block.index[l]] = block.vx[l];
        vy[block.index[l]] = block.vy[l];
    }
}

// How each acting type present acts on each lane's particle, into `strength` and `reach`, and per type the squared
// distance from the block's box beyond which a candidate of that type cannot act on any of the lanes, into `cutoff2`.
// With few types, a vector's lookup in the acting type's column of the matrix gives a whole row. Returns the widest
// of those distances.
__attribute__((always_inline)) inline float fillBlockTables(const ForceInput& input, const Neighbourhood& neighbourhood,
                                                            Ints laneType, float* strength, float* reach,
                                                            float* cutoff2)
{
    const auto typeCount = static_cast<std::size_t>(input.typeCount);
    float widestCutoff = 0.0f;
    for (std::size_t p = 0; p < neighbourhood.presentCount; ++p)
    {
        const auto acting = static_cast<std::size_t>(neighbourhood.presentTypes[p]);
        float* const strengthRow = &strength[acting * lanes::count];
        float* const reachRow = &reach[acting * lanes::count];
        if (typeCount <= lanes::count)
        {
            lanes::store(strengthRow, lanes::lookUp(&input.actingStrength[acting * maximumLanes], typeCount, laneType));
            lanes::store(reachRow, lanes::lookUp(&input.actingReach[acting * maximumLanes], typeCount, laneType));
        }
        else
            for (std::size_t l = 0; l < lanes::count; ++l)
            {
                const Interaction& m = input.interactions[typeCount * static_cast<std::size_t>(laneType[l]) + acting];
                strengthRow[l] = m.strength;
                reachRow[l] = m.reach;
            }
        const float cutoff = cutoffFor(input.parameters, larger(0.0f, lanes::largest(lanes::load(reachRow))));
        cutoff2[acting] = squared(cutoff);
        widestCutoff = larger(widestCutoff, cutoff2[acting] < infinity ? cutoff : infinity);
    }
    return widestCutoff;
}

// The candidates of a neighbour, in their order, whose images lie within the cutoff of their type from a block's
// bounding box: the coordinates of their images and their rows in the block's tables, packed into `nearbyX`,
// `nearbyY` and `nearbyRow`. The last lanes of a region's last vector read the padding and are left out. Returns how
// many candidates it kept.
std::size_t findNearby(const ForceInput& input, const Neighbour& neighbour, const Box& box, const float* cutoff2,
                       float* nearbyX, float* nearbyY, std::uint32_t* nearbyRow)
{
    // Locals: the packing's stores may alias anything, the input's pointers included.
    const float *const xs = input.x, *const ys = input.y;
    const std::int32_t* const types = input.type;
    const auto typeCount = static_cast<std::size_t>(input.typeCount);
    const float sx = neighbour.sx, sy = neighbour.sy;
    std::size_t count = 0;
    for (std::size_t q = neighbour.first; q < neighbour.last; q += lanes::count)
    {
        const Floats x = lanes::load(&xs[q]) - sx, y = lanes::load(&ys[q]) - sy;
        const Ints type = lanes::load(&types[q]);
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

// Adds the forces of `count` nearby candidates to the block's velocities, in the candidates' order.
template <bool fused>
void addForces(const StepParameters& parameters, float dt, const float* strength, const float* reach,
               const float* nearbyX, const float* nearbyY, const std::uint32_t* nearbyRow, std::size_t count,
               Block& block)
{
    const float radius = parameters.radius, zone = parameters.zone, bandStart = parameters.bandStart;
    const float repulsion = parameters.repulsion;
    const Floats px = block.x, py = block.y;
    Floats vx = block.vx, vy = block.vy;
    for (std::size_t n = 0; n < count; ++n)
    {
        const std::size_t row = nearbyRow[n];
        const Floats u = px - nearbyX[n];
        const Floats v = py - nearbyY[n];
        const Floats d = squareRoot<fused>(u * u + v * v);
        // Beyond the band's start: a tent over the band of width reach; inside the radius: the close-range push. The
        // neutral zone between adds a zero, which is left out, as is distance 0 (a particle meeting itself).
        const Floats e = d - radius - zone;
        const Floats tent = lanes::max(lanes::zero, lanes::min(e, lanes::load(&reach[row]) - e));
        const Floats band = lanes::load(&strength[row]) * tent;
        const Floats push = (radius - d) * repulsion;
        const Ints beyond = d > bandStart;
        const Ints acts = beyond | ((d <= radius) & (d > lanes::zero));
        const Floats f = quotient<fused>(lanes::select(beyond, band, push), d);
        vx = lanes::select(acts, vx + f * u * dt, vx);
        vy = lanes::select(acts, vy + f * v * dt, vy);
    }
    block.vx = vx;
    block.vy = vy;
}

// Adds the forces of the region's neighbourhood to the velocities of up to a vector's worth of its particles,
// `members[0 .. active)`.
template <bool fused>
void forceBlock(const ForceInput& input, const Neighbourhood& neighbourhood, const std::uint32_t* members,
                std::size_t active, BlockBuffers& buffers, float* vx, float* vy)
{
    Block block = loadBlock(input, vx, vy, members, active);
    const float widestCutoff = fillBlockTables(input, neighbourhood, block.type, buffers.strength.data(),
                                               buffers.reach.data(), buffers.cutoff2.data());
    const Box near = widened(block.box, widestCutoff);
    for (const Neighbour& neighbour : neighbourhood.neighbours)
    {
        if (!overlap(neighbour.images, near))
            continue;
        const std::size_t count = findNearby(input, neighbour, block.box, buffers.cutoff2.data(),
                                             buffers.nearbyX.data(), buffers.nearbyY.data(), buffers.nearbyRow.data());
        addForces<fused>(input.parameters, input.dt, buffers.strength.data(), buffers.reach.data(),
                         buffers.nearbyX.data(), buffers.nearbyY.data(), buffers.nearbyRow.data(), count, block);
    }
    storeBlock(block, vx, vy);
}

} // namespace

void accumulateForces(const ForceInput& input, float* vx, float* vy, ForceBuffers& buffers)
{
    summarizeRegions(input, buffers.cell, buffers.box, buffers.typeBits);
    const RegionGrid& grid = input.parameters.grid;
    for (std::int32_t row = 0; row < grid.rows; ++row)
        for (std::int32_t column = 0; column < grid.columns; ++column)
        {
            const auto region = static_cast<std::size_t>(column + row * grid.columns);
            const std::size_t first = input.regionStart[region], last = input.regionStart[region + 1];
            if (first == last)
                continue;
            Neighbourhood neighbourhood;
            findNeighbours(input, buffers.box, column, row, neighbourhood.neighbours);
            neighbourhood.presentTypes = buffers.presentTypes.data();
            neighbourhood.presentCount = findPresentTypes(input, buffers.typeBits, neighbourhood.neighbours,
                                                          buffers.presentTypes.data(), buffers.typeSeen.data());
            groupLanes(buffers.cell.data(), first, last, buffers.order.data());
            for (std::size_t block = 0; block < last - first; block += lanes::count)
            {
                const std::size_t remaining = last - first - block;
                const std::size_t active = remaining < lanes::count ? remaining : lanes::count;
                const std::uint32_t* const members = &buffers.order[block];
                if (exact::fused && input.fused)
                    forceBlock<true>(input, neighbourhood, members, active, buffers.block, vx, vy);
                else
                    forceBlock<false>(input, neighbourhood, members, active, buffers.block, vx, vy);
            }
        }
}

bool takesRootsByMultiplyAdds()
{
    return exact::fused;
}

} // namespace tamsel::TAMSEL_LANES
