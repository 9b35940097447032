#pragma once

#include <memory>
#include <utility>

namespace tamsel
{

/// A member that its owner makes for itself when first needed and never shares: a copy of the owner starts
/// without one, and a move takes it along. It may be declared with T incomplete, as long as the owner's special
/// members are defined where T is complete.
template <typename T> class Uncopied
{
public:
    Uncopied() = default;
    Uncopied(const Uncopied&) {}
    Uncopied& operator=(const Uncopied&)
    {
        m_value.reset();
        return *this;
    }
    Uncopied(Uncopied&&) noexcept = default;
    Uncopied& operator=(Uncopied&&) noexcept = default;
    ~Uncopied() = default;

    /// The member, made from the arguments if there is none yet.
    template <typename... Arguments> T& getOrMake(Arguments&&... arguments)
    {
        if (!m_value)
            m_value = std::make_unique<T>(std::forward<Arguments>(arguments)...);
        return *m_value;
    }

private:
    std::unique_ptr<T> m_value;
};

} // namespace tamsel
