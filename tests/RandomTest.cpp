#include "world/Random.hpp"

#include <gtest/gtest.h>

#include <random>

namespace
{

using tamsel::randomEngine;

TEST(UniformInteger, OneValueSpendsNoOutput)
{
    randomEngine.seed(7);
    std::mt19937 reference(7);
    EXPECT_EQ(tamsel::uniformInteger(1), 0u);
    EXPECT_EQ(randomEngine(), reference());
}

TEST(UniformInteger, RejectsOutputsThatWouldBiasTheRemainder)
{
    // Only outputs below n are fair for n = 2^31 + 1: each larger one is drawn again.
    const std::uint32_t n = 0x80000001u;
    randomEngine.seed(11);
    std::mt19937 reference(11);
    for (int draw = 0; draw < 200; ++draw)
    {
        std::uint32_t expected;
        do
            expected = static_cast<std::uint32_t>(reference());
        while (expected >= n);
        ASSERT_EQ(tamsel::uniformInteger(n), expected) << "draw " << draw;
    }
}

TEST(UniformInteger, PowersOfTwoTakeEveryOutput)
{
    randomEngine.seed(3);
    std::mt19937 reference(3);
    for (std::uint32_t n : {2u, 16u, 65536u, 0x80000000u})
        for (int draw = 0; draw < 50; ++draw)
            ASSERT_EQ(tamsel::uniformInteger(n), static_cast<std::uint32_t>(reference()) % n);
}

TEST(UniformDraws, StayInTheirRangeAndSpendTheirOutputs)
{
    randomEngine.seed(5);
    std::mt19937 reference(5);
    for (int draw = 0; draw < 1000; ++draw)
    {
        const float f = tamsel::uniformFloat(-2.0f, 3.0f);
        ASSERT_GE(f, -2.0f);
        ASSERT_LE(f, 3.0f);
        const double d = tamsel::uniformDouble(-1.0, 1.0);
        ASSERT_GE(d, -1.0);
        ASSERT_LE(d, 1.0);
        reference.discard(3);
    }
    EXPECT_EQ(randomEngine(), reference());
}

} // namespace
