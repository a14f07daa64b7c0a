#include "controls.h"
#include "layershell.h"
#include "qt.h"

#include "toolkit/backend.h"
#include "toolkit/base/error.h"
#include "toolkit/dispatch.h"
#include "toolkit/screen.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>
#include <QVBoxLayout>
#include <QWindow>
#include <qpa/qplatformwindow.h>

#include <cmath>

namespace tk::qt {
namespace {

Qt::WindowFlags flagsFor(const Design& design)
{
    Qt::WindowFlags flags = Qt::Window;
    switch (design.border) {
    case Border::None:
        flags |= Qt::FramelessWindowHint;
        break;
    case Border::FixedSingle:
        flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;
        break;
    case Border::Sizable:
        break;
    }
    // A tool window is how both X11 and Windows keep a window off the taskbar.
    if (!design.taskbarButton)
        flags = (flags & ~Qt::Window) | Qt::Tool;
    // A borderless window off the taskbar is placed and moved by the program
    // alone. Window managers keep managed windows inside the screen (KWin and
    // Mutter do not move them at all, Xfwm4, Openbox, IceWM and i3 stop them
    // short of the edge), so only an unmanaged window can slide below it.
    if (backend::placedByProgram(design))
        flags |= Qt::X11BypassWindowManagerHint;
    return flags;
}

// The native window of a loaded form. It outlives its form's load when the
// unload comes from one of its own handlers, so it asks the form nothing
// once the load it belongs to is over.
class FormWindow final : public QWidget {
public:
    FormWindow(Form& form, Qt::WindowFlags flags, std::weak_ptr<const void> life)
        : QWidget(nullptr, flags), m_form(form), m_life(std::move(life))
    {
    }

protected:
    void closeEvent(QCloseEvent* event) override
    {
        // The form decides what a close request means, and when it goes.
        event->ignore();
        if (!m_life.expired())
            dispatch([this] { m_form.closeRequested(); });
    }

    bool event(QEvent* event) override
    {
        // A window is centred before the window manager has framed it; each
        // time the frame is known anew, the form centres the frame. Only
        // geometry events are looked at: others may delete the window
        // (deleteLater) while they are handled.
        const QEvent::Type type = event->type();
        const bool geometry = type == QEvent::Move || type == QEvent::Resize ||
                              type == QEvent::Show || type == frameChangedEvent();
        const bool handled = QWidget::event(event);
        if (geometry && !m_life.expired() && isVisible()) {
            const QSize frame = frameGeometry().size();
            if (frame != size() && frame != m_frame) {
                m_frame = frame;
                m_form.framed();
            }
        }
        return handled;
    }

private:
    Form& m_form;
    std::weak_ptr<const void> m_life;
    QSize m_frame; // as the form last heard of it
};

class QtWindow final : public backend::NativeWindow {
public:
    QtWindow(Form& form, const Design& design, std::weak_ptr<const void> life)
        : m_design(design), m_life(life), m_window(new FormWindow(form, flagsFor(design), life))
    {
        if (backend::placedByProgram(design) && onLayerShell()) {
            m_window->setAttribute(Qt::WA_ShowWithoutActivating);
            m_window->winId();
            makeLayerSurface(*m_window->windowHandle());
            m_layer = true;
        } else if (backend::placedByProgram(design)) {
            // Showing it must not take the keyboard from the window in use;
            // a click gives it (focusOnClick()).
            m_window->setAttribute(Qt::WA_ShowWithoutActivating);
        }
        m_window->setObjectName(QString::fromStdString(design.name));
        m_window->setWindowTitle(QString::fromStdString(design.caption));
        if (!design.icon.isNull())
            m_window->setWindowIcon(iconOf(design.icon));
        if (design.background) {
            QPalette p = m_window->palette();
            p.setColor(QPalette::Window, toQColor(*design.background));
            m_window->setPalette(p);
            m_window->setAutoFillBackground(true);
        }
        const Screen& s = screen();
        const QSize client(s.toPixels(design.clientWidth), s.toPixelsY(design.clientHeight));
        m_client = m_window.get();
        int menuHeight = 0;
        if (!design.menus.empty()) {
            auto* layout = new QVBoxLayout(m_window.get());
            layout->setContentsMargins(0, 0, 0, 0);
            layout->setSpacing(0);
            auto* bar = new QMenuBar(m_window.get());
            bar->setObjectName(QStringLiteral("menuBar"));
            for (const Menu& m : design.menus) {
                QMenu* menu = bar->addMenu(QString::fromStdString(m.caption));
                menu->setObjectName(QString::fromStdString(m.name));
                for (const MenuItem& item : m.items)
                    menu->addAction(QString::fromStdString(item.caption))
                        ->setObjectName(QString::fromStdString(item.name));
            }
            layout->setMenuBar(bar);
            m_client = new QWidget(m_window.get());
            m_client->setObjectName(QStringLiteral("client"));
            layout->addWidget(m_client);
            menuHeight = bar->sizeHint().height();
        }
        const QSize size(client.width(), client.height() + menuHeight);
        if (design.border == Border::FixedSingle)
            m_window->setFixedSize(size);
        else
            m_window->resize(size);
    }

    ~QtWindow() override = default;

    QWidget& widget() const { return *m_window; }

    WindowHandle handle() const override { return static_cast<WindowHandle>(m_window->winId()); }

    Pixels position() const override
    {
        if (m_layer)
            return m_at;
        const QPoint at = m_window->pos() - origin();
        return {at.x(), at.y()};
    }

    Pixels frameSize() const override
    {
        const QSize size = m_window->frameGeometry().size();
        return {size.width(), size.height()};
    }

    void moveTo(float leftTwips, float topTwips) override
    {
        const Pixels at = pixelsFor(leftTwips, topTwips);
        if (m_layer) {
            // Placed by its distance from the corner it is anchored to: the
            // compositor knows where the panels are, the program does not.
            m_at = at;
            const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
            const QSize frame = m_window->frameGeometry().size();
            placeLayerSurface(*m_window->windowHandle(), screen.width() - (at.x + frame.width()),
                              screen.height() - (at.y + frame.height()));
            // A margin takes effect with the surface's next commit, which
            // only a new frame brings.
            m_window->update();
            park();
            return;
        }
        m_window->move(origin() + QPoint(at.x, at.y));
        park();
        // Qt moves a hidden widget's window only when it is shown again; an
        // unmapped popup's window follows now, so that nothing reads a stale
        // place.
        QWindow* handle = m_window->windowHandle();
        if (m_shown && !m_window->isVisible() && handle && handle->position() != m_window->pos())
            handle->setPosition(m_window->pos());
        alignRightEdge(leftTwips);
    }

    Pixels pixelsFor(float leftTwips, float topTwips) const override
    {
        return backend::framePosition(m_design, leftTwips, topTwips,
                                      m_window->frameGeometry().width());
    }

    void show() override
    {
        m_shown = true;
        m_window->show();
        park();
    }
    void hide() override
    {
        m_shown = false;
        m_window->hide();
    }
    void raise() override { m_window->raise(); }
    bool isVisible() const override
    {
        return backend::placedByProgram(m_design) ? m_shown : m_window->isVisible();
    }

    bool hasTaskbarEntry() const override
    {
        if (m_layer)
            return false;
        // What Qt's xcb and Windows backends turn into a skip-taskbar state
        // or an extended tool-window style, or an unmanaged window.
        const Qt::WindowFlags flags = m_window->windowFlags();
        return m_window->isWindow() && (flags & Qt::WindowType_Mask) != Qt::Tool &&
               !(flags & Qt::X11BypassWindowManagerHint);
    }

    Label& addLabel(const std::string& name, const std::string& caption, const Twips& rect) override
    {
        return *new QtLabel(m_client, name, caption, rect, m_life);
    }

    CommandButton& addButton(const std::string& name, const std::string& caption,
                             const Twips& rect) override
    {
        return *new QtButton(m_client, name, caption, rect, m_life);
    }

    Shape& addShape(const std::string& name, const Twips& rect) override
    {
        return *new QtShape(m_client, name, rect, m_life);
    }

    Image& addImage(const std::string& name, const Picture& picture, const Twips& rect) override
    {
        return *new QtImage(m_client, name, picture, rect, m_life);
    }

    Timer& addTimer(const std::string& name, int intervalMs, bool enabled) override
    {
        return *new QtTimer(m_window.get(), name, intervalMs, enabled, m_life);
    }

    void stackFrontToBack(std::initializer_list<const Control*> controls) override
    {
        for (auto it = std::rbegin(controls); it != std::rend(controls); ++it)
            widgetOf(**it).raise();
    }

    void bringToFront(const Control& control) override { widgetOf(control).raise(); }

    void setTabOrder(std::initializer_list<const Control*> controls) override
    {
        const Control* previous = nullptr;
        for (const Control* control : controls) {
            if (previous)
                QWidget::setTabOrder(&widgetOf(*previous), &widgetOf(*control));
            previous = control;
        }
    }

    void haltTimers() override
    {
        for (QtTimer* timer : m_window->findChildren<QtTimer*>())
            timer->halt();
    }

private:
    void park()
    {
        const int top = m_layer ? m_at.y : m_window->y() - origin().y();
        // Wholly hidden, a layer surface gets no frame callbacks, so a margin
        // set then would never be applied: it is unmapped too, and mapped
        // again with its new margin.
        switch (backend::parking(m_design, m_shown, m_window->isVisible(), top,
                                 QGuiApplication::primaryScreen()->geometry().height())) {
        case backend::Parking::Unmap:
            // Unmapping the window that has the keyboard would leave it with
            // no window at all.
            if (m_window->isActiveWindow())
                giveKeyboardBack();
            m_window->hide();
            break;
        case backend::Parking::Map:
            m_window->show();
            break;
        case backend::Parking::Stay:
            break;
        }
    }

    void alignRightEdge(float leftTwips)
    {
        // At a fractional scale Qt rounds a window's position and size to
        // device pixels one by one, and the popup's right edge lands a pixel
        // past the screen's at 150 %. A window the program places itself has
        // its right edge put where its twips say, in device pixels.
        if (!backend::placedByProgram(m_design))
            return;
        QWindow* handle = m_window->windowHandle();
        QPlatformWindow* native = handle ? handle->handle() : nullptr;
        const qreal dpr = handle ? handle->devicePixelRatio() : 1;
        if (!native || dpr == std::floor(dpr))
            return;
        const Screen& s = screen();
        const float width = backend::frameWidthTwips(m_design, m_window->frameGeometry().width());
        const qreal logicalRight = origin().x() + (leftTwips + width) / s.twipsPerPixelX();
        QRect geometry = native->geometry();
        geometry.moveLeft(qRound(logicalRight * dpr) - geometry.width());
        if (geometry != native->geometry())
            native->setGeometry(geometry);
    }

    Design m_design;
    std::weak_ptr<const void> m_life;
    // Deleted later: the handler that asked for the unload may still be
    // running inside one of this window's controls. So is a window whose
    // construction failed half way.
    struct DeleteLater {
        void operator()(QWidget* window) const { window->deleteLater(); }
    };
    std::unique_ptr<FormWindow, DeleteLater> m_window;
    QWidget* m_client;
    bool m_shown = false;
    bool m_layer = false; // a layer surface on Wayland, placed by its margins
    Pixels m_at{};        // where a layer surface was put
};

} // namespace

QWidget& widgetOf(const Form& form)
{
    return static_cast<const QtWindow&>(form.native()).widget();
}

QWidget& widgetOf(const Control& control)
{
    // Every control of this backend is a widget, except timers.
    auto* widget = dynamic_cast<QWidget*>(const_cast<Control*>(&control));
    if (!widget)
        throw Error(Status::InvalidCall, control.name() + " is not a window");
    return *widget;
}

} // namespace tk::qt

namespace tk::backend {

std::unique_ptr<NativeWindow> createWindow(Form& form, const Design& design,
                                           std::weak_ptr<const void> life)
{
    return std::make_unique<qt::QtWindow>(form, design, std::move(life));
}

} // namespace tk::backend
