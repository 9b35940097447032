#include "app/Console.hpp"
#include "app/Display.hpp"
#include "app/FixedStep.hpp"
#include "app/Icon.hpp"
#include "app/Letterbox.hpp"
#include "app/LibraryNotes.hpp"
#include "drawing/GraphicsLimits.hpp"
#include "errorbox/ErrorBox.hpp"
#include "errorbox/Printable.hpp"
#include "platform/SfmlCompat.hpp"
#include "settings/Settings.hpp"
#include "world/Orbisk.hpp"

#include <SFML/Graphics/Image.hpp>
#include <SFML/Graphics/RenderWindow.hpp>
#include <SFML/System/Clock.hpp>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <new>
#include <optional>
#include <string>

namespace
{

using namespace tamsel;

constexpr const char* settingsFile = "config.txt";
constexpr const char* iconFile = "Orbisk.png";
constexpr std::int32_t restartTypeCount = 10;
constexpr std::int32_t restartParticleCount = 1000;

[[noreturn]] void fail(const std::string& message)
{
    showError(message);
    std::exit(1);
}

// The settings file by its full path, since the program may run in a folder that the user did not choose (the
// installed command's settings folder, say).
std::string settingsPath()
{
    std::error_code error;
    const std::filesystem::path path = std::filesystem::absolute(settingsFile, error);
    return error ? std::string(settingsFile) : path.string();
}

// A mistake in the settings file: the message, then what it leaves out and where in which file it was.
[[noreturn]] void failInSettings(const std::string& message, const TextPlace& place = {})
{
    std::string text = message;
    if (!place.detail.empty())
        text += "\n" + place.detail;
    if (place.firstLine == 0)
        text += "\nin the settings file ";
    else if (place.firstLine == place.lastLine)
        text += "\nline " + std::to_string(place.firstLine) + " of the settings file ";
    else
        text += "\nlines " + std::to_string(place.firstLine) + " to " + std::to_string(place.lastLine) +
                " of the settings file ";
    fail(text + settingsPath());
}

// Where the settings the program runs with came from, so that a value it cannot run with is blamed on the file,
// or without a file on the defaults.
struct SettingsSource
{
    SettingsFileStatus file;

    // A file that is there but could not be read is surely a mistake of the user's, and the box is where it is
    // seen: it heads the defaults' error, which always follows since the defaults do not pass the reach check.
    // Without a file the box says which one was looked for, since the program may run in a folder the user did
    // not expect.
    [[noreturn]] void refuse(const std::string& message) const
    {
        if (file.read)
            failInSettings(message);
        if (file.whyUnreadable.empty())
            fail(message + "\nthere is no settings file " + settingsPath() + "; the built-in defaults were used");
        fail("the settings file " + settingsPath() + " could not be read (" + file.whyUnreadable +
             "); the built-in defaults were used\n" + message);
    }
};

// The settings file over the defaults: the program ends with a box for a file it cannot read as settings.
SettingsSource readSettings(Settings& settings)
{
    SettingsSource source;
    try
    {
        source.file = loadSettings(settings, settingsFile);
    }
    catch (const ConfigurationError& error)
    {
        failInSettings(error.getMessage(), error.getPlace());
    }
    // The file may end quietly before its end; the lines left unread are no error, but the user meant them.
    if (const ReadingStop& stop = source.file.stop; stop.line != 0)
        std::cerr << printable("reading the settings file " + settingsPath() + " stopped at line " +
                               std::to_string(stop.line) + ", " + stop.why + "; the lines after it were not read")
                  << std::endl;
    return source;
}

// The first world's types and particles. The world checks the settings (checkSettings), and refuses them here.
void populate(Orbisk& world, const Settings& settings, const SettingsSource& source)
{
    try
    {
        world.generateTypes(settings.type_count);
        world.generateParticles(settings.particle_count);
    }
    catch (const ConfigurationError& error)
    {
        source.refuse(error.getMessage());
    }
    catch (const std::bad_alloc&)
    {
        fail("not enough memory for " + std::to_string(settings.particle_count) + " particles in " +
             std::to_string(std::int64_t{settings.regions_x_count} * settings.regions_y_count) + " regions");
    }
}

// The window is as large as the world, which is drawn with an identity transform; its size goes to standard
// output as the world's.
sf::Vector2u announceWindowSize(const Settings& settings)
{
    const float width = worldWidth(settings);
    const float height = worldHeight(settings);
    std::cout << width << "," << height << std::endl;
    return {static_cast<unsigned>(width), static_cast<unsigned>(height)};
}

// The display the window opens on, held for the whole run. Without a connection there is no box to show either.
DisplayConnection openDisplay(const sf::ContextSettings& context)
{
    DisplayConnection display;
    if (!display.isOpen())
    {
        std::cerr << "Error: " << display.whyNotOpen() << std::endl;
        std::exit(1);
    }
    const std::string whyNoWindow = display.whyNoWindow(context);
    if (!whyNoWindow.empty())
        fail(whyNoWindow);
    return display;
}

// A window the graphics system cannot show as large as the world is the settings' mistake.
[[noreturn]] void refuseWindowSize(const SettingsSource& source, sf::Vector2u size, const std::string& why)
{
    source.refuse(invalidConfiguration("the world is " + std::to_string(size.x) + " x " + std::to_string(size.y) +
                                       " units, larger than the largest window the graphics system can show" + why)
                      .getMessage());
}

// The window's context. The picture needs no depth or stencil buffer, and its circles' edges are smoothed where
// the driver can. Version 1.1 asks for no particular version: the driver then gives its newest context that keeps
// the fixed-function matrices the graphics library draws with; from OpenGL 3.3 on, the circles are drawn by the
// graphics card itself.
sf::ContextSettings windowContext()
{
    sf::ContextSettings context;
    context.depthBits = 0;
    context.stencilBits = 0;
    sfml::antialiasingLevel(context) = 8;
    context.majorVersion = 1;
    context.minorVersion = 1;
    context.attributeFlags = sf::ContextSettings::Default;
    context.sRgbCapable = false;
    return context;
}

// Opens the window titled "Orbisk", or ends the program with a box where the graphics system cannot draw it.
void openWindow(sf::RenderWindow& window, sf::Vector2u size, const DisplayConnection& display,
                const SettingsSource& source)
{
    const LibraryNotesHeld notes;
    // A window larger than the graphics system's largest viewport would show a squeezed picture, or fail inside
    // the driver.
    const sf::Vector2u largest = getLargestWindowSize();
    if (largest.x > 0 && (size.x > largest.x || size.y > largest.y))
        refuseWindowSize(source, size,
                         ", " + std::to_string(largest.x) + " x " + std::to_string(largest.y) + " pixels");

    sfml::createWindow(window, size, display.getBitsPerPixel(), "Orbisk", sf::Style::Default, windowContext());
    if (const std::optional<sf::Vector2i> position = display.getUnmanagedPosition(size))
        window.setPosition(*position);
    // Within the largest viewport a driver may still fail to make the window's buffers (Mesa's software renderer,
    // for an antialiased window of more than 2^27 pixels), and then draws nothing at all: a black window.
    if (!canDrawInto(window))
    {
        window.close();
        refuseWindowSize(source, size,
                         ": it cannot draw into a window of " + std::to_string(size.x) + " x " +
                             std::to_string(size.y) + " pixels");
    }
}

// Without a readable icon file, or without the memory for its pixels, the window keeps the desktop's default
// icon; a large picture is scaled down to what a desktop shows (and X11 accepts).
sf::Image showIcon(sf::RenderWindow& window, const DisplayConnection& display)
{
    const sf::Image icon = fitIcon(loadIcon(iconFile));
    if (icon.getSize().x == 0 || icon.getSize().y == 0)
        return icon;
    sfml::setIcon(window, icon);
    display.showIcon(sfml::getNativeHandle(window), icon);
    return icon;
}

// Runs one stage of a frame. Running out of memory there ends the run with a box rather than an abort; the
// window goes first, so the box is not left behind a frozen picture.
template <typename Stage> void runStage(sf::RenderWindow& window, const char* what, Stage&& stage)
{
    try
    {
        stage();
    }
    catch (const std::bad_alloc&)
    {
        window.close();
        fail(std::string("not enough memory ") + what);
    }
}

// A close request ends the run, any released mouse button (on the world or on the bars beside it) starts a new
// random world. A resized window shows the whole world as large as fits, centred between black bars: stretched to
// the window's shape, the picture would lie about the world, its circles drawn as ellipses and its distances
// differing by direction.
void handleEvents(sf::RenderWindow& window, Orbisk& world)
{
    sfml::WindowEvent event;
    while (sfml::pollEvent(window, event))
    {
        if (event == sfml::WindowEvent::Closed)
            window.close();
        if (event == sfml::WindowEvent::Resized)
            window.setView(letterboxView(world.getView().size, window.getSize()));
        if (event == sfml::WindowEvent::MouseButtonReleased)
            runStage(window, "for a new world",
                     [&]
                     {
                         world.generateTypes(restartTypeCount);
                         world.generateParticles(restartParticleCount);
                     });
    }
}

// The frame loop, until the window is closed.
void runFrames(sf::RenderWindow& window, Orbisk& world)
{
    sf::Clock clock;
    float accumulator = 0.0f;
    while (window.isOpen())
    {
        // Events.
        handleEvents(window, world);

        // Simulation: at most one fixed step per frame.
        if (consumeFixedStep(accumulator, clock.restart().asSeconds()))
            runStage(window, "to step the world", [&] { world.update(fixedStep); });

        // Rendering.
        runStage(window, "to draw the world",
                 [&]
                 {
                     window.clear(sf::Color(0, 0, 0, 255));
                     window.draw(world, sf::RenderStates::Default);
                     window.display();
                 });
    }
}

} // namespace

int main()
{
    guardStandardStreams();
    attachToParentConsole();

    Settings settings;
    const SettingsSource source = readSettings(settings);
    Orbisk world(settings);
    populate(world, settings, source);

    const sf::Vector2u windowSize = announceWindowSize(settings);
    const DisplayConnection display = openDisplay(windowContext());
    sf::RenderWindow window;
    openWindow(window, windowSize, display, source);
    const sf::Image icon = showIcon(window, display);

    runFrames(window, world);
    return 0;
}
