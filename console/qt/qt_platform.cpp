#include "console/qt/qt_platform.h"

#include <QByteArray>
#include <QtGlobal>
#include <cstdlib>

#if defined(OA_HAVE_XCB)
#include <xcb/xcb.h>
#endif

namespace oa::qt {

void PrepareQtPlatform() {
  // The progress label is repainted after every item. With MIT-SHM, Qt's X11 backing store waits
  // for the X server (a round trip) before it paints again over a region whose shared-memory
  // upload is still pending: that wait was most of the window's cost per item. Plain PutImage
  // requests need no wait; the window is small, so larger repaints stay cheap.
  qputenv("QT_XCB_NO_MITSHM", QByteArray("1"));
}

std::optional<std::string> NoDisplayReason() {
#if defined(__APPLE__)
  return std::nullopt;
#else
  auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
  };
  // A platform chosen by hand (offscreen, vnc, ...) or a Wayland session is left to Qt.
  if (set("QT_QPA_PLATFORM") || set("WAYLAND_DISPLAY")) return std::nullopt;
  if (!set("DISPLAY")) return std::string("DISPLAY is not set");
#if defined(OA_HAVE_XCB)
  const std::string display = std::getenv("DISPLAY");
  xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
  // A failed connection is still an object to free.
  const bool failed = connection == nullptr || xcb_connection_has_error(connection) != 0;
  if (connection != nullptr) xcb_disconnect(connection);
  if (failed) return "the X display " + display + " cannot be opened";
#endif
  return std::nullopt;
#endif
}

}  // namespace oa::qt
