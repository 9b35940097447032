#include "errorbox/ErrorBox.hpp"

#include "errorbox/Printable.hpp"

#include <iostream>
#include <windows.h>

namespace tamsel
{

void showError(const std::string& text)
{
    const std::string message = printable(text);
    std::cerr << "Error: " << message << std::endl;
    MessageBoxA(nullptr, message.c_str(), "Error", MB_ICONERROR | MB_OK);
}

} // namespace tamsel
