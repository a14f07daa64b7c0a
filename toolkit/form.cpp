#include "form.h"
#include "backend.h"
#include "base/error.h"
#include "dispatch.h"
#include "screen.h"

#include <algorithm>
#include <vector>

namespace tk {
namespace {

std::vector<Form*>& allForms()
{
    static std::vector<Form*> forms;
    return forms;
}

} // namespace

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
    auto life = std::make_shared<int>(0);
    m_window = backend::createWindow(*this, m_design, life);
    m_life = std::move(life);
    try {
        build();
        if (m_design.placement == Placement::Stored) {
            m_left = m_design.left;
            m_top = m_design.top;
            moveNative();
        }
    } catch (...) {
        // Not loaded, and no window left of it.
        m_life.reset();
        m_window.reset();
        m_left.reset();
        m_top.reset();
        throw;
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
        // Centred again once the window system has framed it.
        m_centred = true;
    }
    m_window->show();
    if (m_left)
        moveNative();
}

void Form::unload()
{
    if (!m_window)
        return;
    onUnload();
    if (!m_window)
        return;
    m_window->haltTimers();
    m_window->hide();
    m_life.reset();
    // The handler that asked for the unload may still be running inside one
    // of this window's controls; the backend frees them once it is done.
    m_window.reset();
    m_left.reset();
    m_top.reset();
    m_centred = false;
    formUnloaded();
}

bool Form::isVisible() const
{
    return m_window && m_window->isVisible();
}

backend::NativeWindow& Form::native() const
{
    if (!m_window)
        throwObjectUnloaded();
    return *m_window;
}

float Form::left() const
{
    const Screen& s = screen();
    const int x = native().position().x;
    if (m_left && native().pixelsFor(*m_left, m_top.value_or(0)).x == x)
        return *m_left;
    return checked(static_cast<float>(x) * s.twipsPerPixelX());
}

float Form::top() const
{
    const Screen& s = screen();
    const int y = native().position().y;
    if (m_top && native().pixelsFor(m_left.value_or(0), *m_top).y == y)
        return *m_top;
    return checked(static_cast<float>(y) * s.twipsPerPixelY());
}

void Form::setLeft(float twips)
{
    native();
    m_left = checked(twips);
    if (!m_top)
        m_top = top();
    moveNative();
}

void Form::setTop(float twips)
{
    native();
    m_top = checked(twips);
    if (!m_left)
        m_left = left();
    moveNative();
}

float Form::width() const
{
    const Screen& s = screen();
    const int px = native().frameSize().x;
    if (m_design.border == Border::None && s.toPixels(m_design.clientWidth) == px)
        return m_design.clientWidth;
    return checked(static_cast<float>(px) * s.twipsPerPixelX());
}

float Form::height() const
{
    const Screen& s = screen();
    const int px = native().frameSize().y;
    if (m_design.border == Border::None && s.toPixelsY(m_design.clientHeight) == px)
        return m_design.clientHeight;
    return checked(static_cast<float>(px) * s.twipsPerPixelY());
}

WindowHandle Form::hWnd() const
{
    return native().handle();
}

bool Form::hasTaskbarEntry() const
{
    return native().hasTaskbarEntry();
}

void Form::deliverMouseMove(int button, int shift, float x, float y)
{
    dispatch([=, this] { onMouseMove(button, shift, x, y); });
}

Form* Form::fromHandle(WindowHandle hWnd)
{
    for (Form* form : allForms()) {
        if (form->m_window && form->m_window->handle() == hWnd)
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

void Form::framed()
{
    if (m_centred && isVisible())
        centre();
}

void Form::rescaled()
{
    if (m_window && (m_left || m_top))
        moveNative();
}

Label& Form::addLabel(const std::string& name, const std::string& caption, const Twips& rect)
{
    return native().addLabel(name, caption, rect);
}

CommandButton& Form::addButton(const std::string& name, const std::string& caption,
                               const Twips& rect)
{
    return native().addButton(name, caption, rect);
}

Shape& Form::addShape(const std::string& name, const Twips& rect)
{
    return native().addShape(name, rect);
}

Image& Form::addImage(const std::string& name, const Picture& picture, const Twips& rect)
{
    return native().addImage(name, picture, rect);
}

Timer& Form::addTimer(const std::string& name, int intervalMs, bool enabled)
{
    return native().addTimer(name, intervalMs, enabled);
}

void Form::stackFrontToBack(std::initializer_list<const Control*> controls)
{
    native().stackFrontToBack(controls);
}

void Form::bringToFront(const Control& control)
{
    native().bringToFront(control);
}

void Form::setTabOrder(std::initializer_list<const Control*> controls)
{
    native().setTabOrder(controls);
}

void Form::moveNative()
{
    m_window->moveTo(m_left.value_or(0), m_top.value_or(0));
}

void Form::centre()
{
    const Screen& s = screen();
    const Pixels size = m_window->frameSize();
    const int x = (s.toPixels(s.width()) - size.x) / 2;
    const int y = (s.toPixelsY(s.height()) - size.y) / 2;
    m_window->moveTo(static_cast<float>(x) * s.twipsPerPixelX(),
                     static_cast<float>(y) * s.twipsPerPixelY());
}

bool backend::placedByProgram(const Design& design)
{
    return design.border == Border::None && !design.taskbarButton;
}

backend::Parking backend::parking(const Design& design, bool shown, bool mapped, int topPixels,
                                  int screenPixels)
{
    if (!placedByProgram(design) || !shown)
        return Parking::Stay;
    const bool below = topPixels >= screenPixels;
    if (below && mapped)
        return Parking::Unmap;
    if (!below && !mapped)
        return Parking::Map;
    return Parking::Stay;
}

float backend::frameWidthTwips(const Design& design, int framePixels)
{
    const Screen& s = screen();
    if (s.toPixels(design.clientWidth) == framePixels)
        return design.clientWidth;
    return static_cast<float>(framePixels) * s.twipsPerPixelX();
}

Pixels backend::framePosition(const Design& design, float leftTwips, float topTwips,
                              int framePixels)
{
    const Screen& s = screen();
    int x = s.toPixels(leftTwips);
    if (placedByProgram(design))
        x = s.toPixels(leftTwips + frameWidthTwips(design, framePixels)) - framePixels;
    return {x, s.toPixelsY(topTwips)};
}

} // namespace tk
