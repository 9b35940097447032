#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace tamsel
{

/// Every tunable value of the program. The field names are also the keys of the settings file.
struct Settings
{
    float repulsion_strength = 100.0f;          // factor of the close-range push, per second per world unit
    float stablized_zone = 5.0f;                // world units, >= 0: neutral band just outside effective_radius
    float effective_radius = 10.0f;             // world units, 0 .. region_size: close-range push and drawn radius
    std::int32_t regions_x_count = 10;          // region columns, >= 1
    std::int32_t regions_y_count = 10;          // region rows, >= 1
    float region_size = 50.0f;                  // world units, > 0: side of one square region
    float friction = 0.01f;                     // fraction of velocity lost per step
    float maximum_interaction_distance = 40.0f; // world units: upper bound of a random reach
    float maximum_interaction_strength = 10.0f; // bound of the magnitude of a random strength
    std::int32_t type_count = 5;                // particle types of the first world, 1 .. maximumTypeCount
    std::int32_t particle_count = 1000;         // particles of the first world, <= maximumParticleCount
};

// Limits that keep every table the settings size allocatable and every index inside 32 bits.
constexpr std::int64_t maximumRegionCount = std::int64_t{1} << 24;   // regions_x_count x regions_y_count
constexpr std::int64_t maximumParticleCount = std::int64_t{1} << 24; // particle_count
constexpr std::int32_t maximumTypeCount = 4096;                      // type_count; the matrix holds its square
constexpr std::int32_t maximumWorldSide = 32767; // world units = window pixels: the largest window X11 can describe

/// Where in the settings text a mistake was found, and what its message leaves out.
struct TextPlace
{
    std::size_t firstLine = 0; // counted from 1; 0 for a mistake that is not on particular lines
    std::size_t lastLine = 0;  // firstLine, but for a key that runs over several lines
    std::string detail;        // a line to show after the message, empty when the message says it all
};

/// A settings file that cannot be used. getMessage() is the one-line message shown to the user, whole: what() ends
/// at the first NUL byte, and a key from the file may hold one. getPlace() tells where in the text it was found.
class ConfigurationError : public std::runtime_error
{
public:
    explicit ConfigurationError(const std::string& message, TextPlace place = {})
        : std::runtime_error(message), m_message(message), m_place(std::move(place))
    {
    }

    const std::string& getMessage() const { return m_message; }
    const TextPlace& getPlace() const { return m_place; }

private:
    std::string m_message;
    TextPlace m_place;
};

/// A value that does not begin with a number.
class InvalidArgumentError : public ConfigurationError
{
public:
    explicit InvalidArgumentError(TextPlace place = {}) : ConfigurationError("invalid stof argument", std::move(place))
    {
    }
};

/// A number beyond what a 32-bit float can hold, or too small to be represented.
class OutOfRangeError : public ConfigurationError
{
public:
    explicit OutOfRangeError(TextPlace place = {}) : ConfigurationError("stof argument out of range", std::move(place))
    {
    }
};

/// The error for settings the program cannot run with: "invalid configuration: ", then what is wrong with them.
ConfigurationError invalidConfiguration(const std::string& what, TextPlace place = {});

/// Where parseSettings stopped before the end of the text. A line whose key or value is empty ends the text
/// quietly, and text without "=" at its end is ignored; lines after it that are not blank were surely meant to be
/// read, so the reader tells where it stopped.
struct ReadingStop
{
    std::size_t line = 0; // counted from 1; 0 when the text was read to its end, or only blank lines were left
    std::string why;      // about that line: "whose value is empty", "whose key is empty" or "which has no "=""
};

/// Overwrites the fields that `text`, the content of a settings file, names, in text order. Throws a
/// ConfigurationError for text that is no settings file; the fields assigned before the error keep their new values.
/// The values are not checked: checkSettings does that. Returns where it stopped before the end.
ReadingStop parseSettings(Settings& settings, std::string_view text);

/// What loadSettings made of its path.
struct SettingsFileStatus
{
    bool read = false;         // the file was read and parsed; otherwise the record is as it was
    std::string whyUnreadable; // when something is at the path that could not be read, the reason, in the
                               // system's words ("Is a directory"); empty when it was read or nothing is there
    ReadingStop stop;          // where the reading stopped before the end of the file
};

/// Reads the file at `path` and parses it with parseSettings. A file that is missing or cannot be read (a folder, a
/// link to nothing, a file without permission) leaves the record as it is, and is no error. Throws a
/// ConfigurationError for a pipe or device, a file over 1 MiB, or text that parseSettings refuses.
SettingsFileStatus loadSettings(Settings& settings, const std::string& path);

/// Throws a ConfigurationError for a record the program cannot run with: first for a value outside the ranges noted
/// on the fields and limits above, then "invalid maximum effective distance" when an interaction could reach beyond
/// the neighbouring regions, last for a radius larger than a region, which only a negative
/// maximum_interaction_distance lets past that check. The defaults fail only the reach check.
void checkSettings(const Settings& settings);

/// The world's width and height in world units (window pixels): regions_x_count x region_size and
/// regions_y_count x region_size, as 32-bit floats. Every place that needs the world's size takes it from here.
inline float worldWidth(const Settings& settings)
{
    return static_cast<float>(settings.regions_x_count) * settings.region_size;
}

inline float worldHeight(const Settings& settings)
{
    return static_cast<float>(settings.regions_y_count) * settings.region_size;
}

} // namespace tamsel
