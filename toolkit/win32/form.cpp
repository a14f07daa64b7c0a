#include "controls.h"

#include "toolkit/backend.h"
#include "toolkit/base/error.h"
#include "toolkit/base/library.h"
#include "toolkit/dispatch.h"
#include "toolkit/screen.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <map>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

namespace tk::win32 {
namespace {

const wchar_t kFormClass[] = L"KelvaneForm";

using backend::placedByProgram;

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
        // Before the controls: the window's last messages may still reach
        // them.
        if (hwnd)
            DestroyWindow(hwnd);
        controls.clear();
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

// The notification area's callback comes this way too, with the mouse
// message where a real move has its X.
void mouseMoved(WindowState& state, WPARAM wParam, LPARAM lParam)
{
    const Screen& s = screen();
    const int button = ((wParam & MK_LBUTTON) ? 1 : 0) | ((wParam & MK_RBUTTON) ? 2 : 0) |
                       ((wParam & MK_MBUTTON) ? 4 : 0);
    const int shift = ((wParam & MK_SHIFT) ? 1 : 0) | ((wParam & MK_CONTROL) ? 2 : 0);
    state.form.deliverMouseMove(button, shift,
                                static_cast<float>(GET_X_LPARAM(lParam)) * s.twipsPerPixelX(),
                                static_cast<float>(GET_Y_LPARAM(lParam)) * s.twipsPerPixelY());
}

// The form's background, and each label's colours.
LRESULT painted(const WindowState& state, HWND hwnd, UINT message, HDC dc, HWND control)
{
    if (message == WM_ERASEBKGND) {
        RECT r{};
        if (GetClientRect(hwnd, &r))
            FillRect(dc, &r, state.background.get());
        return 1;
    }
    if (auto* label = state.find<Win32Label>(control))
        return reinterpret_cast<LRESULT>(label->paint(dc, state.background.get()));
    SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<LRESULT>(state.background.get());
}

// A click on a label or a button.
void commanded(WindowState& state, int code, HWND control)
{
    if (auto* label = state.find<Win32Label>(control); label && code == STN_CLICKED)
        label->click();
    else if (auto* button = state.find<Win32Button>(control); button && code == BN_CLICKED)
        button->click();
}

// Per monitor: the popup's monitor took another scale. Every window is laid
// out again at it, and the popup goes back to its corner.
void dpiChanged(const WindowState& state, HWND hwnd, int dpi, const RECT* suggested)
{
    if (dpi > 0 && dpi != currentDpi()) {
        setDpi(dpi);
        for (WindowState* each : WindowState::all())
            each->rescale();
        backend::screenChanged();
    }
    // A window the window system placed goes where it suggests.
    if (!placedByProgram(state.design) && suggested)
        SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Another program's window in front, if any: the one a click on the popup
// takes the keyboard from.
HWND otherProgramsForeground()
{
    HWND front = GetForegroundWindow();
    DWORD owner = 0;
    GetWindowThreadProcessId(front, &owner);
    return front && owner != GetCurrentProcessId() ? front : nullptr;
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
    case WM_ERASEBKGND:
    case WM_CTLCOLORSTATIC:
        return painted(*state, hwnd, message, reinterpret_cast<HDC>(wParam),
                       reinterpret_cast<HWND>(lParam));
    case WM_SETCURSOR:
        if (auto* label = state->find<Win32Label>(reinterpret_cast<HWND>(wParam));
            label && label->pointer() == Pointer::SizeAll) {
            SetCursor(LoadCursorW(nullptr, IDC_SIZEALL));
            return TRUE;
        }
        break;
    case WM_COMMAND:
        if (state->alive() && lParam)
            commanded(*state, HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return 0;
    case WM_TIMER:
        if (!state->alive())
            return 0;
        if (const auto timer = state->timers.find(wParam); timer != state->timers.end())
            timer->second->tick();
        return 0;
    case WM_MOUSEMOVE:
        if (state->alive())
            mouseMoved(*state, wParam, lParam);
        return 0;
    case WM_DPICHANGED:
        dpiChanged(*state, hwnd, HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_MOUSEACTIVATE:
        if (!placedByProgram(state->design))
            break;
        if (HWND front = otherProgramsForeground())
            state->before = front;
        break;
    case WM_ACTIVATE:
        // The focus a form had comes back with it.
        if (LOWORD(wParam) != WA_INACTIVE && state->focus) {
            SetFocus(state->focus);
            return 0;
        }
        if (HWND focused = GetFocus(); LOWORD(wParam) == WA_INACTIVE && IsChild(hwnd, focused))
            state->focus = focused;
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

struct MenuDeleter {
    void operator()(HMENU menu) const { DestroyMenu(menu); }
};
using MenuHandle = std::unique_ptr<std::remove_pointer_t<HMENU>, MenuDeleter>;

// A window's menu bar; the caller hands it to the window once made.
MenuHandle menuBar(const Design& design)
{
    if (design.menus.empty())
        return nullptr;
    MenuHandle bar(check(CreateMenu(), "CreateMenu"));
    for (const Menu& m : design.menus) {
        MenuHandle popup(check(CreatePopupMenu(), "CreatePopupMenu"));
        UINT id = 1000;
        for (const MenuItem& item : m.items)
            check(AppendMenuW(popup.get(), MF_STRING, id++, widen(item.caption).c_str()),
                  "AppendMenuW");
        check(AppendMenuW(bar.get(), MF_POPUP, reinterpret_cast<UINT_PTR>(popup.get()),
                          widen(m.caption).c_str()),
              "AppendMenuW");
        popup.release(); // the bar's now
    }
    return bar;
}

class Win32Window final : public backend::NativeWindow {
public:
    Win32Window(Form& form, const Design& design, std::weak_ptr<const void> life)
        : m_state(std::make_shared<WindowState>(form, design, std::move(life)))
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
        MenuHandle menu = menuBar(design);
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
                                  r.right - r.left, r.bottom - r.top, nullptr, menu.get(),
                                  GetModuleHandleW(nullptr), m_state.get()),
                  "CreateWindowExW");
        menu.release(); // the window's now
        if (!design.icon.isNull()) {
            SendMessageW(m_state->hwnd, WM_SETICON, ICON_BIG,
                         reinterpret_cast<LPARAM>(iconOf(design.icon, 32)));
            SendMessageW(m_state->hwnd, WM_SETICON, ICON_SMALL,
                         reinterpret_cast<LPARAM>(iconOf(design.icon, 16)));
        }
    }

    ~Win32Window() override
    {
        // Freed after the event that unloaded the form, which may be running
        // inside one of its controls.
        ShowWindow(m_state->hwnd, SW_HIDE);
        backend::postToLoop([state = std::move(m_state)] {});
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

    void park()
    {
        switch (backend::parking(m_state->design, m_state->shown, IsWindowVisible(hwnd()) != FALSE,
                                 position().y, GetSystemMetrics(SM_CYSCREEN))) {
        case backend::Parking::Unmap: {
            // The keyboard goes back to the program that had it.
            HWND before = std::exchange(m_state->before, nullptr);
            if (GetForegroundWindow() == hwnd() && before && IsWindow(before) &&
                IsWindowVisible(before))
                SetForegroundWindow(before);
            ShowWindow(hwnd(), SW_HIDE);
            break;
        }
        case backend::Parking::Map:
            ShowWindow(hwnd(), SW_SHOWNOACTIVATE);
            break;
        case backend::Parking::Stay:
            break;
        }
    }

    template <class T> T& add(std::unique_ptr<T> control)
    {
        T& ref = *control;
        m_state->controls.push_back(std::move(control));
        return ref;
    }

    std::shared_ptr<WindowState> m_state;
};

} // namespace

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
