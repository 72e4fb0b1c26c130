// What the window asks of Qt before its QApplication exists.
#pragma once

#include <optional>
#include <string>

namespace oa::qt {

// Call before constructing the QApplication.
void PrepareQtPlatform();

// Why Qt could not open a window here (e.g. "DISPLAY is not set"), or nullopt when it can be
// tried. Qt ends the program with abort() when it finds no display, so this is asked first.
std::optional<std::string> NoDisplayReason();

}  // namespace oa::qt
