#include "world/StepParameters.hpp"

#include "settings/Settings.hpp"
#include "world/Particles.hpp"

namespace tamsel
{

StepParameters stepParameters(const Settings& settings)
{
    StepParameters parameters;
    parameters.grid = {settings.region_size, settings.regions_x_count, settings.regions_y_count};
    parameters.width = worldWidth(settings);
    parameters.height = worldHeight(settings);
    parameters.radius = settings.effective_radius;
    parameters.zone = settings.stablized_zone;
    parameters.bandStart = parameters.radius + parameters.zone;
    parameters.repulsion = settings.repulsion_strength;
    parameters.damping = 1.0f - settings.friction;
    parameters.canSkip = parameters.radius >= 0.0f && parameters.zone >= 0.0f;
    parameters.slack =
        1e-6f * (static_cast<float>(std::int64_t{settings.regions_x_count} + settings.regions_y_count + 2) *
                 settings.region_size);
    return parameters;
}

ActingTables actingTables(const std::vector<Interaction>& interactions, std::int32_t typeCount)
{
    ActingTables tables;
    const auto types = static_cast<std::size_t>(typeCount);
    if (typeCount < 1 || types > maximumLanes)
        return tables;
    tables.strength.assign(maximumLanes * maximumLanes, 0.0f);
    tables.reach.assign(maximumLanes * maximumLanes, 0.0f);
    for (std::size_t acting = 0; acting < types; ++acting)
        for (std::size_t moved = 0; moved < types; ++moved)
        {
            tables.strength[acting * maximumLanes + moved] = interactions[moved * types + acting].strength;
            tables.reach[acting * maximumLanes + moved] = interactions[moved * types + acting].reach;
        }
    return tables;
}

} // namespace tamsel
