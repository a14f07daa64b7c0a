#pragma once

// The Win32 backend's controls: child windows of a form, each found from its
// own window, and timers. Only the backend includes this.

#include "win32.h"

#include "toolkit/dispatch.h"

#include <commctrl.h>

#include <memory>
#include <string>

namespace tk::win32 {

inline constexpr wchar_t kShapeClass[] = L"KelvaneShape";

// The nearest whole pixels of a twips rectangle, at the screen's resolution.
RECT pixelRect(const Twips& rect);
// A visible child window of a form in the program's face, at its twips.
HWND createChild(const wchar_t* cls, const std::wstring& text, DWORD style, DWORD exStyle,
                 HWND parent, const Twips& rect);
std::wstring windowText(HWND hwnd);
Color fromColorRef(COLORREF c);
// Only the one-pixel outline belongs to a shape's window: whatever lies
// inside shows, and takes the clicks.
void outlineOnly(HWND hwnd);
// The window procedure of shapes: a one-pixel frame that takes no clicks.
LRESULT CALLBACK shapeProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// What every native control of a form has: its window, at its twips.
class Native {
public:
    explicit Native(const Twips& rect) : m_rect(rect) {}
    virtual ~Native() = default;
    virtual HWND hwnd() const = 0;

    // The control a child window of a form stands for, from the window
    // itself; null for any other window.
    static Native* of(HWND child)
    {
        return child ? reinterpret_cast<Native*>(GetWindowLongPtrW(child, GWLP_USERDATA)) : nullptr;
    }

    // Lays the control out again at the screen's new resolution.
    virtual void rescale()
    {
        const RECT r = pixelRect(m_rect);
        MoveWindow(hwnd(), r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
        SendMessageW(hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(defaultFont()), TRUE);
    }

protected:
    // Lets the control be found from its window.
    void adopt(HWND hwnd)
    {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }

private:
    Twips m_rect;
};

class Win32Label final : public tk::Label, public Native {
public:
    Win32Label(HWND parent, const std::string& name, const std::string& caption, const Twips& rect,
               std::weak_ptr<const void> life)
        : tk::Label(name, std::move(life)), Native(rect),
          m_hwnd(createChild(L"STATIC", widen(caption), SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_NOTIFY,
                             0, parent, rect)),
          m_fore(fromColorRef(GetSysColor(COLOR_BTNTEXT))),
          m_back(fromColorRef(GetSysColor(COLOR_BTNFACE)))
    {
        adopt(m_hwnd);
    }

    HWND hwnd() const override { return m_hwnd; }
    std::string caption() const override { return narrow(windowText(m_hwnd)); }
    void setCaption(const std::string& caption) override
    {
        // Repainting an unchanged caption twice a second is wasted work.
        const std::wstring text = widen(caption);
        if (text != windowText(m_hwnd))
            SetWindowTextW(m_hwnd, text.c_str());
    }
    std::string tip() const override { return m_tip; }
    void setTip(const std::string& tip) override
    {
        if (tip == m_tip)
            return;
        m_tip = tip;
        if (!m_tooltip) {
            m_tooltip = check(CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                              0, 0, 0, 0, GetParent(m_hwnd), nullptr,
                                              GetModuleHandleW(nullptr), nullptr),
                              "CreateWindowExW");
        }
        m_tipText = widen(tip);
        TOOLINFOW info{};
        info.cbSize = sizeof info;
        info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        info.hwnd = GetParent(m_hwnd);
        info.uId = reinterpret_cast<UINT_PTR>(m_hwnd);
        info.lpszText = m_tipText.data();
        if (!m_tipAdded)
            m_tipAdded = SendMessageW(m_tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
        else
            SendMessageW(m_tooltip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
    }
    Color foreColor() const override { return m_fore; }
    void setForeColor(Color color) override
    {
        m_fore = color;
        InvalidateRect(m_hwnd, nullptr, TRUE);
    }
    Color backColor() const override { return m_back; }
    void setBackColor(Color color) override
    {
        m_back = color;
        m_brush.reset();
        InvalidateRect(m_hwnd, nullptr, TRUE);
    }
    bool isOpaque() const override { return m_opaque; }
    void setOpaque(bool opaque) override
    {
        m_opaque = opaque;
        InvalidateRect(m_hwnd, nullptr, TRUE);
    }
    void setCentred(bool centred) override
    {
        LONG_PTR style = GetWindowLongPtrW(m_hwnd, GWL_STYLE) & ~(SS_TYPEMASK);
        style |= centred ? SS_CENTER : SS_LEFTNOWORDWRAP;
        SetWindowLongPtrW(m_hwnd, GWL_STYLE, style);
        InvalidateRect(m_hwnd, nullptr, TRUE);
    }
    void setPointer(Pointer pointer) override { m_pointer = pointer; }
    Pointer pointer() const { return m_pointer; }
    void onClick(Handler handler) override { m_click = std::move(handler); }
    void click() override
    {
        if (m_click)
            dispatch(m_click);
    }

    // The colours a paint of the label asks its form for.
    HBRUSH paint(HDC dc, HBRUSH formBrush)
    {
        SetTextColor(dc, toColorRef(m_fore));
        if (!m_opaque) {
            SetBkMode(dc, TRANSPARENT);
            return formBrush;
        }
        SetBkColor(dc, toColorRef(m_back));
        if (!m_brush)
            m_brush.reset(CreateSolidBrush(toColorRef(m_back)));
        return m_brush.get();
    }

private:
    HWND m_hwnd;
    Color m_fore;
    Color m_back;
    bool m_opaque = false;
    Pointer m_pointer = Pointer::Default;
    Brush m_brush;
    std::string m_tip;
    std::wstring m_tipText;
    HWND m_tooltip = nullptr;
    bool m_tipAdded = false;
    Handler m_click;
};

class Win32Button final : public tk::CommandButton, public Native {
public:
    Win32Button(HWND parent, const std::string& name, const std::string& caption, const Twips& rect,
                std::weak_ptr<const void> life, HWND* focus)
        : tk::CommandButton(name, std::move(life)), Native(rect),
          m_hwnd(
              createChild(L"BUTTON", widen(caption), BS_PUSHBUTTON | WS_TABSTOP, 0, parent, rect)),
          m_focus(focus)
    {
        adopt(m_hwnd);
    }

    HWND hwnd() const override { return m_hwnd; }
    std::string caption() const override { return narrow(windowText(m_hwnd)); }
    void onClick(Handler handler) override { m_click = std::move(handler); }
    void click() override
    {
        if (m_click)
            dispatch(m_click);
    }
    void setFocus() override
    {
        // A hidden or inactive window gets its focus when it is activated.
        *m_focus = m_hwnd;
        if (GetActiveWindow() == GetParent(m_hwnd))
            SetFocus(m_hwnd);
    }
    bool hasFocus() const override
    {
        return GetFocus() == m_hwnd ||
               (*m_focus == m_hwnd && GetActiveWindow() != GetAncestor(m_hwnd, GA_ROOT));
    }

private:
    HWND m_hwnd;
    HWND* m_focus;
    Handler m_click;
};

class Win32Shape final : public tk::Shape, public Native {
public:
    Win32Shape(HWND parent, const std::string& name, const Twips& rect,
               std::weak_ptr<const void> life)
        : tk::Shape(name, std::move(life)), Native(rect),
          m_hwnd(createChild(kShapeClass, L"", 0, WS_EX_TRANSPARENT, parent, rect))
    {
        adopt(m_hwnd);
        outlineOnly(m_hwnd);
    }
    HWND hwnd() const override { return m_hwnd; }
    void rescale() override
    {
        Native::rescale();
        outlineOnly(m_hwnd);
    }

private:
    HWND m_hwnd;
};

class Win32Image final : public tk::Image, public Native {
public:
    Win32Image(HWND parent, const std::string& name, const Picture& picture, const Twips& rect,
               std::weak_ptr<const void> life)
        : tk::Image(name, std::move(life)), Native(rect),
          m_hwnd(createChild(L"STATIC", L"", SS_ICON | SS_REALSIZEIMAGE, 0, parent, rect))
    {
        adopt(m_hwnd);
        SendMessageW(m_hwnd, STM_SETICON, reinterpret_cast<WPARAM>(iconOf(picture, 32)), 0);
    }
    HWND hwnd() const override { return m_hwnd; }

private:
    HWND m_hwnd;
};

class Win32Timer final : public tk::Timer {
public:
    Win32Timer(HWND owner, UINT_PTR id, const std::string& name, int intervalMs, bool enabled,
               std::weak_ptr<const void> life)
        : tk::Timer(name, std::move(life), intervalMs, enabled), m_owner(owner), m_id(id)
    {
    }
    ~Win32Timer() override { stop(); }

    bool running() const override { return m_running; }
    UINT_PTR id() const { return m_id; }

protected:
    void start() override
    {
        check(SetTimer(m_owner, m_id, static_cast<UINT>(interval()), nullptr), "SetTimer");
        m_running = true;
    }
    void stop() override
    {
        if (m_running)
            KillTimer(m_owner, m_id);
        m_running = false;
    }

private:
    HWND m_owner;
    UINT_PTR m_id;
    bool m_running = false;
};

} // namespace tk::win32
