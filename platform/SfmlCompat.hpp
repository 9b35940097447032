#pragma once

// The few calls whose form differs between SFML 2 (2.5 and later) and SFML 3, each written once for both. Every
// other use of the library reads the same in either version. SFML 2 is the reference: under SFML 3 these give the
// program the window, events, pictures and drawing it has under SFML 2.

#include <SFML/Config.hpp>
#include <SFML/Graphics/Color.hpp>
#include <SFML/Graphics/Image.hpp>
#include <SFML/Graphics/PrimitiveType.hpp>
#include <SFML/Graphics/Rect.hpp>
#include <SFML/Graphics/RenderTexture.hpp>
#include <SFML/Graphics/RenderWindow.hpp>
#include <SFML/System/Vector2.hpp>
#include <SFML/Window/ContextSettings.hpp>
#include <SFML/Window/Event.hpp>

#include <cstdint>
#include <optional>

namespace tamsel
{
namespace sfml
{

/// The events the program acts on; every other event is Other.
enum class WindowEvent
{
    Closed,              // the user asked to close the window (its close button, or the desktop's command)
    MouseButtonReleased, // any button, anywhere in the window
    Resized,             // the window has a new size (the user or the desktop resized or maximised it)
    Other
};

#if SFML_VERSION_MAJOR >= 3

constexpr sf::PrimitiveType triangles = sf::PrimitiveType::Triangles;

/// Takes the next pending event; false when none is pending.
inline bool pollEvent(sf::Window& window, WindowEvent& event)
{
    const std::optional<sf::Event> next = window.pollEvent();
    if (!next)
        return false;
    event = next->is<sf::Event::Closed>()                ? WindowEvent::Closed
            : next->is<sf::Event::MouseButtonReleased>() ? WindowEvent::MouseButtonReleased
            : next->is<sf::Event::Resized>()             ? WindowEvent::Resized
                                                         : WindowEvent::Other;
    return true;
}

inline void createWindow(sf::RenderWindow& window, sf::Vector2u size, unsigned bitsPerPixel, const sf::String& title,
                         std::uint32_t style, const sf::ContextSettings& settings)
{
    window.create(sf::VideoMode(size, bitsPerPixel), title, style, sf::State::Windowed, settings);
}

inline void setIcon(sf::Window& window, const sf::Image& icon)
{
    window.setIcon(icon.getSize(), icon.getPixelsPtr());
}

inline sf::WindowHandle getNativeHandle(const sf::Window& window)
{
    return window.getNativeHandle();
}

/// An image of the size made from RGBA pixels, row after row.
inline sf::Image makeImage(sf::Vector2u size, const std::uint8_t* pixels)
{
    return sf::Image(size, pixels);
}

inline sf::Image makeImage(sf::Vector2u size, sf::Color color)
{
    return sf::Image(size, color);
}

inline sf::Color getPixel(const sf::Image& image, unsigned x, unsigned y)
{
    return image.getPixel({x, y});
}

inline void setPixel(sf::Image& image, unsigned x, unsigned y, sf::Color color)
{
    image.setPixel({x, y}, color);
}

/// The centre of a rectangle, as SFML computes the centre of a shape's fan: left + width / 2, top + height / 2.
inline sf::Vector2f getCentre(const sf::FloatRect& rect)
{
    return {rect.position.x + rect.size.x / 2, rect.position.y + rect.size.y / 2};
}

// The context's antialiasing level, a field whose name changed its capital.
inline unsigned& antialiasingLevel(sf::ContextSettings& settings)
{
    return settings.antiAliasingLevel;
}

inline unsigned antialiasingLevel(const sf::ContextSettings& settings)
{
    return settings.antiAliasingLevel;
}

/// Makes the texture's pixels; false when the graphics system cannot.
inline bool createTexture(sf::RenderTexture& texture, sf::Vector2u size, const sf::ContextSettings& settings)
{
    return texture.resize(size, settings);
}

#else

constexpr sf::PrimitiveType triangles = sf::Triangles;

inline bool pollEvent(sf::Window& window, WindowEvent& event)
{
    sf::Event next;
    if (!window.pollEvent(next))
        return false;
    event = next.type == sf::Event::Closed                ? WindowEvent::Closed
            : next.type == sf::Event::MouseButtonReleased ? WindowEvent::MouseButtonReleased
            : next.type == sf::Event::Resized             ? WindowEvent::Resized
                                                          : WindowEvent::Other;
    return true;
}

inline void createWindow(sf::RenderWindow& window, sf::Vector2u size, unsigned bitsPerPixel, const sf::String& title,
                         std::uint32_t style, const sf::ContextSettings& settings)
{
    window.create(sf::VideoMode(size.x, size.y, bitsPerPixel), title, style, settings);
}

inline void setIcon(sf::Window& window, const sf::Image& icon)
{
    window.setIcon(icon.getSize().x, icon.getSize().y, icon.getPixelsPtr());
}

inline sf::WindowHandle getNativeHandle(const sf::Window& window)
{
    return window.getSystemHandle();
}

inline sf::Image makeImage(sf::Vector2u size, const std::uint8_t* pixels)
{
    sf::Image image;
    image.create(size.x, size.y, pixels);
    return image;
}

inline sf::Image makeImage(sf::Vector2u size, sf::Color color)
{
    sf::Image image;
    image.create(size.x, size.y, color);
    return image;
}

inline sf::Color getPixel(const sf::Image& image, unsigned x, unsigned y)
{
    return image.getPixel(x, y);
}

inline void setPixel(sf::Image& image, unsigned x, unsigned y, sf::Color color)
{
    image.setPixel(x, y, color);
}

inline sf::Vector2f getCentre(const sf::FloatRect& rect)
{
    return {rect.left + rect.width / 2, rect.top + rect.height / 2};
}

inline unsigned& antialiasingLevel(sf::ContextSettings& settings)
{
    return settings.antialiasingLevel;
}

inline unsigned antialiasingLevel(const sf::ContextSettings& settings)
{
    return settings.antialiasingLevel;
}

inline bool createTexture(sf::RenderTexture& texture, sf::Vector2u size, const sf::ContextSettings& settings)
{
    return texture.create(size.x, size.y, settings);
}

#endif

} // namespace sfml
} // namespace tamsel
