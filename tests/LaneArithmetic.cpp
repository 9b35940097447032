#include "LaneArithmetic.hpp"
#include "world/ExactArithmetic.hpp"

#include <cstring>

// Compiled once for each vector width, like world/Forces.cpp, whose lanes it takes its arithmetic from.
namespace testworld::TAMSEL_LANES
{

namespace lanes = tamsel::TAMSEL_LANES::lanes;
namespace exact = tamsel::TAMSEL_LANES::exact;
using lanes::Floats;

bool squareRoots(const float* x, float* root, std::size_t count, LaneArithmetic how)
{
    if (how != LaneArithmetic::divider && !exact::fused)
        return false;
    for (std::size_t i = 0; i < count; i += lanes::count)
    {
        const std::size_t n = count - i < lanes::count ? count - i : lanes::count;
        Floats in = lanes::zero;
        std::memcpy(&in, &x[i], sizeof(float) * n);
        Floats out;
        if (how == LaneArithmetic::divider)
            out = lanes::squareRoot(in);
        else if (how == LaneArithmetic::fused)
            out = exact::squareRoot(in);
        else
            out = exact::floats(exact::rootSequence(exact::vector(in)));
        std::memcpy(&root[i], &out, sizeof(float) * n);
    }
    return true;
}

bool quotients(const float* a, const float* b, float* q, std::size_t count, LaneArithmetic how)
{
    if (how != LaneArithmetic::divider && !exact::fused)
        return false;
    for (std::size_t i = 0; i < count; i += lanes::count)
    {
        const std::size_t n = count - i < lanes::count ? count - i : lanes::count;
        Floats dividend = lanes::zero, divisor = lanes::zero;
        std::memcpy(&dividend, &a[i], sizeof(float) * n);
        std::memcpy(&divisor, &b[i], sizeof(float) * n);
        Floats out;
        if (how == LaneArithmetic::divider)
            out = dividend / divisor;
        else if (how == LaneArithmetic::fused)
            out = exact::quotient(dividend, divisor);
        else
            out = exact::floats(exact::quotientSequence(exact::vector(dividend), exact::vector(divisor)));
        std::memcpy(&q[i], &out, sizeof(float) * n);
    }
    return true;
}

} // namespace testworld::TAMSEL_LANES
