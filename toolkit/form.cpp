#include "form.h"
#include "dispatch.h"
#include "error.h"
#include "screen.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>
#include <QWindow>
#include <qpa/qplatformwindow.h>

#include <cmath>

#include <algorithm>
#include <vector>

namespace tk {
namespace {

std::vector<Form*>& allForms()
{
    static std::vector<Form*> forms;
    return forms;
}

bool bypassesWindowManager(const Design& design)
{
    return design.border == Border::None && !design.taskbarButton;
}

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
    if (bypassesWindowManager(design))
        flags |= Qt::X11BypassWindowManagerHint;
    return flags;
}

// Sees every mouse press: a window the window manager does not know gets the
// keyboard focus from nobody but the program.
class FocusOnClick final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::MouseButtonPress || !watched->isWidgetType())
            return false;
        QWidget* window = static_cast<QWidget*>(watched)->window();
        if ((window->windowFlags() & Qt::X11BypassWindowManagerHint) && !window->isActiveWindow())
            window->activateWindow();
        return false;
    }
};

} // namespace

FormWindow::FormWindow(Form& form, Qt::WindowFlags flags) : QWidget(nullptr, flags), m_form(form) {}

void FormWindow::closeEvent(QCloseEvent* event)
{
    // The form decides what a close request means, and when it goes.
    event->ignore();
    dispatch([this] { m_form.closeRequested(); });
}

bool FormWindow::event(QEvent* event)
{
    // A window is centred before the window manager has framed it; once the
    // frame is known, centre the frame. Only geometry events are looked at:
    // others may delete the window (deleteLater) while they are handled.
    const QEvent::Type type = event->type();
    const bool geometry = type == QEvent::Move || type == QEvent::Resize || type == QEvent::Show;
    const bool handled = QWidget::event(event);
    if (geometry && m_form.m_centrePending && isVisible() && frameGeometry().size() != size()) {
        m_form.m_centrePending = false;
        m_form.centre();
    }
    return handled;
}

Form::Form(Design design) : m_design(std::move(design))
{
    allForms().push_back(this);
}

Form::~Form()
{
    std::erase(allForms(), this);
}

void Form::load()
{
    if (m_window)
        return;
    const Screen& s = screen();
    auto window = std::make_unique<FormWindow>(*this, flagsFor(m_design));
    if (bypassesWindowManager(m_design)) {
        // Showing it must not take the keyboard from the window in use.
        window->setAttribute(Qt::WA_ShowWithoutActivating);
        static FocusOnClick* focusOnClick = [] {
            auto* filter = new FocusOnClick;
            filter->setParent(qApp);
            qApp->installEventFilter(filter);
            return filter;
        }();
        Q_UNUSED(focusOnClick);
    }
    window->setObjectName(objectName());
    window->setWindowTitle(m_design.caption);
    if (!m_design.icon.isNull())
        window->setWindowIcon(m_design.icon.icon());
    if (m_design.background) {
        QPalette p = window->palette();
        p.setColor(QPalette::Window, *m_design.background);
        window->setPalette(p);
        window->setAutoFillBackground(true);
    }
    const QSize client(s.toPixels(m_design.clientWidth), s.toPixelsY(m_design.clientHeight));
    if (m_design.border == Border::FixedSingle)
        window->setFixedSize(client);
    else
        window->resize(client);
    m_window = std::move(window);
    build(*m_window);
    if (m_design.placement == Placement::Stored) {
        m_left = m_design.left;
        m_top = m_design.top;
        moveNative();
    }
    formLoaded();
    dispatch([this] { onLoad(); });
}

void Form::show()
{
    load();
    if (!m_window)
        return;
    if (m_window->isVisible()) {
        m_window->raise();
        return;
    }
    if (m_design.placement == Placement::CentreScreen) {
        centre();
        m_centrePending = true;
    }
    m_window->show();
    alignRightEdge();
}

void Form::unload()
{
    if (!m_window)
        return;
    onUnload();
    if (!m_window)
        return;
    for (Timer* timer : m_window->findChildren<Timer*>())
        timer->halt();
    m_window->hide();
    // The handler that asked for the unload may still be running inside one
    // of this window's controls.
    m_window.release()->deleteLater();
    m_left.reset();
    m_top.reset();
    m_centrePending = false;
    formUnloaded();
}

bool Form::isVisible() const
{
    return m_window && m_window->isVisible();
}

FormWindow& Form::window() const
{
    if (!m_window)
        throwObjectUnloaded();
    return *m_window;
}

float Form::left() const
{
    const Screen& s = screen();
    const int x = window().x() - s.origin().x();
    if (m_left && s.toPixels(*m_left) == x)
        return *m_left;
    return checked(static_cast<float>(x) * s.twipsPerPixelX());
}

float Form::top() const
{
    const Screen& s = screen();
    const int y = window().y() - s.origin().y();
    if (m_top && s.toPixelsY(*m_top) == y)
        return *m_top;
    return checked(static_cast<float>(y) * s.twipsPerPixelY());
}

void Form::setLeft(float twips)
{
    window();
    m_left = checked(twips);
    if (!m_top)
        m_top = top();
    moveNative();
}

void Form::setTop(float twips)
{
    window();
    m_top = checked(twips);
    if (!m_left)
        m_left = left();
    moveNative();
}

float Form::width() const
{
    const Screen& s = screen();
    const int px = window().frameGeometry().width();
    if (m_design.border == Border::None && s.toPixels(m_design.clientWidth) == px)
        return m_design.clientWidth;
    return checked(static_cast<float>(px) * s.twipsPerPixelX());
}

float Form::height() const
{
    const Screen& s = screen();
    const int px = window().frameGeometry().height();
    if (m_design.border == Border::None && s.toPixelsY(m_design.clientHeight) == px)
        return m_design.clientHeight;
    return checked(static_cast<float>(px) * s.twipsPerPixelY());
}

quint32 Form::hWnd() const
{
    return static_cast<quint32>(window().winId());
}

void Form::deliverMouseMove(int button, int shift, float x, float y)
{
    dispatch([=, this] { onMouseMove(button, shift, x, y); });
}

Form* Form::fromHandle(quint32 hWnd)
{
    for (Form* form : allForms()) {
        if (form->m_window && static_cast<quint32>(form->m_window->internalWinId()) == hWnd)
            return form;
    }
    return nullptr;
}

void Form::terminate()
{
    unload();
    onTerminate();
}

void Form::onMouseMove(int, int, float, float) {}

void Form::closeRequested()
{
    unload();
}

QMenuBar* Form::addMenuBar(FormWindow& window)
{
    auto* bar = new QMenuBar(&window);
    bar->setObjectName(QStringLiteral("menuBar"));
    return bar;
}

void Form::moveNative()
{
    const Screen& s = screen();
    const QPoint origin = s.origin();
    m_window->move(origin.x() + s.toPixels(m_left.value_or(0)),
                   origin.y() + s.toPixelsY(m_top.value_or(0)));
    alignRightEdge();
}

void Form::alignRightEdge()
{
    // At a fractional scale Qt rounds a window's position and size to device
    // pixels one by one, and the popup's right edge lands a pixel past the
    // screen's at 150 %. A window the program places itself has its right
    // edge put where its twips say, in device pixels.
    if (!bypassesWindowManager(m_design) || !m_left)
        return;
    QWindow* handle = m_window->windowHandle();
    QPlatformWindow* native = handle ? handle->handle() : nullptr;
    const qreal dpr = handle ? handle->devicePixelRatio() : 1;
    if (!native || dpr == std::floor(dpr))
        return;
    const Screen& s = screen();
    const qreal logicalRight = s.origin().x() + (*m_left + width()) / s.twipsPerPixelX();
    QRect geometry = native->geometry();
    geometry.moveLeft(qRound(logicalRight * dpr) - geometry.width());
    if (geometry != native->geometry())
        native->setGeometry(geometry);
}

void Form::centre()
{
    const Screen& s = screen();
    const QSize screenPx(s.toPixels(s.width()), s.toPixelsY(s.height()));
    const QSize size = m_window->frameGeometry().size();
    m_window->move(s.origin().x() + (screenPx.width() - size.width()) / 2,
                   s.origin().y() + (screenPx.height() - size.height()) / 2);
}

} // namespace tk
