#include "drawing/ParticleRenderer.hpp"

#include <algorithm>
#include <cstddef>
#include <new>

namespace tamsel
{

namespace
{

// 12 MB of records a buffer: a size every driver accepts in one piece.
constexpr std::size_t pointsPerPiece = std::size_t{1} << 20;
constexpr gl::Uint positionAttribute = 0, colorAttribute = 1;

// One instance of the circle's triangles per particle; gl_VertexID picks the corner. The compatibility profile
// hands the shader the matrices that the graphics library loads for its own drawing, so each corner goes through
// the very product that transforms the triangles it draws itself, and a corner is the particle's position plus
// the corner's offset, added in float as the batches add them on the processor.
// The array holds the corners of the circle's triangles, as many as the fan the renderer is prepared with.
std::string circleVertexShader(std::size_t cornerCount)
{
    return R"(#version 330 compatibility
in vec2 position;
in vec4 color;
uniform vec2 corners[)" +
           std::to_string(cornerCount) + R"(];
out vec4 fragmentColor;
void main()
{
    gl_Position = gl_ModelViewProjectionMatrix * vec4(position + corners[gl_VertexID], 0.0, 1.0);
    fragmentColor = color;
}
)";
}

constexpr const char* circleFragmentShader = R"(#version 330 compatibility
in vec4 fragmentColor;
void main()
{
    gl_FragColor = fragmentColor;
}
)";

// The driver's log of a shader or a program, read by the functions for the one or the other.
template <typename GetParameter, typename GetLog>
std::string infoLog(gl::Uint object, GetParameter getParameter, GetLog getLog)
{
    gl::Int length = 0;
    getParameter(object, gl::infoLogLength, &length);
    std::string log(static_cast<std::size_t>(std::max(length, 1)), '\0');
    getLog(object, length, nullptr, &log[0]);
    return log.substr(0, log.find('\0'));
}

} // namespace

ParticleRenderer::~ParticleRenderer()
{
    if (m_program == 0 && m_buffers.empty())
        return;
    // Some context must be active to release the objects, whether or not a window is still open.
    const TransientContextLock lock;
    if (!m_buffers.empty())
        m_gl.deleteBuffers(static_cast<gl::Sizei>(m_buffers.size()), m_buffers.data());
    if (m_program != 0)
        m_gl.deleteProgram(m_program);
}

bool ParticleRenderer::prepare(const std::vector<sf::Vector2f>& fan, std::string& error)
{
    if (!checkContext(error))
        return false;
    const gl::Uint shaders[] = {compileShader(gl::vertexShader, circleVertexShader(fan.size()), error),
                                compileShader(gl::fragmentShader, circleFragmentShader, error)};
    const bool compiled = shaders[0] != 0 && shaders[1] != 0;
    if (compiled)
        m_program = linkProgram(shaders);
    for (const gl::Uint shader : shaders)
        if (shader != 0)
            m_gl.deleteShader(shader); // the program keeps what it needs
    if (!compiled)
        return false;

    const gl::Int corners = m_gl.getUniformLocation(m_program, "corners");
    const bool linked = isLinked(error);
    if (linked && corners >= 0)
    {
        setCorners(corners, fan);
        return true;
    }
    if (linked)
        error = "the shader has no corners to draw from";
    m_gl.deleteProgram(m_program);
    m_program = 0;
    return false;
}

bool ParticleRenderer::checkContext(std::string& error)
{
    if (!m_gl.load())
    {
        error = "the graphics driver lacks the functions of OpenGL 3.3";
        return false;
    }
    const int version = gl::contextVersion(m_gl);
    if (version < 33)
    {
        error = "the OpenGL context is version " + std::to_string(version / 10) + "." + std::to_string(version % 10) +
                ", older than 3.3";
        return false;
    }
    return true;
}

gl::Uint ParticleRenderer::compileShader(gl::Enum type, const std::string& source, std::string& error)
{
    const gl::Uint shader = m_gl.createShader(type);
    const char* text = source.c_str();
    m_gl.shaderSource(shader, 1, &text, nullptr);
    m_gl.compileShader(shader);
    gl::Int status = 0;
    m_gl.getShaderiv(shader, gl::compileStatus, &status);
    if (status)
        return shader;
    error = "a shader does not compile: " + infoLog(shader, m_gl.getShaderiv, m_gl.getShaderInfoLog);
    m_gl.deleteShader(shader);
    return 0;
}

gl::Uint ParticleRenderer::linkProgram(const gl::Uint (&shaders)[2])
{
    const gl::Uint program = m_gl.createProgram();
    for (const gl::Uint shader : shaders)
        m_gl.attachShader(program, shader);
    m_gl.bindAttribLocation(program, positionAttribute, "position");
    m_gl.bindAttribLocation(program, colorAttribute, "color");
    m_gl.linkProgram(program);
    return program;
}

bool ParticleRenderer::isLinked(std::string& error)
{
    gl::Int linked = 0;
    m_gl.getProgramiv(m_program, gl::linkStatus, &linked);
    if (linked)
        return true;
    error = "the shaders do not link: " + infoLog(m_program, m_gl.getProgramiv, m_gl.getProgramInfoLog);
    return false;
}

// The corners go into the program's uniform, leaving the program that was in use in use.
void ParticleRenderer::setCorners(gl::Int corners, const std::vector<sf::Vector2f>& fan)
{
    gl::Int previous = 0;
    m_gl.getIntegerv(gl::currentProgram, &previous);
    m_gl.useProgram(m_program);
    m_gl.uniform2fv(corners, static_cast<gl::Sizei>(fan.size()), &fan[0].x);
    m_gl.useProgram(static_cast<gl::Uint>(previous));
    m_fanSize = fan.size();
}

void ParticleRenderer::upload(std::size_t piece, const ParticleVertex* points, std::size_t count)
{
    // Only this call's error counts; a context keeps a handful of error flags at most.
    for (int i = 0; i < 16 && m_gl.getError() != gl::noError; ++i)
    {
    }
    m_gl.bufferData(gl::arrayBuffer, static_cast<gl::SizeiPtr>(count * sizeof(ParticleVertex)), points, gl::streamDraw);
    if (m_gl.getError() == gl::outOfMemory)
    {
        m_counts[piece] = 0;
        throw std::bad_alloc();
    }
    m_counts[piece] = count;
}

void ParticleRenderer::draw(const std::vector<ParticleVertex>& points, std::uint64_t version,
                            const sf::Transform& transform)
{
    const bool changed = !m_drawn || version != m_version;
    const std::size_t pieces = (points.size() + pointsPerPiece - 1) / pointsPerPiece;
    if (pieces > m_buffers.size())
    {
        const std::size_t had = m_buffers.size();
        m_buffers.resize(pieces);
        m_counts.resize(pieces);
        m_gl.genBuffers(static_cast<gl::Sizei>(pieces - had), &m_buffers[had]);
    }

    const LibraryState library = takeOver(transform);
    try
    {
        // Pieces that a larger world needed give their memory back.
        if (changed)
            releasePieces(pieces);
        for (std::size_t piece = 0; piece < pieces; ++piece)
        {
            const std::size_t first = piece * pointsPerPiece;
            drawPiece(piece, points.data() + first, std::min(pointsPerPiece, points.size() - first), changed);
        }
    }
    catch (...)
    {
        handBack(library);
        m_drawn = false;
        throw;
    }
    handBack(library);
    m_drawn = true;
    m_version = version;
}

ParticleRenderer::LibraryState ParticleRenderer::takeOver(const sf::Transform& transform)
{
    LibraryState library;
    m_gl.getIntegerv(gl::arrayBufferBinding, &library.buffer);
    m_gl.getIntegerv(gl::currentProgram, &library.program);
    // The graphics library leaves the model-view matrix current between its draws, and loads its transforms into it.
    m_gl.loadMatrixf(transform.getMatrix());
    m_gl.useProgram(m_program);
    m_gl.enableVertexAttribArray(positionAttribute);
    m_gl.enableVertexAttribArray(colorAttribute);
    m_gl.vertexAttribDivisor(positionAttribute, 1);
    m_gl.vertexAttribDivisor(colorAttribute, 1);
    return library;
}

void ParticleRenderer::handBack(const LibraryState& library)
{
    m_gl.vertexAttribDivisor(positionAttribute, 0);
    m_gl.vertexAttribDivisor(colorAttribute, 0);
    m_gl.disableVertexAttribArray(positionAttribute);
    m_gl.disableVertexAttribArray(colorAttribute);
    m_gl.bindBuffer(gl::arrayBuffer, static_cast<gl::Uint>(library.buffer));
    m_gl.useProgram(static_cast<gl::Uint>(library.program));
}

void ParticleRenderer::releasePieces(std::size_t from)
{
    for (std::size_t piece = from; piece < m_buffers.size(); ++piece)
        if (m_counts[piece] > 0)
        {
            m_gl.bindBuffer(gl::arrayBuffer, m_buffers[piece]);
            m_gl.bufferData(gl::arrayBuffer, 0, nullptr, gl::streamDraw);
            m_counts[piece] = 0;
        }
}

void ParticleRenderer::drawPiece(std::size_t piece, const ParticleVertex* points, std::size_t count, bool changed)
{
    m_gl.bindBuffer(gl::arrayBuffer, m_buffers[piece]);
    if (changed)
        upload(piece, points, count);
    m_gl.vertexAttribPointer(positionAttribute, 2, gl::floatType, gl::isFalse, sizeof(ParticleVertex),
                             reinterpret_cast<const void*>(offsetof(ParticleVertex, position)));
    m_gl.vertexAttribPointer(colorAttribute, 4, gl::unsignedByte, gl::isTrue, sizeof(ParticleVertex),
                             reinterpret_cast<const void*>(offsetof(ParticleVertex, color)));
    m_gl.drawArraysInstanced(gl::triangles, 0, static_cast<gl::Sizei>(m_fanSize), static_cast<gl::Sizei>(count));
}

} // namespace tamsel
