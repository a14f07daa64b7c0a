#include "controls.h"

#include "toolkit/screen.h"

namespace tk::win32 {

RECT pixelRect(const Twips& rect)
{
    const Screen& s = screen();
    const int left = s.toPixels(rect.left);
    const int top = s.toPixelsY(rect.top);
    return {left, top, left + s.toPixels(rect.width), top + s.toPixelsY(rect.height)};
}

HWND createChild(const wchar_t* cls, const std::wstring& text, DWORD style, DWORD exStyle,
                 HWND parent, const Twips& rect)
{
    const RECT r = pixelRect(rect);
    HWND hwnd = check(CreateWindowExW(exStyle, cls, text.c_str(),
                                      WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style, r.left,
                                      r.top, r.right - r.left, r.bottom - r.top, parent, nullptr,
                                      GetModuleHandleW(nullptr), nullptr),
                      "CreateWindowExW");
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(defaultFont()), FALSE);
    return hwnd;
}

std::wstring windowText(HWND hwnd)
{
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

Color fromColorRef(COLORREF c)
{
    return {GetRValue(c), GetGValue(c), GetBValue(c)};
}

void outlineOnly(HWND hwnd)
{
    RECT r{};
    check(GetClientRect(hwnd, &r), "GetClientRect");
    Region outer(check(CreateRectRgn(0, 0, r.right, r.bottom), "CreateRectRgn"));
    const Region inner(check(CreateRectRgn(1, 1, r.right - 1, r.bottom - 1), "CreateRectRgn"));
    check(CombineRgn(outer.get(), outer.get(), inner.get(), RGN_DIFF), "CombineRgn");
    // The window owns the region from now on.
    check(SetWindowRgn(hwnd, outer.get(), TRUE), "SetWindowRgn");
    outer.release();
}

LRESULT CALLBACK shapeProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_NCHITTEST:
        return HTTRANSPARENT;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT r{};
        if (GetClientRect(hwnd, &r))
            FillRect(dc, &r, GetSysColorBrush(COLOR_WINDOWTEXT));
        EndPaint(hwnd, &ps);
        return 0;
    }
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

} // namespace tk::win32
