#pragma once

// The Qt backend's own view of the toolkit's objects, for the backend and
// its checks; nothing above the toolkit includes this.

#include "toolkit/controls.h"
#include "toolkit/form.h"
#include "toolkit/picture.h"
#include "toolkit/shell.h"

#include <QByteArray>
#include <QEvent>
#include <QFont>
#include <QIcon>
#include <QPoint>
#include <QWidget>

namespace tk::qt {

// The face and size every caption of the program was laid out for.
QFont defaultFont();

// The pixel position of the primary display's top-left corner; every form
// coordinate is relative to it.
QPoint origin();

// The window system's keyboard, for the windows the window manager does not
// manage: which other program's window has it before one of ours takes it,
// and giving it back to that window when ours leaves the screen. X11 only;
// elsewhere the window system does both itself.
void rememberKeyboard();
void giveKeyboardBack();
// Lets a click give the keyboard to such a window, whose focus nobody but
// the program gives. Once, as the application starts.
void focusOnClick();

// Ends the program with one line when the X server goes away, however Qt
// hears of it. X11 only.
void endWithTheServer();

// Tells the toolkit whenever a display changes, appears or goes, or another
// one becomes the primary.
void watchScreens();

// Sends a window frameChangedEvent() whenever the window manager changes its
// frame. X11 only; elsewhere Qt's own move and resize events tell.
void watchFrames();
QEvent::Type frameChangedEvent();

// Places a control at the nearest whole pixels of its twips rectangle.
void place(QWidget& control, const Twips& rect);

QColor toQColor(Color color);
Color fromQColor(const QColor& color);

// The widget of a loaded form, or of one of its controls.
QWidget& widgetOf(const Form& form);
QWidget& widgetOf(const Control& control);

QIcon iconOf(const Picture& picture);

// The status-notifier item of a registered icon, or null.
class StatusNotifierItem;
StatusNotifierItem* statusNotifierItem(WindowHandle hWnd, std::int32_t id);

// The size of the first version of the shell's record: six 32-bit fields,
// then 64 bytes of tip text.
constexpr int kRecordSize = 88;

} // namespace tk::qt
