#pragma once

#include "drawing/ParticleRenderer.hpp"
#include "world/WorldView.hpp"

#include <SFML/Graphics/RenderStates.hpp>
#include <SFML/Graphics/Vertex.hpp>
#include <SFML/System/Vector2.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace sf
{
class RenderTarget;
}

namespace tamsel
{

/// Draws one world, and keeps what it made for the frames to come: each particle a circle of the world's
/// effective_radius in its type's colour, on a black background of the world's size. It draws with the graphics
/// card's circles where the context can (OpenGL 3.3), and otherwise from batches of triangles made here: the
/// background, then one 30-point circle per particle in region order, at most circlesPerBatch circles a batch, each
/// handed to the render target in one call. Worlds of up to maximumCachedCircles particles keep their batches until
/// the world changes; larger ones remake a batch for every call, in one buffer, so drawing holds the same memory
/// whatever the particle count.
class WorldDrawing
{
public:
    static constexpr std::size_t circlesPerBatch = 4096;        // 7.4 MB of vertices, well within any driver
    static constexpr std::size_t maximumCachedCircles = 131072; // 236 MB of vertices kept between frames

    /// Draws circles of the radius, in world units.
    explicit WorldDrawing(float radius);
    ~WorldDrawing();
    WorldDrawing(const WorldDrawing&) = delete;
    WorldDrawing& operator=(const WorldDrawing&) = delete;

    /// Draws the world, whose transform `states` already holds.
    void draw(const WorldView& world, sf::RenderTarget& target, const sf::RenderStates& states);

    /// What the graphics card draws from: one record per particle in region order, remade only after the world
    /// changed. The card turns each into the same 30-point circle as a batch holds.
    const std::vector<ParticleVertex>& getPoints(const WorldView& world);

    /// Whether it draws with the graphics card: no context has turned that down yet.
    bool isGpuDrawing() const { return !m_gpuDrawingFailed; }

private:
    static std::size_t getBatchCount(const WorldView& world);
    // Batch `index` < getBatchCount(); valid until the next call.
    const std::vector<sf::Vertex>& getBatch(const WorldView& world, std::size_t index);
    void fillBatch(const WorldView& world, std::size_t index, std::vector<sf::Vertex>& vertices) const;
    // Draws with the graphics card's circles; false where the context cannot.
    bool drawPoints(const WorldView& world, sf::RenderTarget& target, const sf::RenderStates& states);

    // Set for the drawing's life once a context could not draw with the graphics card's circles.
    bool m_gpuDrawingFailed = false;
    std::vector<sf::Vector2f> m_circleFan; // triangle corners of one circle at the origin
    // The batches of a world small enough to keep them, remade only after the world changed; otherwise the one
    // batch being drawn.
    std::vector<std::vector<sf::Vertex>> m_batches;
    std::uint64_t m_batchesVersion = ~std::uint64_t{0};
    std::vector<sf::Vertex> m_batchBeingDrawn;
    std::vector<ParticleVertex> m_points;
    std::uint64_t m_pointsVersion = ~std::uint64_t{0};
    std::unique_ptr<ParticleRenderer> m_renderer; // made on the first draw with the graphics card
};

} // namespace tamsel
