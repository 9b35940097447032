#pragma once

#include <cstddef>

// The force pass's square roots and quotients (world/ExactArithmetic.hpp) over whole arrays, built by
// tests/LaneArithmetic.cpp once for each vector width with that width's flags, as the step's passes are.
namespace testworld
{

// By the hardware's instructions; as the force pass takes them by multiply-add sequences (with the hardware for the
// lanes outside the sequences' proven range); or by the sequences alone, whatever they give outside that range.
enum class LaneArithmetic
{
    divider,
    fused,
    sequenceOnly
};

// Every square root of x[0 .. count) into root, and every quotient a / b into q, lane by lane. Return false, doing
// nothing, when the width has no multiply-add sequences and they were asked for.
#define TESTWORLD_LANE_FUNCTIONS                                                                                       \
    bool squareRoots(const float* x, float* root, std::size_t count, LaneArithmetic how);                              \
    bool quotients(const float* a, const float* b, float* q, std::size_t count, LaneArithmetic how);

namespace lanes4
{
TESTWORLD_LANE_FUNCTIONS
} // namespace lanes4
namespace lanes8
{
TESTWORLD_LANE_FUNCTIONS
} // namespace lanes8
namespace lanes16
{
TESTWORLD_LANE_FUNCTIONS
} // namespace lanes16

#undef TESTWORLD_LANE_FUNCTIONS

} // namespace testworld
