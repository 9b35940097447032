#include "world/Random.hpp"

#include <cassert>

namespace tamsel
{

std::mt19937 randomEngine{std::random_device{}()};

float uniformFloat(float a, float b)
{
    const float u = static_cast<float>(randomEngine()) / 4294967296.0f;
    return u * (b - a) + a;
}

double uniformDouble(double a, double b)
{
    const double x0 = static_cast<double>(randomEngine());
    const double x1 = static_cast<double>(randomEngine());
    const double u = (x0 + x1 * 4294967296.0) / 18446744073709551616.0;
    return u * (b - a) + a;
}

std::uint32_t uniformInteger(std::uint32_t n)
{
    assert(n >= 1 && "a uniform integer needs a non-empty range");
    if (n == 1)
        return 0;

    constexpr std::uint32_t top = 0xFFFFFFFFu;
    const bool everyOutputFits = top % n == n - 1;
    const std::uint32_t limit = top / n;
    std::uint32_t r = 0;
    do
        r = static_cast<std::uint32_t>(randomEngine());
    while (!everyOutputFits && r / n >= limit);
    return r % n;
}

} // namespace tamsel
