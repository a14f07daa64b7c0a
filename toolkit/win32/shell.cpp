#include "win32.h"

#include "toolkit/backend.h"
#include "toolkit/base/library.h"
#include "toolkit/shell.h"

#include <shellapi.h>

#include <cstddef>
#include <cstring>

namespace tk {
namespace {

// The first version of the record: what the shell has always taken.
constexpr std::size_t kFirstVersionSize = offsetof(NOTIFYICONDATAA, szTip) + 64;

BOOL call(DWORD operation, const TrayIconRecord& record)
{
    NOTIFYICONDATAA data{};
    data.cbSize = static_cast<DWORD>(record.cbSize);
    data.hWnd = reinterpret_cast<HWND>(record.hWnd);
    data.uID = static_cast<UINT>(record.uID);
    data.uFlags = static_cast<UINT>(record.uFlags);
    data.uCallbackMessage = static_cast<UINT>(record.uCallbackMessage);
    data.hIcon = win32::iconOf(Picture::fromHandle(record.hIcon), GetSystemMetrics(SM_CXSMICON));
    std::strncpy(data.szTip, record.szTip.c_str(), sizeof data.szTip - 1);
    // Bound at the first call, after the library search is restricted:
    // shell32 brings many libraries of its own.
    using NotifyIcon = BOOL(WINAPI*)(DWORD, PNOTIFYICONDATAA);
    static const auto notifyIcon =
        reinterpret_cast<NotifyIcon>(systemFunction("shell32.dll", "Shell_NotifyIconA"));
    return notifyIcon(operation, &data);
}

} // namespace

std::int32_t trayRecordSize()
{
    return static_cast<std::int32_t>(kFirstVersionSize);
}

// An icon the shell refuses for now (Explorer still starting at sign-in, or
// too busy to answer) is added again when the taskbar announces itself.
std::int32_t backend::notifyIcon(std::int32_t operation, TrayIconRecord& record)
{
    return call(static_cast<DWORD>(operation), record) ? 1 : 0;
}

void win32::readdIcons()
{
    backend::forEachIcon([](const TrayIconRecord& record) { call(NIM_ADD, record); });
}

} // namespace tk
