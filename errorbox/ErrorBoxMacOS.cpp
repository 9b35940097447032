#include "errorbox/ErrorBox.hpp"

#include "errorbox/DialogTool.hpp"
#include "errorbox/Printable.hpp"

#include <iostream>

namespace tamsel
{

void showError(const std::string& text)
{
    const std::string message = printable(text);
    std::cerr << "Error: " << message << std::endl;
    // The text reaches the script as an argument, never as part of its source.
    const std::vector<DialogTool> alert{
        {"osascript",
         {"osascript", "-e", "on run argv", "-e",
          "display alert \"Error\" message (item 1 of argv) as critical buttons {\"OK\"} default button \"OK\"", "-e",
          "end run", "--", boxText(message)}}};
    if (!showWithTool(alert))
        std::cerr << "Error: the error box could not be shown (osascript failed)" << std::endl;
}

} // namespace tamsel
