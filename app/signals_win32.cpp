#include "signals.h"

#include "toolkit/dispatch.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace app {
namespace {

std::function<void()>& endHandler()
{
    static std::function<void()> handler;
    return handler;
}

// Windows ends a session by asking every top-level window; the process is
// ended once they have answered WM_ENDSESSION.
LRESULT CALLBACK sessionProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_QUERYENDSESSION)
        return TRUE;
    if (message == WM_ENDSESSION) {
        if (wParam && endHandler())
            tk::dispatch(endHandler());
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

} // namespace

void onEndRequest(std::function<void()> handler)
{
    endHandler() = std::move(handler);
    static HWND window = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = sessionProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"KelvaneSession";
        RegisterClassW(&wc);
        return CreateWindowExW(WS_EX_TOOLWINDOW, wc.lpszClassName, L"Kelvane", WS_POPUP, 0, 0, 0, 0,
                               nullptr, nullptr, wc.hInstance, nullptr);
    }();
    (void)window;
}

} // namespace app
