#include "app/FixedStep.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace
{

TEST(FixedStep, TakesAStepOnlyAfterMoreThanOneStepOfTime)
{
    struct Case
    {
        float start;
        float elapsed;
        bool step;
        float remainder;
    };
    const Case cases[] = {
        {0.0f, 0.025f, false, 0.025f}, // exactly one step: wait
        {0.0f, std::nextafter(0.025f, 1.0f), true, std::fmod(std::nextafter(0.025f, 1.0f), 0.025f)},
        {0.0f, 0.1f, true, std::fmod(0.1f, 0.025f)}, // slow frame: one step only
        {0.02f, 0.01f, true, std::fmod(0.02f + 0.01f, 0.025f)},
        {0.0f, 0.01f, false, 0.01f},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.start << " + " << c.elapsed);
        float accumulator = c.start;
        EXPECT_EQ(tamsel::consumeFixedStep(accumulator, c.elapsed), c.step);
        EXPECT_EQ(accumulator, c.remainder);
    }
}

} // namespace
