#include "qt.h"

#include <QGuiApplication>

#include <xcb/xcb.h>
// After Qt's headers and ours: Xlib defines macros (Status, None, Bool) they use.
#include <X11/Xlib.h>

#include <cstdlib>

namespace tk::qt {
namespace {

xcb_connection_t* g_connection = nullptr;

// Qt hears of a lost X server on one of two roads: its event queue, which
// says the line below and exits 1, or an Xlib call on the same connection,
// where Qt's handler says it in other words and Xlib's default handler adds
// two lines of its own. Which comes first is chance (seen about one exit in
// five under AddressSanitizer), so this road says the event queue's line.
int serverLost(Display*)
{
    qWarning("The X11 connection broke (error %d). Did the X11 server die?",
             xcb_connection_has_error(g_connection));
    std::exit(1);
}

} // namespace

void endWithTheServer()
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11)
        return;
    g_connection = x11->connection();
    XSetIOErrorHandler(serverLost);
}

} // namespace tk::qt
