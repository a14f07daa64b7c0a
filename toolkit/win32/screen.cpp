#include "win32.h"

#include "toolkit/backend.h"
#include "toolkit/base/error.h"

namespace tk {
namespace {

// Set once the window system has told a window of a new resolution.
int g_dpi = 0;

} // namespace

int win32::currentDpi()
{
    if (g_dpi > 0)
        return g_dpi;
    return GetDeviceCaps(ScreenDC().get(), LOGPIXELSY);
}

void win32::fail(const char* call)
{
    const DWORD code = GetLastError();
    // Some failures set no code; "failed: Success." would mislead.
    if (code == ERROR_SUCCESS)
        throw Error(Status::InvalidCall,
                    std::string(call) + " failed, and the system gave no reason");
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string words = length ? narrow(std::wstring(text, length)) : std::string();
    LocalFree(text);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' '))
        words.pop_back();
    if (words.empty())
        words = "error " + std::to_string(code);
    throw Error(Status::InvalidCall, std::string(call) + " failed: " + words);
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
    // The primary monitor's work area: the taskbar's strip left out. Asked
    // of the monitor, which follows a new resolution, rather than through
    // SPI_GETWORKAREA, which Wine answers from a copy made at start.
    MONITORINFO info{};
    info.cbSize = sizeof info;
    const HMONITOR primary = MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY);
    const int workBottom = primary && GetMonitorInfoW(primary, &info) ? info.rcWork.bottom : 0;
    return {width, height, static_cast<double>(dpi), static_cast<double>(dpi), workBottom};
}

bool saveScreenshot(const std::string&)
{
    return false;
}

} // namespace tk
