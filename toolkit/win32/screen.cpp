#include "win32.h"

#include "toolkit/backend.h"
#include "toolkit/error.h"

namespace tk {

backend::ScreenMetrics backend::primaryScreen()
{
    // The whole primary display, taskbar included: the popup's position
    // counts its own allowance for the taskbar.
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(nullptr);
    if (!screen || width <= 0 || height <= 0)
        throw Error(Status::InvalidCall, "No screen is available");
    const double dpiX = GetDeviceCaps(screen, LOGPIXELSX);
    const double dpiY = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    // The primary display's work area: the taskbar's strip left out.
    RECT work{};
    const int workBottom = SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0) ? work.bottom : 0;
    return {width, height, dpiX, dpiY, workBottom};
}

} // namespace tk
