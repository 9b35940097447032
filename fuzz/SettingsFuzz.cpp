// libFuzzer target: every input is a settings file. A ConfigurationError is the reader's answer to bad input; any
// other exception, a crash, a sanitizer report, a hang, or an accepted record outside the documented ranges is a
// finding.
#include "settings/Settings.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace
{

void require(bool holds, const char* what)
{
    if (holds)
        return;
    std::fprintf(stderr, "accepted settings break an invariant: %s\n", what);
    std::abort();
}

// One anonymous in-memory file per process, reused for every input: nothing is left behind in /tmp when a run
// stops on a finding, and parallel fuzzing processes never share a file. The reader opens it by its /proc path.
struct InputFile
{
    int fd;
    std::string path;
};

const InputFile& inputFile()
{
    static const InputFile file = []
    {
        const int fd = memfd_create("orbisk-settings-fuzz", 0);
        if (fd < 0)
        {
            std::perror("memfd_create");
            std::abort();
        }
        return InputFile{fd, "/proc/self/fd/" + std::to_string(fd)};
    }();
    return file;
}

void writeInput(const InputFile& file, const std::uint8_t* data, std::size_t size)
{
    if (ftruncate(file.fd, 0) != 0)
    {
        std::perror("ftruncate");
        std::abort();
    }
    for (std::size_t done = 0; done < size;)
    {
        const ssize_t written = pwrite(file.fd, data + done, size - done, static_cast<off_t>(done));
        if (written <= 0)
        {
            std::perror("pwrite");
            std::abort();
        }
        done += static_cast<std::size_t>(written);
    }
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
    const float width = static_cast<float>(s.regions_x_count) * s.region_size;
    const float height = static_cast<float>(s.regions_y_count) * s.region_size;
    require(width >= 1.0f && width <= tamsel::maximumWorldSide, "regions_x_count x region_size in [1, 32767]");
    require(height >= 1.0f && height <= tamsel::maximumWorldSide, "regions_y_count x region_size in [1, 32767]");
    require(s.effective_radius >= 0.0f, "effective_radius >= 0");
    require(s.stablized_zone >= 0.0f, "stablized_zone >= 0");
    require(s.type_count >= 1 && s.type_count <= tamsel::maximumTypeCount, "type_count in [1, 4096]");
    require(s.particle_count <= tamsel::maximumParticleCount, "particle_count <= 2^24");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const InputFile& file = inputFile();
    writeInput(file, data, size);
    tamsel::Settings settings;
    try
    {
        tamsel::loadSettings(settings, file.path);
    }
    catch (const tamsel::ConfigurationError&)
    {
        return 0;
    }
    checkAccepted(settings);
    return 0;
}
