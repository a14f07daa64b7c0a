#include "win32.h"

#include "toolkit/application.h"
#include "toolkit/backend.h"
#include "toolkit/dispatch.h"
#include "toolkit/events.h"

#include <cstdio>
#include <deque>
#include <map>
#include <mutex>

namespace tk {
namespace {

constexpr UINT kPosted = WM_APP + 1;
const wchar_t kMessageClass[] = L"Kelvane";

// Only a running loop can be ended; outside one, as in Qt, a request to end
// is nothing.
int g_loops = 0;

struct Posted {
    std::mutex mutex;
    std::deque<std::function<void()>> queue;
    HWND window = nullptr; // set while an Application exists
};

Posted& posted()
{
    // Never destroyed: a reading thread may post while exit() runs.
    static auto* p = new Posted;
    return *p;
}

std::map<UINT_PTR, std::function<void()>>& oneShots()
{
    static std::map<UINT_PTR, std::function<void()>> shots;
    return shots;
}

std::map<UINT, ProgramMessageHandler>& programMessages()
{
    static std::map<UINT, ProgramMessageHandler> handlers;
    return handlers;
}

UINT taskbarCreated()
{
    static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    return message;
}

void runPosted()
{
    for (;;) {
        std::function<void()> next;
        {
            std::lock_guard lock(posted().mutex);
            if (posted().queue.empty())
                return;
            next = std::move(posted().queue.front());
            posted().queue.pop_front();
        }
        next();
    }
}

LRESULT CALLBACK messageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kPosted) {
        runPosted();
        return 0;
    }
    if (message == WM_TIMER) {
        KillTimer(hwnd, wParam);
        auto it = oneShots().find(wParam);
        if (it != oneShots().end()) {
            std::function<void()> handler = std::move(it->second);
            oneShots().erase(it);
            handler();
        }
        return 0;
    }
    if (message == taskbarCreated()) {
        win32::readdIcons();
        return 0;
    }
    if (const auto handler = programMessages().find(message); handler != programMessages().end())
        return static_cast<LRESULT>(handler->second(wParam, lParam));
    // A new resolution, another primary display, or a taskbar that moved or
    // grew; broadcast to every top-level window, this hidden one included.
    // Not every shell names the work area in its settings broadcast, and the
    // popup moves only when its screen really differs.
    if (message == WM_DISPLAYCHANGE || message == WM_SETTINGCHANGE) {
        backend::screenChanged();
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void dispatchMessage(MSG& msg)
{
    HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (win32::isFormWindow(root) && IsDialogMessageW(root, &msg))
        return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

} // namespace

// The one hidden window also carries the program's own messages: those of
// the single-instance check and the session's end.
HWND win32::messageWindow()
{
    return posted().window;
}

HFONT win32::defaultFont()
{
    // An Arial-metric sans face at 8 pt: the labels were sized for a small
    // face like this one and wider faces overflow them. One per resolution,
    // kept for the program's life: controls may still use an older one.
    static std::map<int, Font> fonts;
    const int dpi = currentDpi();
    Font& font = fonts[dpi];
    if (!font)
        font.reset(check(CreateFontW(-MulDiv(8, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                     DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Arial"),
                         "CreateFontW"));
    return font.get();
}

COLORREF win32::toColorRef(Color color)
{
    return RGB(color.red, color.green, color.blue);
}

struct Application::Native {
    Native()
    {
        // The manifest says so too; this covers a copy run without it. Per
        // monitor (v2) where the system has it, so that a new scale reaches
        // the windows as WM_DPICHANGED instead of a blurred bitmap. user32 is
        // delay-loaded, so not loaded yet: asked for by name, from the
        // system folder.
        using SetContext = BOOL(WINAPI*)(HANDLE);
        const HMODULE user32 = LoadLibraryExW(L"user32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        const auto setContext = reinterpret_cast<SetContext>(reinterpret_cast<void*>(
            user32 ? GetProcAddress(user32, "SetProcessDpiAwarenessContext") : nullptr));
        const HANDLE perMonitorV2 = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-4));
        if (!setContext || !setContext(perMonitorV2))
            SetProcessDPIAware();
        WNDCLASSW wc{};
        wc.lpfnWndProc = messageProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kMessageClass;
        if (!RegisterClassW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
            win32::fail("RegisterClassW");
        // Top-level, not message-only: only top-level windows hear the
        // shell's TaskbarCreated broadcast.
        HWND window =
            win32::check(CreateWindowExW(WS_EX_TOOLWINDOW, kMessageClass, L"Kelvane", WS_POPUP, 0,
                                         0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr),
                         "CreateWindowExW");
        {
            std::lock_guard lock(posted().mutex);
            posted().window = window;
        }
        detail::acceptPosts(true);
    }
    ~Native()
    {
        detail::acceptPosts(false);
        HWND window = nullptr;
        {
            std::lock_guard lock(posted().mutex);
            std::swap(window, posted().window);
            posted().queue.clear();
        }
        DestroyWindow(window);
    }
};

Application::Application(int&, char**) : m_native(std::make_unique<Native>()) {}

Application::~Application() = default;

void processEvents(int waitMs)
{
    const DWORD until = GetTickCount() + static_cast<DWORD>(waitMs > 0 ? waitMs : 0);
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                continue;
            dispatchMessage(msg);
        }
        const DWORD now = GetTickCount();
        if (waitMs <= 0 || static_cast<LONG>(until - now) <= 0)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, until - now, QS_ALLINPUT);
    }
}

int backend::runLoop()
{
    ++g_loops;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        dispatchMessage(msg);
    --g_loops;
    return static_cast<int>(msg.wParam);
}

void backend::quit(int status)
{
    if (g_loops > 0)
        PostQuitMessage(status);
}

void backend::postToLoop(std::function<void()> function)
{
    std::lock_guard lock(posted().mutex);
    if (!posted().window)
        return;
    posted().queue.push_back(std::move(function));
    PostMessageW(posted().window, kPosted, 0, 0);
}

void backend::showFatal(const std::string& message)
{
    MessageBoxW(nullptr, widen(message).c_str(), L"Kelvane", MB_OK | MB_ICONERROR);
}

void setProgramWindowTitle(const std::string& title)
{
    win32::check(SetWindowTextW(win32::messageWindow(), widen(title).c_str()), "SetWindowTextW");
}

void onProgramMessage(unsigned message, ProgramMessageHandler handler)
{
    programMessages()[message] = std::move(handler);
}

struct OneShot::Native {
    UINT_PTR id = 0;
};

OneShot::OneShot() : m_native(std::make_unique<Native>()) {}

OneShot::~OneShot()
{
    stop();
}

void OneShot::start(int delayMs, Handler handler)
{
    stop();
    static UINT_PTR next = 1;
    m_native->id = next++;
    oneShots()[m_native->id] = std::move(handler);
    win32::check(
        SetTimer(win32::messageWindow(), m_native->id, static_cast<UINT>(delayMs), nullptr),
        "SetTimer");
}

void OneShot::stop()
{
    if (!m_native->id)
        return;
    KillTimer(win32::messageWindow(), m_native->id);
    oneShots().erase(m_native->id);
    m_native->id = 0;
}

} // namespace tk
