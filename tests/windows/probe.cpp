// Reads Kelvane's windows back through Win32, as another program on the
// same desktop sees them: a window moved below the screen is unmapped on
// the X side under Wine, but Windows still knows where it is.
//   probe popup    x y width height visible, of the popup
//   probe labels   the text of each of the popup's labels, one per line
//   probe count    how many Kelvane forms exist
//   probe close    asks the popup to close, as Alt+F4 does
//   probe logoff   tells Kelvane the session ends, as Windows does at sign-out
//   probe workarea          the primary monitor's work area's bottom
//   probe resolution W H    changes the display's resolution
//   probe boxes    how many message boxes are open
//   probe load NAME         loads a library the old way: program's folder first
//   probe hold FILE SECONDS keeps a file open that nobody may delete meanwhile
//   probe stage VEN DEV BUS SLOT NAME   adds a display adapter to the device tree
//   probe power NAME STATE  sets a staged adapter's power state (1 is D0, 4 D3)
//   probe version FILE      a program's product name, version, file version
//                           and numeric version, one per line
#include <windows.h>
// after windows.h, which they need
#include <devpropdef.h>
#include <setupapi.h>

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

// Debian's mingw-w64 declares no setter.
extern "C" WINBOOL WINAPI SetupDiSetDevicePropertyW(HDEVINFO, PSP_DEVINFO_DATA, const DEVPROPKEY*,
                                                    DEVPROPTYPE, const BYTE*, DWORD, DWORD);

constexpr GUID kDisplayAdapters = {
    0x1ca05180, 0xa699, 0x450a, {0x9a, 0x0c, 0xde, 0x4f, 0xbe, 0x3d, 0xdd, 0x89}};
constexpr GUID kDisplayClass = {
    0x4d36e968, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
constexpr DEVPROPKEY deviceKey(ULONG pid)
{
    return {{0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, pid};
}

bool setProperty(HDEVINFO set, SP_DEVINFO_DATA& info, ULONG pid, DEVPROPTYPE type,
                 const void* value, DWORD size)
{
    const DEVPROPKEY key = deviceKey(pid);
    return SetupDiSetDevicePropertyW(set, &info, &key, type, static_cast<const BYTE*>(value), size,
                                     0);
}

bool setPower(HDEVINFO set, SP_DEVINFO_DATA& info, int state)
{
    ULONG data[14] = {sizeof data, static_cast<ULONG>(state), 0x9 /* D0, D3 */};
    return setProperty(set, info, 32, DEVPROP_TYPE_BINARY, data, sizeof data);
}

std::wstring wide(const char* text)
{
    return std::wstring(text, text + std::strlen(text));
}

// Adds an adapter with its hardware id, location, name and power data, and
// its display interface, linked so that SetupAPI lists it as present.
int stage(char** argv)
{
    HDEVINFO set = SetupDiCreateDeviceInfoList(&kDisplayClass, nullptr);
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    const std::wstring name = wide(argv[6]);
    const std::wstring id = L"PCI\\VEN_" + wide(argv[2]) + L"&DEV_" + wide(argv[3]);
    if (!SetupDiCreateDeviceInfoW(set, (id + L"\\" + wide(argv[4]) + wide(argv[5])).c_str(),
                                  &kDisplayClass, nullptr, nullptr, 0, &info) ||
        !SetupDiRegisterDeviceInfo(set, &info, 0, nullptr, nullptr, nullptr))
        return 1;
    std::wstring ids = id + L'\0';
    const ULONG bus = std::strtoul(argv[4], nullptr, 16);
    const ULONG address = std::strtoul(argv[5], nullptr, 16) << 16;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!setProperty(set, info, 3, DEVPROP_TYPE_STRING_LIST, ids.c_str(),
                     (ids.size() + 1) * sizeof(wchar_t)) ||
        !setProperty(set, info, 14, DEVPROP_TYPE_STRING, name.c_str(),
                     (name.size() + 1) * sizeof(wchar_t)) ||
        !setProperty(set, info, 23, DEVPROP_TYPE_UINT32, &bus, sizeof bus) ||
        !setProperty(set, info, 30, DEVPROP_TYPE_UINT32, &address, sizeof address) ||
        !setPower(set, info, 1) ||
        !SetupDiCreateDeviceInterfaceW(set, &info, &kDisplayAdapters, nullptr, 0, &data))
        return 1;
    // Wine lists an interface as present once its Control\Linked is 1, as
    // the PnP manager sets it for a started device.
    wchar_t buffer[512] = {};
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer);
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(set, &data, detail, sizeof buffer, nullptr, nullptr))
        return 1;
    std::wstring mangled = detail->DevicePath;
    for (wchar_t& c : mangled)
        c = c == L'\\' ? L'#' : c;
    const std::wstring path = L"System\\CurrentControlSet\\Control\\DeviceClasses\\"
                              L"{1ca05180-a699-450a-9a0c-de4fbe3ddd89}\\" +
                              mangled + L"\\#\\Control";
    HKEY key = nullptr;
    const DWORD linked = 1;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS ||
        RegSetValueExW(key, L"Linked", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&linked),
                       sizeof linked) != ERROR_SUCCESS)
        return 1;
    RegCloseKey(key);
    SetupDiDestroyDeviceInfoList(set);
    return 0;
}

// Sets the power state of the present adapter of this name, found as
// Kelvane finds its cards: through the display interfaces SetupAPI lists.
bool setPowerOf(const std::wstring& name, int state)
{
    HDEVINFO set = SetupDiGetClassDevsW(&kDisplayAdapters, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return false;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    const DEVPROPKEY friendly = deviceKey(14);
    bool done = false;
    for (DWORD i = 0;
         !done && SetupDiEnumDeviceInterfaces(set, nullptr, &kDisplayAdapters, i, &data); ++i) {
        SP_DEVINFO_DATA info{};
        info.cbSize = sizeof info;
        wchar_t found[128] = {};
        DEVPROPTYPE type = 0;
        done =
            (SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, nullptr, &info) ||
             GetLastError() == ERROR_INSUFFICIENT_BUFFER) &&
            SetupDiGetDevicePropertyW(set, &info, &friendly, &type, reinterpret_cast<BYTE*>(found),
                                      sizeof found - sizeof(wchar_t), nullptr, 0) &&
            name == found && setPower(set, info, state);
    }
    SetupDiDestroyDeviceInfoList(set);
    return done;
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
    // In the screen's own pixels, as the user sees them: Wine 9 and later
    // scale what a program that is not DPI-aware sees, as Windows does.
    SetProcessDPIAware();
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
    if (what == "load" && argc > 2)
        return LoadLibraryW(wide(argv[2]).c_str()) ? 0 : 1;
    if (what == "hold" && argc > 3) {
        HANDLE file = CreateFileW(wide(argv[2]).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return 1;
        std::printf("holding\n");
        std::fflush(stdout);
        Sleep(static_cast<DWORD>(std::atoi(argv[3])) * 1000);
        CloseHandle(file);
        return 0;
    }
    if (what == "stage" && argc > 6)
        return stage(argv);
    if (what == "power" && argc > 3)
        return setPowerOf(wide(argv[2]), std::atoi(argv[3])) ? 0 : 1;
    if (what == "version" && argc > 2) {
        const std::wstring file = wide(argv[2]);
        DWORD unused = 0;
        std::vector<BYTE> info(GetFileVersionInfoSizeW(file.c_str(), &unused));
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        if (info.empty() || !GetFileVersionInfoW(file.c_str(), 0, info.size(), info.data()) ||
            !VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length))
            return 1;
        for (const wchar_t* name : {L"ProductName", L"ProductVersion", L"FileVersion"}) {
            wchar_t* value = nullptr;
            const std::wstring key = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
            if (!VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&value),
                                &length))
                return 1;
            std::printf("%s\n", utf8(value).c_str());
        }
        std::printf("%u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                    HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
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
