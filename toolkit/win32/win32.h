#pragma once

// The Win32 backend's own helpers; nothing above the toolkit includes this.

#include "toolkit/controls.h"
#include "toolkit/form.h"
#include "toolkit/picture.h"
#include "toolkit/base/wide.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <type_traits>

namespace tk::win32 {

// Raises the toolkit's error for a Win32 call that just failed, in the
// system's own words for GetLastError().
[[noreturn]] void fail(const char* call);

// The result of a Win32 call that reports failure as zero or null; raises
// the toolkit's error for a failure.
template <class T> T check(T result, const char* call)
{
    if (!result)
        fail(call);
    return result;
}

// Owners of what Win32 hands out, released however the scope ends.
struct GdiDeleter {
    void operator()(HGDIOBJ object) const noexcept { DeleteObject(object); }
};
using Brush = std::unique_ptr<std::remove_pointer_t<HBRUSH>, GdiDeleter>;
using Region = std::unique_ptr<std::remove_pointer_t<HRGN>, GdiDeleter>;
using Font = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiDeleter>;
struct IconDeleter {
    void operator()(HICON icon) const noexcept { DestroyIcon(icon); }
};
using Icon = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;

// The screen's device context, for as long as the object lives.
class ScreenDC final {
public:
    ScreenDC() : m_dc(check(GetDC(nullptr), "GetDC")) {}
    ~ScreenDC() { ReleaseDC(nullptr, m_dc); }
    ScreenDC(const ScreenDC&) = delete;
    ScreenDC& operator=(const ScreenDC&) = delete;
    HDC get() const { return m_dc; }

private:
    HDC m_dc;
};

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
HWND handleOf(const Control& control);

// Whether a window is a form's; the dialog manager moves the keyboard
// between its buttons.
bool isFormWindow(HWND hwnd);

// Re-adds every icon after Explorer restarts.
void readdIcons();

} // namespace tk::win32
