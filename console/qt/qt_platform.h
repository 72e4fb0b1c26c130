// What the window asks of Qt before its QApplication exists.
#pragma once

namespace oa {

// Call before constructing the QApplication.
void PrepareQtPlatform();

}  // namespace oa
