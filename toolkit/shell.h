#pragma once

#include "types.h"

#include <cstdint>
#include <functional>
#include <string>

// The shell's names for its operations, flags and mouse messages, with
// Windows' values, without <windows.h> and its macros. Where a file has
// included <windows.h> before, its own definitions stand.
#ifndef NIM_ADD
inline constexpr std::int32_t NIM_ADD = 0;
inline constexpr std::int32_t NIM_DELETE = 2;
inline constexpr std::int32_t NIF_MESSAGE = 1;
inline constexpr std::int32_t NIF_ICON = 2;
inline constexpr std::int32_t NIF_TIP = 4;
#endif
#ifndef WM_MOUSEMOVE
inline constexpr int WM_MOUSEMOVE = 512;
inline constexpr int WM_LBUTTONDOWN = 513;
inline constexpr int WM_LBUTTONUP = 514;
inline constexpr int WM_LBUTTONDBLCLK = 515;
inline constexpr int WM_RBUTTONDOWN = 516;
inline constexpr int WM_MBUTTONDOWN = 519;
#endif

namespace tk {

constexpr int kTipLength = 64;

// The notification record of a tray icon, in the program's own form.
struct TrayIconRecord {
    std::int32_t cbSize = 0;
    WindowHandle hWnd = 0;
    std::int32_t uID = 0;
    std::int32_t uFlags = 0;
    std::int32_t uCallbackMessage = 0;
    std::uint32_t hIcon = 0;
    std::string szTip;
};

// The size of the record as the shell takes it on this platform.
std::int32_t trayRecordSize();

// Adds or deletes a notification-area icon. The icon's clicks reach the form
// whose window handle is in the record, as the mouse message in the X of a
// mouse-move event. Returns non-zero on success.
std::int32_t Shell_NotifyIconA(std::int32_t operation, TrayIconRecord& record);

// Whether an icon with this window handle and identifier is registered.
bool iconRegistered(WindowHandle hWnd, std::int32_t id);

// Sees every call before the shell does, for tests of the order of events.
void observeShell(std::function<void(std::int32_t operation)> observer);

} // namespace tk
