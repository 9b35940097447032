// libFuzzer target: every input is the text of a settings file, parsed and checked as the program does. A
// ConfigurationError is the answer to bad input; any other exception, a crash, a sanitizer report, a hang, or an
// accepted record outside the documented ranges is a finding.
#include "settings/Settings.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace
{

void require(bool holds, const char* what)
{
    if (holds)
        return;
    std::fprintf(stderr, "accepted settings break an invariant: %s\n", what);
    std::abort();
}

void checkAccepted(const tamsel::Settings& s)
{
    const float reals[] = {s.repulsion_strength,
                           s.stablized_zone,
                           s.effective_radius,
                           s.region_size,
                           s.friction,
                           s.maximum_interaction_distance,
                           s.maximum_interaction_strength};
    for (const float value : reals)
        require(std::isfinite(value), "a float field is not finite");

    require(s.regions_x_count >= 1, "regions_x_count >= 1");
    require(s.regions_y_count >= 1, "regions_y_count >= 1");
    require(std::int64_t{s.regions_x_count} * s.regions_y_count <= tamsel::maximumRegionCount,
            "regions_x_count x regions_y_count <= 2^24");
    require(s.region_size > 0.0f, "region_size > 0");
    // The window is as large as the world, one pixel per unit.
    const float width = tamsel::worldWidth(s);
    const float height = tamsel::worldHeight(s);
    require(width >= 1.0f && width <= tamsel::maximumWorldSide, "regions_x_count x region_size in [1, 32767]");
    require(height >= 1.0f && height <= tamsel::maximumWorldSide, "regions_y_count x region_size in [1, 32767]");
    require(s.effective_radius >= 0.0f, "effective_radius >= 0");
    require(s.stablized_zone >= 0.0f, "stablized_zone >= 0");
    require(s.type_count >= 1 && s.type_count <= tamsel::maximumTypeCount, "type_count in [1, 4096]");
    require(s.particle_count <= tamsel::maximumParticleCount, "particle_count <= 2^24");
    require(!(s.maximum_interaction_distance > (s.region_size - s.effective_radius) - s.stablized_zone),
            "maximum_interaction_distance <= region_size - effective_radius - stablized_zone");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    tamsel::Settings settings;
    try
    {
        tamsel::parseSettings(settings, std::string_view(reinterpret_cast<const char*>(data), size));
        tamsel::checkSettings(settings);
    }
    catch (const tamsel::ConfigurationError&)
    {
        return 0;
    }
    checkAccepted(settings);
    return 0;
}
