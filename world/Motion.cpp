#include "world/ForcePass.hpp"
#include "world/Lanes.hpp"

// This file is compiled once for each vector width; see world/ForcePass.hpp for what it may not use.
namespace tamsel::TAMSEL_LANES
{

// Nearly every particle ends less than a world width or height past its edge, where fmod leaves the coordinate as it
// is; this pass, which runs on vectors, moves those and leaves the rest for the step's exact path.
void moveParticles(const StepParameters& parameters, float dt, const MovedParticles& particles,
                   std::uint32_t* leftToExactPath, std::uint32_t* targets)
{
    const float width = parameters.width, height = parameters.height, damping = parameters.damping;
    constexpr float largest = __FLT_MAX__;
    const std::size_t count = particles.count;
    float* const xs = particles.x;
    float* const ys = particles.y;
    float* const vxs = particles.vx;
    float* const vys = particles.vy;
    for (std::size_t i = 0; i < count; ++i)
    {
        const float vx = vxs[i] * damping;
        const float vy = vys[i] * damping;
        const float movedY = ys[i] + vy * dt;
        const float movedX = xs[i] + vx * dt;
        const bool exact = !(__builtin_fabsf(movedX) < width) | !(__builtin_fabsf(movedY) < height) |
                           !(__builtin_fabsf(vx) <= largest) | !(__builtin_fabsf(vy) <= largest);
        float x = movedX < 0.0f ? movedX + width : movedX;
        float y = movedY < 0.0f ? movedY + height : movedY;
        // A tiny negative coordinate plus the width can round to the width itself: that is the near edge.
        x = x >= width ? 0.0f : x;
        y = y >= height ? 0.0f : y;
        leftToExactPath[i] = exact;
        xs[i] = exact ? xs[i] : x;
        ys[i] = exact ? ys[i] : y;
        vxs[i] = exact ? vxs[i] : vx;
        vys[i] = exact ? vys[i] : vy;
    }
    const RegionGrid grid = parameters.grid;
    for (std::size_t i = 0; i < count; ++i)
        targets[i] = grid.regionOf(xs[i], ys[i]);
}

} // namespace tamsel::TAMSEL_LANES
