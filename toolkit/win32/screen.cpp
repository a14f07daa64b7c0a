#include "win32.h"

#include "toolkit/backend.h"
#include "toolkit/error.h"

namespace tk {
namespace {

// Set once the window system has told a window of a new resolution.
int g_dpi = 0;

} // namespace

int win32::currentDpi()
{
    if (g_dpi > 0)
        return g_dpi;
    HDC screen = GetDC(nullptr);
    if (!screen)
        return 0;
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi;
}

void win32::setDpi(int dpi)
{
    g_dpi = dpi;
}

backend::ScreenMetrics backend::primaryScreen()
{
    // The whole primary display, taskbar included: the popup's position
    // counts its own allowance for the taskbar.
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    const int dpi = win32::currentDpi();
    if (width <= 0 || height <= 0 || dpi <= 0)
        throw Error(Status::InvalidCall, "No screen is available");
    // The primary display's work area: the taskbar's strip left out.
    RECT work{};
    const int workBottom = SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0) ? work.bottom : 0;
    return {width, height, static_cast<double>(dpi), static_cast<double>(dpi), workBottom};
}

} // namespace tk
