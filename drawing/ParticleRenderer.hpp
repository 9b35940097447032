#pragma once

#include "drawing/GlFunctions.hpp"

#include <SFML/Graphics/Color.hpp>
#include <SFML/Graphics/Transform.hpp>
#include <SFML/System/Vector2.hpp>
#include <SFML/Window/GlResource.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tamsel
{

/// What drawing sends the graphics card for one particle: the circle's position and its type's colour.
struct ParticleVertex
{
    sf::Vector2f position;
    sf::Color color;
};

/// Draws one circle per particle from one record per particle: the graphics card draws one instance of a
/// circle's 30 triangles per record, from the corners of one circle at the origin. Its program and buffers live in the
/// graphics library's shared contexts, so any render target of the process can draw with it; they are released when it
/// is destroyed, with or without a window.
class ParticleRenderer : sf::GlResource
{
public:
    ParticleRenderer() = default;
    ~ParticleRenderer();
    ParticleRenderer(const ParticleRenderer&) = delete;
    ParticleRenderer& operator=(const ParticleRenderer&) = delete;

    /// Makes the program in the active context from the triangle corners of one circle at the origin (corner
    /// after corner, three per triangle). False, with the reason in `error`, when the context cannot draw this way;
    /// the renderer is then unusable.
    bool prepare(const std::vector<sf::Vector2f>& fan, std::string& error);

    /// Draws the points in the active context, whose projection already holds the view, with `transform` as the
    /// model transform. The records are sent again only when `version` differs from the last one drawn. Throws
    /// std::bad_alloc when the driver has no memory left for them.
    void draw(const std::vector<ParticleVertex>& points, std::uint64_t version, const sf::Transform& transform);

private:
    // What the graphics library had bound before a draw, and finds bound again after it.
    struct LibraryState
    {
        gl::Int program = 0, buffer = 0;
    };

    // The steps of prepare: a context of OpenGL 3.3 or later, the shaders, the program and its corners.
    bool checkContext(std::string& error);
    gl::Uint compileShader(gl::Enum type, const std::string& source, std::string& error);
    gl::Uint linkProgram(const gl::Uint (&shaders)[2]);
    bool isLinked(std::string& error);
    void setCorners(gl::Int corners, const std::vector<sf::Vector2f>& fan);

    // The steps of draw: the program and its attributes in place of the library's state, then the pieces, then the
    // library's state again.
    LibraryState takeOver(const sf::Transform& transform);
    void handBack(const LibraryState& library);
    void releasePieces(std::size_t from);
    void drawPiece(std::size_t piece, const ParticleVertex* points, std::size_t count, bool changed);
    void upload(std::size_t piece, const ParticleVertex* points, std::size_t count);

    gl::Functions m_gl;
    gl::Uint m_program = 0;
    std::size_t m_fanSize = 0;
    std::vector<gl::Uint> m_buffers; // one per piece of at most pointsPerPiece records
    std::vector<std::size_t> m_counts;
    std::uint64_t m_version = 0;
    bool m_drawn = false;
};

} // namespace tamsel
