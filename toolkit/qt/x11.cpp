#include "qt.h"

#include "toolkit/application.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QWidget>

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
// five under AddressSanitizer), so this road says the event queue's line,
// and both let go of what the program holds as its own end does.
constexpr char kServerLost[] = "The X11 connection broke";

int serverLost(Display*)
{
    qWarning("%s (error %d). Did the X11 server die?", kServerLost,
             xcb_connection_has_error(g_connection));
    std::exit(1);
}

QtMessageHandler g_passOn = nullptr;

void hearServerLost(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (g_passOn)
        g_passOn(type, context, text);
    if (type == QtWarningMsg && text.startsWith(QLatin1String(kServerLost)))
        programEnds();
}

// Qt reads a window's frame from _NET_FRAME_EXTENTS when it changes but tells
// the window nothing. Mutter 48 sets it twice for a new window, the second
// time smaller, and a dialog centred with the first frame stayed a few pixels
// off centre; the form hears of each change.
class FrameWatch final : public QAbstractNativeEventFilter {
public:
    explicit FrameWatch(xcb_connection_t* connection)
    {
        const char name[] = "_NET_FRAME_EXTENTS";
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 1, sizeof name - 1, name), nullptr);
        if (reply)
            m_atom = reply->atom;
        std::free(reply);
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        if (m_atom == XCB_NONE || type != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
            return false;
        const auto* property = static_cast<const xcb_property_notify_event_t*>(message);
        // Posted, so that Qt has read the new frame by the time it arrives.
        if (property->atom == m_atom)
            if (QWidget* window = QWidget::find(property->window))
                QCoreApplication::postEvent(window, new QEvent(frameChangedEvent()));
        return false;
    }

private:
    xcb_atom_t m_atom = XCB_NONE;
};

} // namespace

QEvent::Type frameChangedEvent()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void watchFrames()
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return;
    static FrameWatch watch(x11->connection());
    qApp->installNativeEventFilter(&watch);
}

void endWithTheServer()
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11)
        return;
    g_connection = x11->connection();
    XSetIOErrorHandler(serverLost);
    g_passOn = qInstallMessageHandler(hearServerLost);
}

} // namespace tk::qt
