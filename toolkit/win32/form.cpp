#include "win32.h"

#include "toolkit/backend.h"
#include "toolkit/dispatch.h"
#include "toolkit/error.h"
#include "toolkit/library.h"
#include "toolkit/screen.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <map>
#include <memory>
#include <vector>

namespace tk::win32 {
namespace {

const wchar_t kFormClass[] = L"KelvaneForm";
const wchar_t kShapeClass[] = L"KelvaneShape";

using backend::placedByProgram;

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

// Only the one-pixel outline belongs to a shape's window: whatever lies
// inside shows, and takes the clicks.
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

// A form's window and its controls. Freed after the event that unloaded the
// form, since that event may be running inside one of the controls.
struct WindowState {
    Form& form;
    Design design;
    std::weak_ptr<const void> life;
    HWND hwnd = nullptr;
    Brush background;
    HWND focus = nullptr;
    // Whether the form is shown, although out of sight below the screen.
    bool shown = false;
    // Another program's window that was in front when a click activated
    // this one.
    HWND before = nullptr;
    std::vector<std::unique_ptr<tk::Control>> controls;
    std::map<UINT_PTR, Win32Timer*> timers;

    WindowState(Form& f, const Design& d, std::weak_ptr<const void> l)
        : form(f), design(d), life(std::move(l))
    {
        all().push_back(this);
    }
    ~WindowState()
    {
        std::erase(all(), this);
        controls.clear();
        if (hwnd)
            DestroyWindow(hwnd);
    }

    bool alive() const { return !life.expired(); }

    static std::vector<WindowState*>& all()
    {
        static std::vector<WindowState*> states;
        return states;
    }

    // The window and its controls at the screen's new resolution; a window
    // the program placed keeps its twips.
    void rescale()
    {
        const Screen& s = screen();
        const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE));
        const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE));
        RECT r{0, 0, s.toPixels(design.clientWidth), s.toPixelsY(design.clientHeight)};
        AdjustWindowRectEx(&r, style, GetMenu(hwnd) != nullptr, exStyle);
        SetWindowPos(hwnd, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        for (const auto& c : controls)
            if (auto* native = dynamic_cast<Native*>(c.get()))
                native->rescale();
        if (alive())
            form.rescaled();
        InvalidateRect(hwnd, nullptr, TRUE);
    }

    // A control of this form, of this kind, from its window.
    template <class T> T* find(HWND child) const
    {
        if (!child || GetParent(child) != hwnd)
            return nullptr;
        return dynamic_cast<T*>(Native::of(child));
    }
};

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

LRESULT CALLBACK formProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* state = reinterpret_cast<WindowState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!state)
        return DefWindowProcW(hwnd, message, wParam, lParam);

    switch (message) {
    case WM_CLOSE:
        // The form decides what a close request means, and when it goes.
        if (state->alive())
            dispatch([state] { state->form.closeRequested(); });
        return 0;
    case WM_ERASEBKGND: {
        RECT r{};
        if (GetClientRect(hwnd, &r))
            FillRect(reinterpret_cast<HDC>(wParam), &r, state->background.get());
        return 1;
    }
    case WM_CTLCOLORSTATIC:
        if (auto* label = state->find<Win32Label>(reinterpret_cast<HWND>(lParam)))
            return reinterpret_cast<LRESULT>(
                label->paint(reinterpret_cast<HDC>(wParam), state->background.get()));
        SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        return reinterpret_cast<LRESULT>(state->background.get());
    case WM_SETCURSOR:
        if (auto* label = state->find<Win32Label>(reinterpret_cast<HWND>(wParam));
            label && label->pointer() == Pointer::SizeAll) {
            SetCursor(LoadCursorW(nullptr, IDC_SIZEALL));
            return TRUE;
        }
        break;
    case WM_COMMAND:
        if (!state->alive() || !lParam)
            return 0;
        if (auto* label = state->find<Win32Label>(reinterpret_cast<HWND>(lParam));
            label && HIWORD(wParam) == STN_CLICKED)
            label->click();
        else if (auto* button = state->find<Win32Button>(reinterpret_cast<HWND>(lParam));
                 button && HIWORD(wParam) == BN_CLICKED)
            button->click();
        return 0;
    case WM_TIMER:
        if (!state->alive())
            return 0;
        if (const auto timer = state->timers.find(wParam); timer != state->timers.end())
            timer->second->tick();
        return 0;
    case WM_MOUSEMOVE: {
        // The notification area's callback comes this way too, with the
        // mouse message where a real move has its X.
        if (!state->alive())
            return 0;
        const Screen& s = screen();
        const int button = ((wParam & MK_LBUTTON) ? 1 : 0) | ((wParam & MK_RBUTTON) ? 2 : 0) |
                           ((wParam & MK_MBUTTON) ? 4 : 0);
        const int shift = ((wParam & MK_SHIFT) ? 1 : 0) | ((wParam & MK_CONTROL) ? 2 : 0);
        state->form.deliverMouseMove(button, shift,
                                     static_cast<float>(GET_X_LPARAM(lParam)) * s.twipsPerPixelX(),
                                     static_cast<float>(GET_Y_LPARAM(lParam)) * s.twipsPerPixelY());
        return 0;
    }
    case WM_DPICHANGED: {
        // Per monitor: the popup's monitor took another scale. Every window
        // is laid out again at it, and the popup goes back to its corner.
        const int dpi = HIWORD(wParam);
        if (dpi > 0 && dpi != currentDpi()) {
            setDpi(dpi);
            for (WindowState* each : WindowState::all())
                each->rescale();
            backend::screenChanged();
        }
        // A window the window system placed goes where it suggests.
        if (!placedByProgram(state->design) && lParam) {
            const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        return 0;
    }
    case WM_MOUSEACTIVATE:
        if (placedByProgram(state->design)) {
            HWND front = GetForegroundWindow();
            DWORD owner = 0;
            GetWindowThreadProcessId(front, &owner);
            if (front && owner != GetCurrentProcessId())
                state->before = front;
        }
        break;
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focused = GetFocus();
            if (focused && IsChild(hwnd, focused))
                state->focus = focused;
        } else if (state->focus) {
            SetFocus(state->focus);
            return 0;
        }
        break;
    default:
        break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void registerClass(const WNDCLASSW& cls)
{
    if (!RegisterClassW(&cls) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        fail("RegisterClassW");
}

void registerClasses()
{
    static const bool registered = [] {
        WNDCLASSW form{};
        form.style = CS_DBLCLKS;
        form.lpfnWndProc = formProc;
        form.hInstance = GetModuleHandleW(nullptr);
        form.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        form.lpszClassName = kFormClass;
        registerClass(form);
        WNDCLASSW shape{};
        shape.lpfnWndProc = shapeProc;
        shape.hInstance = form.hInstance;
        shape.lpszClassName = kShapeClass;
        registerClass(shape);
        // Loaded here, after the library search is restricted, rather than
        // by the loader: common controls bring the theme library with them.
        using Init = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
        const auto init =
            reinterpret_cast<Init>(systemFunction("comctl32.dll", "InitCommonControlsEx"));
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
        init(&controls);
        return true;
    }();
    (void)registered;
}

class Win32Window final : public backend::NativeWindow {
public:
    Win32Window(Form& form, const Design& design, std::weak_ptr<const void> life)
        : m_state(new WindowState(form, design, std::move(life)))
    {
        registerClasses();
        DWORD style = WS_CLIPCHILDREN;
        DWORD exStyle = 0;
        switch (design.border) {
        case Border::None:
            style |= WS_POPUP;
            break;
        case Border::FixedSingle:
            style |= WS_CAPTION | WS_SYSMENU;
            exStyle |= WS_EX_DLGMODALFRAME;
            break;
        case Border::Sizable:
            style |= WS_OVERLAPPEDWINDOW;
            break;
        }
        exStyle |= design.taskbarButton ? WS_EX_APPWINDOW : WS_EX_TOOLWINDOW;
        HMENU menu = design.menus.empty() ? nullptr : check(CreateMenu(), "CreateMenu");
        for (const Menu& m : design.menus) {
            HMENU popup = check(CreatePopupMenu(), "CreatePopupMenu");
            UINT id = 1000;
            for (const MenuItem& item : m.items)
                check(AppendMenuW(popup, MF_STRING, id++, widen(item.caption).c_str()),
                      "AppendMenuW");
            check(AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(popup),
                              widen(m.caption).c_str()),
                  "AppendMenuW");
        }
        const Screen& s = screen();
        RECT r{0, 0, s.toPixels(design.clientWidth), s.toPixelsY(design.clientHeight)};
        check(AdjustWindowRectEx(&r, style, menu != nullptr, exStyle), "AdjustWindowRectEx");
        const bool byDefault = design.placement == Placement::WindowsDefault;
        m_state->background.reset(
            check(CreateSolidBrush(design.background ? toColorRef(*design.background)
                                                     : GetSysColor(COLOR_BTNFACE)),
                  "CreateSolidBrush"));
        m_state->hwnd =
            check(CreateWindowExW(exStyle, kFormClass, widen(design.caption).c_str(), style,
                                  byDefault ? CW_USEDEFAULT : 0, byDefault ? CW_USEDEFAULT : 0,
                                  r.right - r.left, r.bottom - r.top, nullptr, menu,
                                  GetModuleHandleW(nullptr), m_state),
                  "CreateWindowExW");
        if (!design.icon.isNull()) {
            SendMessageW(m_state->hwnd, WM_SETICON, ICON_BIG,
                         reinterpret_cast<LPARAM>(iconOf(design.icon, 32)));
            SendMessageW(m_state->hwnd, WM_SETICON, ICON_SMALL,
                         reinterpret_cast<LPARAM>(iconOf(design.icon, 16)));
        }
    }

    ~Win32Window() override
    {
        ShowWindow(m_state->hwnd, SW_HIDE);
        WindowState* state = m_state;
        backend::postToLoop([state] { delete state; });
    }

    HWND hwnd() const { return m_state->hwnd; }

    WindowHandle handle() const override { return reinterpret_cast<WindowHandle>(hwnd()); }

    Pixels position() const override
    {
        const RECT r = windowRect();
        return {r.left, r.top};
    }

    Pixels frameSize() const override
    {
        const RECT r = windowRect();
        return {r.right - r.left, r.bottom - r.top};
    }

    void moveTo(float leftTwips, float topTwips) override
    {
        const Pixels at = pixelsFor(leftTwips, topTwips);
        check(SetWindowPos(hwnd(), nullptr, at.x, at.y, 0, 0,
                           SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE),
              "SetWindowPos");
        park();
    }

    Pixels pixelsFor(float leftTwips, float topTwips) const override
    {
        return backend::framePosition(m_state->design, leftTwips, topTwips, frameSize().x);
    }

    void show() override
    {
        m_state->shown = true;
        // The popup never takes the keyboard from the window in use.
        ShowWindow(hwnd(), placedByProgram(m_state->design) ? SW_SHOWNOACTIVATE : SW_SHOW);
        if (!placedByProgram(m_state->design))
            SetForegroundWindow(hwnd());
        park();
    }
    void hide() override
    {
        m_state->shown = false;
        ShowWindow(hwnd(), SW_HIDE);
    }
    void raise() override
    {
        if (placedByProgram(m_state->design))
            check(SetWindowPos(hwnd(), HWND_TOP, 0, 0, 0, 0,
                               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE),
                  "SetWindowPos");
        else
            SetForegroundWindow(hwnd());
    }
    bool isVisible() const override
    {
        if (placedByProgram(m_state->design))
            return m_state->shown;
        return IsWindowVisible(hwnd()) != FALSE;
    }

    bool hasTaskbarEntry() const override
    {
        // What the shell's taskbar lists: unowned windows that are not tool
        // windows, and any that ask for a button.
        const LONG_PTR ex = GetWindowLongPtrW(hwnd(), GWL_EXSTYLE);
        if (ex & WS_EX_APPWINDOW)
            return true;
        return !(ex & WS_EX_TOOLWINDOW) && GetWindow(hwnd(), GW_OWNER) == nullptr;
    }

    Label& addLabel(const std::string& name, const std::string& caption, const Twips& rect) override
    {
        return add(std::make_unique<Win32Label>(hwnd(), name, caption, rect, m_state->life));
    }
    CommandButton& addButton(const std::string& name, const std::string& caption,
                             const Twips& rect) override
    {
        return add(std::make_unique<Win32Button>(hwnd(), name, caption, rect, m_state->life,
                                                 &m_state->focus));
    }
    Shape& addShape(const std::string& name, const Twips& rect) override
    {
        return add(std::make_unique<Win32Shape>(hwnd(), name, rect, m_state->life));
    }
    Image& addImage(const std::string& name, const Picture& picture, const Twips& rect) override
    {
        return add(std::make_unique<Win32Image>(hwnd(), name, picture, rect, m_state->life));
    }
    Timer& addTimer(const std::string& name, int intervalMs, bool enabled) override
    {
        const UINT_PTR id = m_state->controls.size() + 1;
        Win32Timer& timer =
            add(std::make_unique<Win32Timer>(hwnd(), id, name, intervalMs, enabled, m_state->life));
        m_state->timers[id] = &timer;
        return timer;
    }

    void stackFrontToBack(std::initializer_list<const Control*> controls) override
    {
        for (auto it = std::rbegin(controls); it != std::rend(controls); ++it)
            bringToFront(**it);
    }
    void bringToFront(const Control& control) override
    {
        check(SetWindowPos(handleOf(control), HWND_TOP, 0, 0, 0, 0,
                           SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE),
              "SetWindowPos");
    }
    void setTabOrder(std::initializer_list<const Control*> controls) override
    {
        // The dialog manager moves the focus in z-order.
        HWND previous = nullptr;
        for (const Control* control : controls) {
            HWND hwnd = handleOf(*control);
            check(SetWindowPos(hwnd, previous ? previous : HWND_TOP, 0, 0, 0, 0,
                               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE),
                  "SetWindowPos");
            previous = hwnd;
        }
    }
    void haltTimers() override
    {
        for (const auto& [id, timer] : m_state->timers)
            timer->halt();
    }

private:
    RECT windowRect() const
    {
        RECT r{};
        check(GetWindowRect(hwnd(), &r), "GetWindowRect");
        return r;
    }

    // A shown window the program has moved entirely below the primary
    // monitor is hidden, so that it shows on no monitor below that one, and
    // shown again as soon as it comes back up; its place stays as set.
    void park()
    {
        if (!placedByProgram(m_state->design) || !m_state->shown)
            return;
        const bool below = position().y >= GetSystemMetrics(SM_CYSCREEN);
        const bool mapped = IsWindowVisible(hwnd()) != FALSE;
        if (below && mapped) {
            // The keyboard goes back to the program that had it.
            HWND before = m_state->before;
            m_state->before = nullptr;
            if (GetForegroundWindow() == hwnd() && before && IsWindow(before) &&
                IsWindowVisible(before))
                SetForegroundWindow(before);
            ShowWindow(hwnd(), SW_HIDE);
        } else if (!below && !mapped) {
            ShowWindow(hwnd(), SW_SHOWNOACTIVATE);
        }
    }

    template <class T> T& add(std::unique_ptr<T> control)
    {
        T& ref = *control;
        m_state->controls.push_back(std::move(control));
        return ref;
    }

    WindowState* m_state;
};

} // namespace

HWND handleOf(const Form& form)
{
    return reinterpret_cast<HWND>(form.hWnd());
}

HWND handleOf(const Control& control)
{
    if (auto* native = dynamic_cast<const Native*>(&control))
        return native->hwnd();
    throw Error(Status::InvalidCall, control.name() + " is not a window");
}

bool isFormWindow(HWND hwnd)
{
    wchar_t name[32] = {};
    return hwnd && GetClassNameW(hwnd, name, 32) && std::wstring(name) == kFormClass;
}

} // namespace tk::win32

namespace tk::backend {

std::unique_ptr<NativeWindow> createWindow(Form& form, const Design& design,
                                           std::weak_ptr<const void> life)
{
    return std::make_unique<win32::Win32Window>(form, design, std::move(life));
}

} // namespace tk::backend
