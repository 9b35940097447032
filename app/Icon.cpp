#include "app/Icon.hpp"
#include "platform/SfmlCompat.hpp"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <new>
#include <vector>

namespace tamsel
{

sf::Image loadIcon(const std::string& path)
{
    sf::Image image;
    std::error_code error;
    // A picture that cannot be read leaves the image empty, and the window its default icon; so does one whose
    // pixels the memory cannot hold, which the icon is not worth ending the program for.
    if (!std::filesystem::is_regular_file(path, error))
        return image;
    try
    {
        static_cast<void>(image.loadFromFile(path));
    }
    catch (const std::bad_alloc&)
    {
        return sf::Image();
    }
    return image;
}

namespace
{

sf::Image scaleDown(const sf::Image& image, unsigned maximumSide)
{
    const sf::Vector2u size = image.getSize();

    // The longer side becomes maximumSide; the shorter keeps the proportion, at least one pixel.
    const std::uint64_t longer = std::max(size.x, size.y);
    const auto scaled = [&](unsigned side)
    { return static_cast<unsigned>(std::max<std::uint64_t>(1, side * std::uint64_t{maximumSide} / longer)); };
    const unsigned width = scaled(size.x), height = scaled(size.y);

    // Each icon pixel averages the block of source pixels between its edges, colour weighted by alpha so that
    // transparent pixels lend no colour.
    const std::uint8_t* pixels = image.getPixelsPtr();
    std::vector<std::uint8_t> icon(std::size_t{width} * height * 4);
    for (unsigned y = 0; y < height; ++y)
    {
        const unsigned top = static_cast<unsigned>(std::uint64_t{y} * size.y / height);
        const unsigned bottom = std::max(top + 1, static_cast<unsigned>(std::uint64_t{y + 1} * size.y / height));
        for (unsigned x = 0; x < width; ++x)
        {
            const unsigned left = static_cast<unsigned>(std::uint64_t{x} * size.x / width);
            const unsigned right = std::max(left + 1, static_cast<unsigned>(std::uint64_t{x + 1} * size.x / width));
            std::uint64_t red = 0, green = 0, blue = 0, alpha = 0;
            for (unsigned sy = top; sy < bottom; ++sy)
                for (unsigned sx = left; sx < right; ++sx)
                {
                    const std::uint8_t* p = pixels + (std::size_t{sy} * size.x + sx) * 4;
                    red += std::uint64_t{p[0]} * p[3];
                    green += std::uint64_t{p[1]} * p[3];
                    blue += std::uint64_t{p[2]} * p[3];
                    alpha += p[3];
                }
            const std::uint64_t count = std::uint64_t{bottom - top} * (right - left);
            std::uint8_t* out = &icon[(std::size_t{y} * width + x) * 4];
            if (alpha > 0)
            {
                out[0] = static_cast<std::uint8_t>((red + alpha / 2) / alpha);
                out[1] = static_cast<std::uint8_t>((green + alpha / 2) / alpha);
                out[2] = static_cast<std::uint8_t>((blue + alpha / 2) / alpha);
            }
            out[3] = static_cast<std::uint8_t>((alpha + count / 2) / count);
        }
    }
    return sfml::makeImage({width, height}, icon.data());
}

} // namespace

sf::Image fitIcon(const sf::Image& image, unsigned maximumSide)
{
    const sf::Vector2u size = image.getSize();
    try
    {
        return size.x <= maximumSide && size.y <= maximumSide ? image : scaleDown(image, maximumSide);
    }
    catch (const std::bad_alloc&)
    {
        return sf::Image();
    }
}

} // namespace tamsel
