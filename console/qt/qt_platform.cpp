#include "console/qt/qt_platform.h"

#include <QByteArray>
#include <QtGlobal>

namespace oa {

void PrepareQtPlatform() {
  // The progress label is repainted after every item. With MIT-SHM, Qt's X11 backing store waits
  // for the X server (a round trip) before it paints again over a region whose shared-memory
  // upload is still pending: that wait was most of the window's cost per item. Plain PutImage
  // requests need no wait; the window is small, so larger repaints stay cheap.
  qputenv("QT_XCB_NO_MITSHM", QByteArray("1"));
}

}  // namespace oa
