#include "errorbox/ErrorBox.hpp"

namespace tamsel
{

std::string noDisplayMessage(const std::string& displayName)
{
    return "no display available: cannot open the display " + displayName;
}

} // namespace tamsel
