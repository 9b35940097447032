#include "drawing/GraphicsLimits.hpp"

#include <SFML/Graphics/RenderWindow.hpp>
#include <SFML/Window/Context.hpp>

#include <cstdint>

namespace tamsel
{

namespace
{

constexpr unsigned maximumViewportDims = 0x0D3A; // GL_MAX_VIEWPORT_DIMS
constexpr unsigned noError = 0;                  // GL_NO_ERROR
constexpr unsigned rgba = 0x1908;                // GL_RGBA
constexpr unsigned unsignedByte = 0x1401;        // GL_UNSIGNED_BYTE
using GetIntegers = void (*)(unsigned name, int* values);
using GetError = unsigned (*)();
using ReadPixels = void (*)(int x, int y, int width, int height, unsigned format, unsigned type, void* pixels);

} // namespace

sf::Vector2u getLargestWindowSize()
{
    // A context of its own, so the limit is known before the window exists; the function is looked up through
    // the graphics library, which keeps the program free of a link to OpenGL itself.
    sf::Context context;
    const auto getIntegers = reinterpret_cast<GetIntegers>(sf::Context::getFunction("glGetIntegerv"));
    if (!getIntegers)
        return {0, 0};
    int dims[2] = {0, 0};
    getIntegers(maximumViewportDims, dims);
    if (dims[0] <= 0 || dims[1] <= 0)
        return {0, 0};
    return {static_cast<unsigned>(dims[0]), static_cast<unsigned>(dims[1])};
}

bool canDrawInto(sf::RenderWindow& window)
{
    const auto getError = reinterpret_cast<GetError>(sf::Context::getFunction("glGetError"));
    const auto readPixels = reinterpret_cast<ReadPixels>(sf::Context::getFunction("glReadPixels"));
    if (!getError || !readPixels)
        return true;

    // Each channel all on or all off, so the colour reads back exactly from a buffer of any depth.
    const sf::Color probe(255, 0, 255);
    window.clear(probe);
    // Only this read's error counts; a context keeps a handful of error flags at most.
    for (int i = 0; i < 16 && getError() != noError; ++i)
    {
    }
    std::uint8_t pixel[4] = {0, 0, 0, 0};
    readPixels(0, 0, 1, 1, rgba, unsignedByte, pixel);
    return getError() == noError && pixel[0] == probe.r && pixel[1] == probe.g && pixel[2] == probe.b;
}

} // namespace tamsel
