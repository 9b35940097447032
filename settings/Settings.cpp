#include "settings/Settings.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>

namespace tamsel
{
namespace
{

// A settings file is a dozen short lines; anything far larger is not one (a device, a log file put there by
// mistake) and would otherwise be read without end.
constexpr std::size_t maximumFileSize = 1 << 20; // bytes

struct Field
{
    const char* key;
    float Settings::*real;
    std::int32_t Settings::*whole;
};

// Keys are matched in this order, byte for byte.
const Field fields[] = {
    {"effective_radius", &Settings::effective_radius, nullptr},
    {"friction", &Settings::friction, nullptr},
    {"maximum_interaction_distance", &Settings::maximum_interaction_distance, nullptr},
    {"maximum_interaction_strength", &Settings::maximum_interaction_strength, nullptr},
    {"region_size", &Settings::region_size, nullptr},
    {"regions_x_count", nullptr, &Settings::regions_x_count},
    {"regions_y_count", nullptr, &Settings::regions_y_count},
    {"repulsion_strength", &Settings::repulsion_strength, nullptr},
    {"stablized_zone", &Settings::stablized_zone, nullptr},
    {"type_count", nullptr, &Settings::type_count},
    {"particle_count", nullptr, &Settings::particle_count},
};

// The system's error of the call that just failed.
std::error_code lastError()
{
    return {errno != 0 ? errno : EIO, std::generic_category()};
}

struct CloseFile
{
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Reads the bytes of the file at `path` into `raw`. Returns what kept it from being read.
std::error_code readFile(const std::string& path, std::string& raw)
{
    // A pipe or a device would be read without end, or block the program before its window opens. Some systems
    // open a folder and fail only when it is read; here it fails alike everywhere.
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (error)
        return error;
    if (std::filesystem::is_directory(status))
        return std::make_error_code(std::errc::is_a_directory);
    if (!std::filesystem::is_regular_file(status))
        throw invalidConfiguration(path + " is not a regular file");

    errno = 0;
    const std::unique_ptr<std::FILE, CloseFile> file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return lastError();
    char buffer[4096];
    while (const std::size_t count = std::fread(buffer, 1, sizeof buffer, file.get()))
    {
        if (raw.size() + count > maximumFileSize)
            throw invalidConfiguration(path + " is larger than 1 MiB");
        raw.append(buffer, count);
    }
    return std::ferror(file.get()) ? lastError() : std::error_code();
}

// Why the file at `path`, which is there, could not be read: the system's words, and for a link where it leads,
// since "No such file or directory" about a name that the folder lists would puzzle.
std::string whyUnreadable(const std::string& path, const std::error_code& error)
{
    std::error_code notLink;
    const std::filesystem::path target = std::filesystem::read_symlink(path, notLink);
    return notLink ? error.message() : "a link to " + target.string() + ": " + error.message();
}

// The text with every line end a line feed: a carriage return ends a line on its own (as in files from old Macs)
// and together with a line feed that follows it.
std::string withLineFeeds(std::string_view raw)
{
    std::string text;
    text.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i)
    {
        if (raw[i] != '\r')
            text += raw[i];
        else if (i + 1 == raw.size() || raw[i + 1] != '\n')
            text += '\n';
    }
    return text;
}

// Only blanks and tabs are trimmed; line feeds and other control characters are part of the text.
std::string trim(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// The C library's conversion: leading white space skipped, the longest numeric prefix taken, the rest ignored.
// The errors name the setting as written, which their messages do not.
float toFloat(const std::string& key, const std::string& value, std::size_t line)
{
    const char* begin = value.c_str();
    char* stop = nullptr;
    errno = 0;
    const float number = std::strtof(begin, &stop);
    const std::string setting = key + " = " + value;
    if (stop == begin)
        throw InvalidArgumentError({line, line, setting + ": the value does not begin with a number"});
    if (errno == ERANGE)
        throw OutOfRangeError({line, line,
                               setting + (std::isinf(number) ? ": the number is too large for a 32-bit float"
                                                             : ": the number is too close to 0 for a 32-bit float")});
    return number;
}

// Integer settings keep the integer part; a number with no 32-bit integer part has no meaning for them. Every
// number is read as a 32-bit float first, so beyond 2^24 it is rounded to a multiple of a power of two:
// 16777217 reads as 16777216, and 2147483647 as 2147483648, outside the range. The message names what was read.
std::int32_t toWhole(float value, const std::string& key, std::size_t line)
{
    if (!std::isfinite(value))
        throw invalidConfiguration(key + " must be a finite number", {line, line, ""});
    if (!(value >= -2147483648.0f && value < 2147483648.0f))
    {
        char read[64]; // the largest float has 39 digits
        std::snprintf(read, sizeof read, "%.0f", static_cast<double>(value));
        throw invalidConfiguration(
            key + " must lie within the 32-bit integer range; it reads as the 32-bit float " + read, {line, line, ""});
    }
    return static_cast<std::int32_t>(value);
}

std::size_t lineFeeds(std::string_view text)
{
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

bool isBlank(std::string_view text)
{
    return text.find_first_not_of(" \t\n") == std::string_view::npos;
}

// Where the reading stopped at `line`, or nothing when only blank lines follow it in `after`.
ReadingStop stopUnlessBlank(std::size_t line, std::string_view after, const char* why)
{
    return isBlank(after) ? ReadingStop() : ReadingStop{line, why};
}

} // namespace

ConfigurationError invalidConfiguration(const std::string& what, TextPlace place)
{
    return ConfigurationError("invalid configuration: " + what, std::move(place));
}

ReadingStop parseSettings(Settings& settings, std::string_view raw)
{
    const std::string text = withLineFeeds(raw);
    const std::string_view view = text;

    // A key runs up to the next "=", across line ends; its value runs up to the next line feed.
    std::size_t pos = 0;
    std::size_t keyLine = 1; // the line the next key begins on, counted from 1
    while (pos < text.size())
    {
        const std::size_t firstLine = keyLine;
        const std::size_t equals = std::min(text.find('=', pos), text.size());
        const std::string_view rawKey = view.substr(pos, equals - pos);
        const std::string key = trim(std::string(rawKey));
        const std::size_t line = firstLine + lineFeeds(rawKey); // the line of the "=" and the value
        pos = std::min(equals + 1, text.size());

        const std::size_t lineEnd = std::min(text.find('\n', pos), text.size());
        const std::string value = trim(text.substr(pos, lineEnd - pos));
        pos = std::min(lineEnd + 1, text.size());
        keyLine = line + 1;

        // An empty key or value ends the file quietly, and text without "=" at its end is ignored. The stop is
        // told only where more than blank lines were left unread.
        if (equals == text.size())
        {
            const std::size_t first = rawKey.find_first_not_of(" \t\n");
            if (first == std::string_view::npos)
                return {};
            const std::size_t after = std::min(rawKey.find('\n', first), rawKey.size());
            return stopUnlessBlank(firstLine + lineFeeds(rawKey.substr(0, first)), rawKey.substr(after),
                                   "which has no \"=\"");
        }
        if (key.empty())
            return stopUnlessBlank(line, view.substr(pos), "whose key is empty");
        if (value.empty())
            return stopUnlessBlank(line, view.substr(pos), "whose value is empty");

        const Field* field = nullptr;
        for (const Field& candidate : fields)
            if (key == candidate.key)
            {
                field = &candidate;
                break;
            }
        // A key over several lines is a mistake made elsewhere than on the line of its "=": a blank line or a
        // comment above it.
        if (!field)
            throw invalidConfiguration(key, {firstLine, line,
                                             firstLine == line ? ""
                                                               : "a blank line or a line without \"=\" (a comment, "
                                                                 "say) joins the next key: the settings file has no "
                                                                 "comments"});

        const float number = toFloat(key, value, line);
        if (field->real)
            settings.*field->real = number;
        else
            settings.*field->whole = toWhole(number, key, line);
    }
    return {};
}

SettingsFileStatus loadSettings(Settings& settings, const std::string& path)
{
    SettingsFileStatus status;
    // Only nothing at all at the path, not even a link, is quietly no file.
    std::error_code error;
    if (std::filesystem::symlink_status(path, error).type() == std::filesystem::file_type::not_found)
        return status;
    std::string raw;
    error = readFile(path, raw);
    if (error)
    {
        status.whyUnreadable = whyUnreadable(path, error);
        return status;
    }
    status.stop = parseSettings(settings, raw);
    status.read = true;
    return status;
}

void checkSettings(const Settings& s)
{
    for (const Field& field : fields)
        if (field.real && !std::isfinite(s.*field.real))
            throw invalidConfiguration(std::string(field.key) + " must be a finite number");

    if (s.regions_x_count < 1)
        throw invalidConfiguration("regions_x_count must be at least 1");
    if (s.regions_y_count < 1)
        throw invalidConfiguration("regions_y_count must be at least 1");
    if (std::int64_t{s.regions_x_count} * s.regions_y_count > maximumRegionCount)
        throw invalidConfiguration("regions_x_count x regions_y_count must be at most " +
                                   std::to_string(maximumRegionCount));
    if (!(s.region_size > 0.0f))
        throw invalidConfiguration("region_size must be greater than 0");
    // The window is exactly as large as the world, one pixel per unit.
    const float width = worldWidth(s);
    const float height = worldHeight(s);
    if (!(width >= 1.0f && width <= maximumWorldSide))
        throw invalidConfiguration("regions_x_count x region_size must lie between 1 and " +
                                   std::to_string(maximumWorldSide) + " (the window's width in pixels)");
    if (!(height >= 1.0f && height <= maximumWorldSide))
        throw invalidConfiguration("regions_y_count x region_size must lie between 1 and " +
                                   std::to_string(maximumWorldSide) + " (the window's height in pixels)");
    if (s.effective_radius < 0.0f)
        throw invalidConfiguration("effective_radius must be at least 0");
    if (s.stablized_zone < 0.0f)
        throw invalidConfiguration("stablized_zone must be at least 0");
    if (s.type_count < 1)
        throw invalidConfiguration("type_count must be at least 1");
    if (s.type_count > maximumTypeCount)
        throw invalidConfiguration("type_count must be at most " + std::to_string(maximumTypeCount));
    if (s.particle_count > maximumParticleCount)
        throw invalidConfiguration("particle_count must be at most " + std::to_string(maximumParticleCount));

    // The step only searches a particle's own and its eight neighbouring regions, so no interaction may reach
    // further than one region beyond the close-range zones.
    if (s.maximum_interaction_distance > (s.region_size - s.effective_radius) - s.stablized_zone)
        throw ConfigurationError("invalid maximum effective distance");
    // The close-range push, like the interactions, is looked for only in a particle's own and its eight
    // neighbouring regions, which hold everything within one region_size of it; a larger radius would miss pairs
    // it should push apart. The reach check above implies this for any maximum_interaction_distance >= 0, so only
    // a negative one comes here with such a radius.
    if (s.effective_radius > s.region_size)
        throw invalidConfiguration(
            "effective_radius must be at most region_size (particles push only within the neighbouring regions)");
}

} // namespace tamsel
