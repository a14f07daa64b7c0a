#pragma once

#include "application.h"
#include "controls.h"
#include "picture.h"
#include "types.h"

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tk {

namespace backend {
class NativeWindow;
}

struct MenuItem {
    std::string name;
    std::string caption;
};

struct Menu {
    std::string name;
    std::string caption;
    std::vector<MenuItem> items;
};

// What a form looks like before its load handler runs.
struct Design {
    std::string name;
    std::string caption;
    Border border = Border::Sizable;
    bool taskbarButton = true;
    Placement placement = Placement::WindowsDefault;
    float left = 0;
    float top = 0;
    float clientWidth = 0;
    float clientHeight = 0;
    std::optional<Color> background;
    Picture icon;
    // A menu bar above the client area, which keeps its design size.
    std::vector<Menu> menus;
};

// A window with one global instance. Loading builds its controls from the
// design and raises the load event; unloading destroys them, and the next
// load starts from the design again.
class Form : public Instance {
public:
    explicit Form(Design design);
    ~Form() override;

    void load();
    void show();
    void unload();
    bool isLoaded() const noexcept { return m_window != nullptr; }
    bool isVisible() const;

    // Outer edges and size in twips, relative to the primary screen.
    float left() const;
    float top() const;
    void setLeft(float twips);
    void setTop(float twips);
    float width() const;
    float height() const;

    WindowHandle hWnd() const;
    const Picture& icon() const { return m_design.icon; }
    const std::string& caption() const { return m_design.caption; }
    const std::string& name() const { return m_design.name; }
    // Whether the window system lists the shown window among the running
    // programs (a taskbar button, a window-list entry).
    bool hasTaskbarEntry() const;

    // Hands a mouse-move event to the form's handler through the dispatch
    // point, as the window system would deliver it.
    void deliverMouseMove(int button, int shift, float x, float y);

    // The form whose window has this handle, if it is loaded.
    static Form* fromHandle(WindowHandle hWnd);

    void terminate() final;

    // The window system asks the window to close (the title bar's close
    // button, Alt+F4): the form unloads unless it says otherwise.
    virtual void closeRequested();

    // The window system has put a frame around the window, or changed it;
    // its outer size is known from now on. A window the program centred is
    // centred again, frame and all, for as long as it is shown.
    void framed();

    // The backend has laid the window out again at the screen's new
    // resolution; a window the program placed goes back to its twips.
    void rescaled();

    // The loaded window, for the backend's own checks; raises an error when
    // the form is not loaded.
    backend::NativeWindow& native() const;

protected:
    // Creates the form's controls on a freshly made window.
    virtual void build() = 0;
    virtual void onLoad() {}
    virtual void onUnload() {}
    virtual void onTerminate() {}
    virtual void onMouseMove(int button, int shift, float x, float y);

    Label& addLabel(const std::string& name, const std::string& caption, const Twips& rect);
    CommandButton& addButton(const std::string& name, const std::string& caption,
                             const Twips& rect);
    Shape& addShape(const std::string& name, const Twips& rect);
    Image& addImage(const std::string& name, const Picture& picture, const Twips& rect);
    Timer& addTimer(const std::string& name, int intervalMs, bool enabled);
    // The first in the list paints over the later ones.
    void stackFrontToBack(std::initializer_list<const Control*> controls);
    void bringToFront(const Control& control);
    void setTabOrder(std::initializer_list<const Control*> controls);

private:
    void moveNative();
    void centre();

    Design m_design;
    std::unique_ptr<backend::NativeWindow> m_window;
    std::shared_ptr<const void> m_life;
    std::optional<float> m_left;
    std::optional<float> m_top;
    bool m_centred = false;
};

} // namespace tk
