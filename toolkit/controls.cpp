#include "controls.h"
#include "dispatch.h"
#include "error.h"
#include "screen.h"

#include <QMouseEvent>
#include <QPainter>

#include <cmath>

namespace tk {

void throwObjectUnloaded()
{
    throw Error(Status::ObjectUnloaded, QStringLiteral("Object was unloaded"));
}

QColor bgr(quint32 value)
{
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

void place(QWidget& control, const Twips& rect)
{
    const Screen& s = screen();
    control.setGeometry(s.toPixels(rect.left), s.toPixelsY(rect.top), s.toPixels(rect.width),
                        s.toPixelsY(rect.height));
}

void stackFrontToBack(std::initializer_list<QWidget*> controls)
{
    for (auto it = std::rbegin(controls); it != std::rend(controls); ++it)
        (*it)->raise();
}

Label::Label(QWidget* parent, const QString& name, const QString& caption, const Twips& rect)
    : QLabel(caption, parent)
{
    setObjectName(name);
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setMargin(0);
    setIndent(0);
    setFocusPolicy(Qt::NoFocus);
    QPalette p = palette();
    p.setColor(QPalette::WindowText, p.color(QPalette::ButtonText));
    setPalette(p);
    place(*this, rect);
}

void Label::setCaption(const QString& caption)
{
    // Repainting an unchanged caption twice a second is wasted work.
    if (caption != text())
        setText(caption);
}

void Label::setTip(const QString& tip)
{
    if (tip != toolTip())
        setToolTip(tip);
}

void Label::setForeColor(const QColor& color)
{
    QPalette p = palette();
    p.setColor(QPalette::WindowText, color);
    setPalette(p);
}

void Label::setBackColor(const QColor& color)
{
    QPalette p = palette();
    p.setColor(QPalette::Window, color);
    setPalette(p);
}

void Label::setOpaque(bool opaque)
{
    setAutoFillBackground(opaque);
}

void Label::setCentred(bool centred)
{
    setAlignment((centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
}

void Label::setPointer(Pointer pointer)
{
    if (pointer == Pointer::SizeAll)
        setCursor(Qt::SizeAllCursor);
    else
        unsetCursor();
}

void Label::onClick(Handler handler)
{
    m_click = std::move(handler);
}

void Label::mousePressEvent(QMouseEvent* event)
{
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

void Label::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = m_pressed && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    m_pressed = false;
    event->accept();
    if (click && m_click)
        dispatch(m_click);
}

CommandButton::CommandButton(QWidget* parent, const QString& name, const QString& caption,
                             const Twips& rect)
    : QPushButton(caption, parent)
{
    setObjectName(name);
    setFocusPolicy(Qt::StrongFocus);
    setAutoDefault(false);
    place(*this, rect);
}

void CommandButton::onClick(Handler handler)
{
    connect(this, &QPushButton::clicked, this, [h = std::move(handler)] { dispatch(h); });
}

Shape::Shape(QWidget* parent, const QString& name, const Twips& rect) : QWidget(parent)
{
    setObjectName(name);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    place(*this, rect);
}

void Shape::paintEvent(QPaintEvent*)
{
    // One device pixel on all four sides, on the device's pixel grid, at any
    // scale: a 1-pixel pen in logical pixels is 1.5 device pixels at 150 %,
    // and its top and left edges come out thinner than its bottom and right.
    QPainter painter(this);
    const qreal dpr = devicePixelRatioF();
    const QPointF at = mapTo(window(), QPoint(0, 0));
    const auto grid = [dpr](qreal logical) { return std::round(logical * dpr) / dpr; };
    const qreal left = grid(at.x()) - at.x();
    const qreal top = grid(at.y()) - at.y();
    const qreal right = grid(at.x() + width()) - at.x();
    const qreal bottom = grid(at.y() + height()) - at.y();
    const qreal pixel = 1 / dpr;
    const QColor colour = palette().color(QPalette::WindowText);
    painter.fillRect(QRectF(left, top, right - left, pixel), colour);
    painter.fillRect(QRectF(left, bottom - pixel, right - left, pixel), colour);
    painter.fillRect(QRectF(left, top, pixel, bottom - top), colour);
    painter.fillRect(QRectF(right - pixel, top, pixel, bottom - top), colour);
}

Image::Image(QWidget* parent, const QString& name, const Picture& picture, const Twips& rect)
    : QLabel(parent)
{
    setObjectName(name);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setFocusPolicy(Qt::NoFocus);
    place(*this, rect);
    const QList<QSize> sizes = picture.icon().availableSizes();
    const QSize natural = sizes.isEmpty() ? QSize(32, 32) : sizes.first();
    setPixmap(picture.icon().pixmap(natural));
}

Timer::Timer(QObject* parent, const QString& name, int intervalMs, bool enabled)
    : QObject(parent), m_enabled(enabled)
{
    setObjectName(name);
    // A 1 ms animation timer must tick about every millisecond, not at the
    // 5 % slack a coarse timer is allowed.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &Timer::tick);
}

void Timer::tick()
{
    if (m_enabled && m_tick && !m_halted)
        dispatch(m_tick);
}

void Timer::setEnabled(bool enabled)
{
    if (m_halted)
        throwObjectUnloaded();
    m_enabled = enabled;
    update();
}

void Timer::onTick(Handler handler)
{
    m_tick = std::move(handler);
    update();
}

void Timer::halt()
{
    m_halted = true;
    m_timer.stop();
}

void Timer::update()
{
    // A timer without a tick handler would only wake the process for nothing.
    const bool run = m_enabled && m_tick && !m_halted;
    if (run && !m_timer.isActive())
        m_timer.start();
    else if (!run)
        m_timer.stop();
}

} // namespace tk
