#pragma once

#include "settings/Settings.hpp"
#include "world/Particles.hpp"
#include "world/StepParameters.hpp"
#include "world/Uncopied.hpp"
#include "world/WorldView.hpp"

#include <SFML/Graphics/Color.hpp>
#include <SFML/Graphics/Drawable.hpp>
#include <SFML/Graphics/Transformable.hpp>
#include <SFML/System/Vector2.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tamsel
{

class Step;
class WorldDrawing;

/// The simulated world: particles sorted into a wrap-around grid of square regions, a type-by-type interaction
/// matrix and one colour per type. Every particle lies in the region that contains its position.
///
/// Particles are stored region after region in contiguous arrays (one per field), so the step walks memory in
/// order.
class Orbisk : public sf::Drawable, public sf::Transformable
{
public:
    /// Copies the physical and geometric settings and derives the step's numbers from them; the world starts with no
    /// types and no regions. Settings that checkSettings refuses are refused by generateTypes.
    explicit Orbisk(const Settings& settings);
    Orbisk(const Orbisk&);
    Orbisk(Orbisk&&) noexcept;
    Orbisk& operator=(const Orbisk&);
    Orbisk& operator=(Orbisk&&) noexcept;
    ~Orbisk() override;

    /// Draws a new count x count interaction matrix and count colours and removes every particle and region.
    /// Throws the ConfigurationError of checkSettings for settings it refuses, "invalid maximum effective distance"
    /// when an interaction could reach beyond the neighbouring regions; the world is then unchanged.
    void generateTypes(std::int32_t count);

    /// Rebuilds the grid as empty regions and scatters count particles at rest. Throws std::logic_error for
    /// particles without any type (count > 0 before generateTypes with a count of at least 1).
    void generateParticles(std::int32_t count);

    /// Advances every particle by dt seconds. Throws std::logic_error before generateParticles built the grid.
    void update(float dt);

    /// What the world holds now, read-only: valid until it next changes.
    WorldView getView() const;

private:
    void draw(sf::RenderTarget& target, sf::RenderStates states) const override;

    std::vector<Interaction> m_interactions; // typeCount x typeCount, row: moved type, column: acting type
    std::vector<sf::Color> m_typeColors;     // indexed by type
    std::int32_t m_typeCount = 0;
    // The matrix's columns, as the step reads them: derived from the matrix by generateTypes.
    ActingTables m_actingTables;
    // What checkSettings said of the settings, asked once: generateTypes throws it.
    std::optional<ConfigurationError> m_refusal;
    // The physical and geometric settings, fixed for the life of the world: the bounds of the random interactions,
    // and the rest as the step's numbers, derived once. type_count and particle_count are not kept: the counts come
    // through generateTypes and generateParticles.
    float m_maximumInteractionDistance, m_maximumInteractionStrength;
    StepParameters m_parameters;
    ParticleArrays m_particles;
    Uncopied<Step> m_step;

    // Counts the changes of the world, so that what drawing made is remade only after one.
    std::uint64_t m_version = 0;
    // The drawing's programs, buffers and caches, made on the first draw.
    mutable Uncopied<WorldDrawing> m_drawing;
};

} // namespace tamsel
