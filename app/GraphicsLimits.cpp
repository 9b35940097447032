#include "app/GraphicsLimits.hpp"

#include <SFML/Window/Context.hpp>

namespace tamsel
{

namespace
{

constexpr unsigned maximumViewportDims = 0x0D3A; // GL_MAX_VIEWPORT_DIMS
using GetIntegers = void (*)(unsigned name, int* values);

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

} // namespace tamsel
