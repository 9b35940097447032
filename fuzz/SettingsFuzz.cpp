// libFuzzer target: every input is the text of a settings file, parsed and checked as the program does. Settings
// are either refused with a ConfigurationError, or they make a world that the program can run: its reach check
// passes, and its particles keep finite velocities and stay inside the world as it steps. The lines the reader
// names, of a mistake or of where it stopped, are lines of the text. Any other exception, a crash, a sanitizer
// report or a hang is a finding too.
#include "settings/Settings.hpp"
#include "world/Orbisk.hpp"
#include "world/Random.hpp"
#include "world/RegionGrid.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace
{

// Worlds are kept small enough for thousands of inputs a second; the settings' numbers, which the step derives
// its own from, stay as they are.
constexpr std::int64_t largestFuzzedGrid = 4096; // regions
constexpr std::int32_t fuzzedTypes = 6;
constexpr std::int32_t fuzzedParticles = 150;
constexpr int fuzzedSteps = 4;

void require(bool holds, const char* what)
{
    if (holds)
        return;
    std::fprintf(stderr, "accepted settings make a world that breaks: %s\n", what);
    std::abort();
}

void requireOfReader(bool holds, const char* what)
{
    if (holds)
        return;
    std::fprintf(stderr, "the reader tells of lines the text does not have: %s\n", what);
    std::abort();
}

void stepAcceptedWorld(const tamsel::Settings& settings)
{
    if (std::int64_t{settings.regions_x_count} * settings.regions_y_count > largestFuzzedGrid)
        return;
    tamsel::randomEngine.seed(1);
    tamsel::Orbisk world(settings);
    try
    {
        world.generateTypes(std::min(settings.type_count, fuzzedTypes));
    }
    catch (const tamsel::ConfigurationError&)
    {
        require(false, "the world refuses settings that checkSettings accepted");
    }
    world.generateParticles(std::min(settings.particle_count, fuzzedParticles));

    const sf::Vector2f size = world.getView().size;
    const tamsel::RegionGrid grid{settings.region_size, settings.regions_x_count, settings.regions_y_count};
    for (int step = 0; step < fuzzedSteps; ++step)
    {
        world.update(0.025f);
        const tamsel::ParticleArrays& particles = world.getView().particles;
        for (std::size_t index = 0; index < particles.regionCount(); ++index)
            for (std::size_t i = particles.regionStart[index]; i < particles.regionStart[index + 1]; ++i)
            {
                const tamsel::Particle p = particles.at(i);
                require(std::isfinite(p.velocity.x) && std::isfinite(p.velocity.y), "a velocity is not finite");
                require(p.position.x >= 0.0f && p.position.x < size.x && p.position.y >= 0.0f && p.position.y < size.y,
                        "a particle left the world");
                require(grid.regionOf(p.position.x, p.position.y) == index, "a particle is outside its region");
            }
    }
}

// The lines of `text` as the reader counts them: a line feed, a carriage return and a line feed, or a lone
// carriage return ends one.
std::size_t lineCount(std::string_view text)
{
    std::size_t lines = 1;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')))
            ++lines;
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    tamsel::Settings settings;
    try
    {
        const tamsel::ReadingStop stop = tamsel::parseSettings(settings, text);
        requireOfReader(stop.line <= lineCount(text) && (stop.line == 0) == stop.why.empty(), "its stop");
        tamsel::checkSettings(settings);
    }
    catch (const tamsel::ConfigurationError& error)
    {
        // A mistake is placed on lines of the text, or on none.
        const tamsel::TextPlace& place = error.getPlace();
        requireOfReader(place.firstLine == 0 ? place.lastLine == 0
                                             : place.firstLine <= place.lastLine && place.lastLine <= lineCount(text),
                        "a mistake's lines");
        return 0;
    }
    stepAcceptedWorld(settings);
    return 0;
}
