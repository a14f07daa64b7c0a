// Reads Kelvane's windows back through Win32, as another program on the
// same desktop sees them: a window moved below the screen is unmapped on
// the X side under Wine, but Windows still knows where it is.
//   probe popup    x y width height visible, of the popup
//   probe labels   the text of each of the popup's labels, one per line
//   probe count    how many Kelvane forms exist
//   probe memory   the Kelvane process's working set and private bytes, KiB
//   probe close    asks the popup to close, as Alt+F4 does
//   probe logoff   tells Kelvane the session ends, as Windows does at sign-out
//   probe workarea          the primary monitor's work area's bottom
//   probe resolution W H    changes the display's resolution
//   probe boxes    how many message boxes are open
//   probe load NAME         loads a library the old way: program's folder first
//   probe hold FILE SECONDS keeps a file open that nobody may delete meanwhile
#include <windows.h>
// after windows.h, which it needs
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<HWND> windowsOf(const wchar_t* windowClass)
{
    struct Search {
        const wchar_t* windowClass;
        std::vector<HWND> found;
    } search{windowClass, {}};
    EnumWindows(
        [](HWND hwnd, LPARAM out) -> BOOL {
            auto* search = reinterpret_cast<Search*>(out);
            wchar_t name[32] = {};
            GetClassNameW(hwnd, name, 32);
            if (std::wstring(name) == search->windowClass)
                search->found.push_back(hwnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<HWND> forms()
{
    return windowsOf(L"KelvaneForm");
}

// The popup is the form that keeps off the taskbar.
HWND popup()
{
    for (HWND hwnd : forms())
        if (GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_TOOLWINDOW)
            return hwnd;
    return nullptr;
}

std::string utf8(const wchar_t* text)
{
    char out[512] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out - 1, nullptr, nullptr);
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "count") {
        std::printf("%zu\n", forms().size());
        return 0;
    }
    if (what == "workarea") {
        MONITORINFO info{};
        info.cbSize = sizeof info;
        if (!GetMonitorInfoW(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY), &info))
            return 1;
        std::printf("%ld\n", info.rcWork.bottom);
        return 0;
    }
    if (what == "resolution" && argc > 3) {
        DEVMODEW mode{};
        mode.dmSize = sizeof mode;
        mode.dmPelsWidth = static_cast<DWORD>(std::atoi(argv[2]));
        mode.dmPelsHeight = static_cast<DWORD>(std::atoi(argv[3]));
        mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
        return ChangeDisplaySettingsW(&mode, 0) == DISP_CHANGE_SUCCESSFUL ? 0 : 1;
    }
    if (what == "load" && argc > 2) {
        std::wstring name(argv[2], argv[2] + std::strlen(argv[2]));
        return LoadLibraryW(name.c_str()) ? 0 : 1;
    }
    if (what == "hold" && argc > 3) {
        std::wstring name(argv[2], argv[2] + std::strlen(argv[2]));
        HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return 1;
        std::printf("holding\n");
        std::fflush(stdout);
        Sleep(static_cast<DWORD>(std::atoi(argv[3])) * 1000);
        CloseHandle(file);
        return 0;
    }
    if (what == "boxes") {
        int boxes = 0;
        for (HWND box : windowsOf(L"#32770"))
            boxes += IsWindowVisible(box) ? 1 : 0;
        std::printf("%d\n", boxes);
        return 0;
    }
    if (what == "logoff") {
        HWND session = FindWindowW(L"Kelvane", nullptr);
        if (!session || !SendMessageW(session, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF))
            return 1;
        SendMessageW(session, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
        return 0;
    }
    HWND window = popup();
    if (!window)
        return 1;
    if (what == "close") {
        PostMessageW(window, WM_CLOSE, 0, 0);
        return 0;
    }
    if (what == "popup") {
        RECT r;
        GetWindowRect(window, &r);
        std::printf("%ld %ld %ld %ld %d\n", r.left, r.top, r.right - r.left, r.bottom - r.top,
                    IsWindowVisible(window) ? 1 : 0);
        return 0;
    }
    if (what == "memory") {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
        PROCESS_MEMORY_COUNTERS_EX counters{};
        counters.cb = sizeof counters;
        if (!process ||
            !GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                  sizeof counters))
            return 1;
        std::printf("%zu %zu\n", counters.WorkingSetSize / 1024, counters.PrivateUsage / 1024);
        CloseHandle(process);
        return 0;
    }
    if (what == "labels") {
        for (HWND child = GetWindow(window, GW_CHILD); child;
             child = GetWindow(child, GW_HWNDNEXT)) {
            wchar_t cls[32] = {};
            GetClassNameW(child, cls, 32);
            if (std::wstring(cls) != L"Static")
                continue;
            wchar_t text[256] = {};
            SendMessageW(child, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text));
            std::printf("%s\n", utf8(text).c_str());
        }
        return 0;
    }
    std::fprintf(stderr, "usage: probe popup|labels|count\n");
    return 2;
}
