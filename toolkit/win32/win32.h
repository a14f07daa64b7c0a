#pragma once

// The Win32 backend's own helpers; nothing above the toolkit includes this.

#include "toolkit/controls.h"
#include "toolkit/form.h"
#include "toolkit/picture.h"
#include "toolkit/wide.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <functional>
#include <string>

namespace tk::win32 {

// The hidden top-level window that carries posted work, one-shot timers and
// the shell's broadcasts for the whole program.
HWND messageWindow();

// The primary display's resolution in dots per inch: the system's, until a
// window hears of a new one (per-monitor awareness).
int currentDpi();
void setDpi(int dpi);

// The program's face for every caption, at the screen's resolution.
HFONT defaultFont();

// The icon of a picture, loaded from the program's resources at this size;
// owned by the backend.
HICON iconOf(const Picture& picture, int size);

COLORREF toColorRef(Color color);

// Every form window's procedure hands messages it does not handle to the
// shell's emulation first: the icon's callback arrives as a mouse message.
// The window of a loaded form, for the backend's own checks.
HWND handleOf(const Form& form);
HWND handleOf(const Control& control);

// Whether a window is a form's; the dialog manager moves the keyboard
// between its buttons.
bool isFormWindow(HWND hwnd);

// Re-adds every icon after Explorer restarts.
void readdIcons();

} // namespace tk::win32
