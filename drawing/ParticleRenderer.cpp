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

    const auto compile = [&](gl::Enum type, const char* source) -> gl::Uint
    {
        const gl::Uint shader = m_gl.createShader(type);
        m_gl.shaderSource(shader, 1, &source, nullptr);
        m_gl.compileShader(shader);
        gl::Int status = 0;
        m_gl.getShaderiv(shader, gl::compileStatus, &status);
        if (status)
            return shader;
        gl::Int length = 0;
        m_gl.getShaderiv(shader, gl::infoLogLength, &length);
        std::string log(static_cast<std::size_t>(std::max(length, 1)), '\0');
        m_gl.getShaderInfoLog(shader, length, nullptr, &log[0]);
        error = "a shader does not compile: " + log.substr(0, log.find('\0'));
        m_gl.deleteShader(shader);
        return 0;
    };
    const gl::Uint shaders[] = {compile(gl::vertexShader, circleVertexShader(fan.size()).c_str()),
                                compile(gl::fragmentShader, circleFragmentShader)};
    const bool compiled = shaders[0] != 0 && shaders[1] != 0;
    if (compiled)
    {
        m_program = m_gl.createProgram();
        for (const gl::Uint shader : shaders)
            m_gl.attachShader(m_program, shader);
        m_gl.bindAttribLocation(m_program, positionAttribute, "position");
        m_gl.bindAttribLocation(m_program, colorAttribute, "color");
        m_gl.linkProgram(m_program);
    }
    for (const gl::Uint shader : shaders)
        if (shader != 0)
            m_gl.deleteShader(shader); // the program keeps what it needs
    if (!compiled)
        return false;

    gl::Int linked = 0;
    m_gl.getProgramiv(m_program, gl::linkStatus, &linked);
    const gl::Int corners = m_gl.getUniformLocation(m_program, "corners");
    if (!linked || corners < 0)
    {
        if (!linked)
        {
            gl::Int length = 0;
            m_gl.getProgramiv(m_program, gl::infoLogLength, &length);
            std::string log(static_cast<std::size_t>(std::max(length, 1)), '\0');
            m_gl.getProgramInfoLog(m_program, length, nullptr, &log[0]);
            error = "the shaders do not link: " + log.substr(0, log.find('\0'));
        }
        else
            error = "the shader has no corners to draw from";
        m_gl.deleteProgram(m_program);
        m_program = 0;
        return false;
    }
    gl::Int previous = 0;
    m_gl.getIntegerv(gl::currentProgram, &previous);
    m_gl.useProgram(m_program);
    m_gl.uniform2fv(corners, static_cast<gl::Sizei>(fan.size()), &fan[0].x);
    m_gl.useProgram(static_cast<gl::Uint>(previous));
    m_fanSize = fan.size();
    return true;
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

    gl::Int previousProgram = 0, previousBuffer = 0;
    m_gl.getIntegerv(gl::arrayBufferBinding, &previousBuffer);
    // Pieces that a larger world needed give their memory back.
    if (changed)
        for (std::size_t piece = pieces; piece < m_buffers.size(); ++piece)
            if (m_counts[piece] > 0)
            {
                m_gl.bindBuffer(gl::arrayBuffer, m_buffers[piece]);
                m_gl.bufferData(gl::arrayBuffer, 0, nullptr, gl::streamDraw);
                m_counts[piece] = 0;
            }
    m_gl.getIntegerv(gl::currentProgram, &previousProgram);
    // The graphics library leaves the model-view matrix current between its draws, and loads its transforms into it.
    m_gl.loadMatrixf(transform.getMatrix());
    m_gl.useProgram(m_program);
    m_gl.enableVertexAttribArray(positionAttribute);
    m_gl.enableVertexAttribArray(colorAttribute);
    m_gl.vertexAttribDivisor(positionAttribute, 1);
    m_gl.vertexAttribDivisor(colorAttribute, 1);
    // Whatever happens, the graphics library finds its own state again.
    const auto restore = [&]
    {
        m_gl.vertexAttribDivisor(positionAttribute, 0);
        m_gl.vertexAttribDivisor(colorAttribute, 0);
        m_gl.disableVertexAttribArray(positionAttribute);
        m_gl.disableVertexAttribArray(colorAttribute);
        m_gl.bindBuffer(gl::arrayBuffer, static_cast<gl::Uint>(previousBuffer));
        m_gl.useProgram(static_cast<gl::Uint>(previousProgram));
    };

    try
    {
        for (std::size_t piece = 0; piece < pieces; ++piece)
        {
            const std::size_t first = piece * pointsPerPiece;
            const std::size_t count = std::min(pointsPerPiece, points.size() - first);
            m_gl.bindBuffer(gl::arrayBuffer, m_buffers[piece]);
            if (changed)
                upload(piece, points.data() + first, count);
            m_gl.vertexAttribPointer(positionAttribute, 2, gl::floatType, gl::isFalse, sizeof(ParticleVertex),
                                     reinterpret_cast<const void*>(offsetof(ParticleVertex, position)));
            m_gl.vertexAttribPointer(colorAttribute, 4, gl::unsignedByte, gl::isTrue, sizeof(ParticleVertex),
                                     reinterpret_cast<const void*>(offsetof(ParticleVertex, color)));
            m_gl.drawArraysInstanced(gl::triangles, 0, static_cast<gl::Sizei>(m_fanSize),
                                     static_cast<gl::Sizei>(count));
        }
    }
    catch (...)
    {
        restore();
        m_drawn = false;
        throw;
    }
    restore();
    m_drawn = true;
    m_version = version;
}

} // namespace tamsel
