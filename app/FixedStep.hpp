#pragma once

#include <cmath>

namespace tamsel
{

constexpr float fixedStep = 0.025f; // seconds of simulated time per world update

/// Adds one frame's elapsed seconds to the accumulator and tells whether the world is due for a step. At most one
/// step is taken per frame, and only the remainder of a whole number of steps is kept, so after slow frames the
/// simulation runs slower than real time instead of trying to catch up.
inline bool consumeFixedStep(float& accumulator, float elapsed)
{
    accumulator += elapsed;
    if (!(accumulator > fixedStep))
        return false;
    accumulator = std::fmod(accumulator, fixedStep);
    return true;
}

} // namespace tamsel
