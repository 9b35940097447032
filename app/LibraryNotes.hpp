#pragma once

#include <SFML/System/Err.hpp>

#include <sstream>
#include <streambuf>

namespace tamsel
{

/// Holds back, while it lives, what the graphics library writes to its error stream. Making a window it notes what
/// the user can do nothing about: a context other than the one asked for (fewer antialiasing samples, a newer
/// version), no vertical synchronisation to switch off. What the window needs, the program checks for itself and
/// reports in its own words.
class LibraryNotesHeld
{
public:
    LibraryNotesHeld() : m_previous(sf::err().rdbuf(&m_notes)) {}
    ~LibraryNotesHeld() { sf::err().rdbuf(m_previous); }
    LibraryNotesHeld(const LibraryNotesHeld&) = delete;
    LibraryNotesHeld& operator=(const LibraryNotesHeld&) = delete;

private:
    std::stringbuf m_notes;
    std::streambuf* m_previous;
};

} // namespace tamsel
