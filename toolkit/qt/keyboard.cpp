#include "qt.h"

#include <QApplication>
#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace tk::qt {
namespace {

xcb_connection_t* x11()
{
    auto* x = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x ? x->connection() : nullptr;
}

template <class T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

// The window that had the keyboard before one of ours took it.
xcb_window_t g_before = XCB_NONE;

bool viewable(xcb_connection_t* c, xcb_window_t window)
{
    Reply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr),
        &std::free);
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
}

// Sees every mouse press: a window the window manager does not know gets the
// keyboard focus from nobody but the program.
class FocusOnClick final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::MouseButtonPress || !watched->isWidgetType())
            return false;
        QWidget* window = static_cast<QWidget*>(watched)->window();
        if ((window->windowFlags() & Qt::X11BypassWindowManagerHint) && !window->isActiveWindow()) {
            rememberKeyboard();
            window->activateWindow();
        }
        return false;
    }
};

} // namespace

void focusOnClick()
{
    auto* filter = new FocusOnClick;
    filter->setParent(qApp);
    qApp->installEventFilter(filter);
}

void rememberKeyboard()
{
    xcb_connection_t* c = x11();
    if (!c)
        return;
    Reply<xcb_get_input_focus_reply_t> focus(
        xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr), &std::free);
    if (!focus || focus->focus == XCB_NONE || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT)
        return;
    // Only another program's window is worth going back to.
    if (QWidget::find(static_cast<WId>(focus->focus)))
        return;
    g_before = focus->focus;
}

void giveKeyboardBack()
{
    xcb_connection_t* c = x11();
    if (!c)
        return;
    // A window that has gone since is no place for the keyboard; then it
    // follows the pointer until the window manager gives it to a window.
    xcb_window_t to = XCB_INPUT_FOCUS_POINTER_ROOT;
    if (g_before != XCB_NONE && viewable(c, g_before))
        to = g_before;
    g_before = XCB_NONE;
    xcb_set_input_focus(c, XCB_INPUT_FOCUS_POINTER_ROOT, to, XCB_CURRENT_TIME);
    xcb_flush(c);
}

} // namespace tk::qt
