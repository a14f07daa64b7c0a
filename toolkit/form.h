#pragma once

#include "application.h"
#include "controls.h"
#include "picture.h"

#include <QColor>
#include <QObject>
#include <QWidget>

#include <memory>
#include <optional>

class QMenuBar;

namespace tk {

enum class Border { None, FixedSingle, Sizable };
enum class Placement { Stored, CentreScreen, WindowsDefault };

// What a form looks like before its load handler runs.
struct Design {
    QString caption;
    Border border = Border::Sizable;
    bool taskbarButton = true;
    Placement placement = Placement::WindowsDefault;
    float left = 0;
    float top = 0;
    float clientWidth = 0;
    float clientHeight = 0;
    std::optional<QColor> background;
    Picture icon;
};

class Form;

// The native window of a loaded form.
class FormWindow final : public QWidget {
    Q_OBJECT
public:
    FormWindow(Form& form, Qt::WindowFlags flags);
    Q_DISABLE_COPY_MOVE(FormWindow)

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    Form& m_form;
};

// A window with one global instance. Loading builds its controls from the
// design and raises the load event; unloading destroys them, and the next
// load starts from the design again.
class Form : public QObject, public Instance {
    Q_OBJECT
public:
    explicit Form(Design design);
    ~Form() override;
    Q_DISABLE_COPY_MOVE(Form)

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

    quint32 hWnd() const;
    const Picture& icon() const { return m_design.icon; }
    QString caption() const { return m_design.caption; }

    // The loaded window; raises an error when the form is not loaded.
    FormWindow& window() const;

    // Hands a mouse-move event to the form's handler through the dispatch
    // point, as the window system would deliver it.
    void deliverMouseMove(int button, int shift, float x, float y);

    // The form whose window has this handle, if it is loaded.
    static Form* fromHandle(quint32 hWnd);

    void terminate() final;

    // The window system asks the window to close (the title bar's close
    // button, Alt+F4): the form unloads unless it says otherwise.
    virtual void closeRequested();

protected:
    // Creates the form's controls on a freshly made window.
    virtual void build(FormWindow& window) = 0;
    virtual void onLoad() {}
    virtual void onUnload() {}
    virtual void onTerminate() {}
    virtual void onMouseMove(int button, int shift, float x, float y);

    QMenuBar* addMenuBar(FormWindow& window);

private:
    void moveNative();
    void alignRightEdge();
    void centre();

    Design m_design;
    std::unique_ptr<FormWindow> m_window;
    std::optional<float> m_left;
    std::optional<float> m_top;
    bool m_centrePending = false;

    friend class FormWindow;
};

} // namespace tk
