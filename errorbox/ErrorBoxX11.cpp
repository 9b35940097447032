#include "errorbox/ErrorBox.hpp"

#include "errorbox/DialogTool.hpp"
#include "errorbox/Printable.hpp"
#include "errorbox/XlibBox.hpp"
#include "platform/X11Display.hpp"

#include <cstdlib>
#include <iostream>

namespace tamsel
{

namespace
{

// The installed tools that may show the box, in the order they are tried; each looks native on its desktop. The
// text comes wrapped as the box of our own shows it: zenity would wrap it again, at some sixty average characters,
// which a line of wide letters exceeds, and so add lines beyond those that fit on a small screen.
std::vector<DialogTool> dialogTools(const std::string& text)
{
    return {
        {"zenity", {"zenity", "--error", "--title=Error", "--no-markup", "--no-wrap", "--text=" + text}},
        {"kdialog", {"kdialog", "--title", "Error", "--error", text}},
    };
}

} // namespace

std::string getX11DisplayName()
{
    const char* name = std::getenv("DISPLAY");
    return name ? "\"" + printable(name) + "\"" : "(DISPLAY is not set)";
}

void showError(const std::string& text)
{
    const std::string message = printable(text);
    std::cerr << "Error: " << message << std::endl;

    // Held while the box is up: a bare X server that resets as its last client leaves would refuse the next one.
    // The window's display probe shares it when it holds one already.
    const std::shared_ptr<_XDisplay> display = connectX11Display();
    if (!display)
    {
        std::cerr << "Error: " << noDisplayMessage(getX11DisplayName()) << ", so no error box could be shown"
                  << std::endl;
        return;
    }

    // A desktop's own dialog tool looks native; where none is installed or it fails, the box of our own. Both show
    // the same lines, which fit a small screen however long the message is.
    const std::string shown = boxText(message);
    if (!showWithTool(dialogTools(shown)) && !showXlibBox(display.get(), shown))
        std::cerr << "Error: the error box could not be shown on the display " << getX11DisplayName() << std::endl;
}

} // namespace tamsel
