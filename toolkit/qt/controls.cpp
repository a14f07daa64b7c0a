#include "controls.h"
#include "qt.h"

#include "toolkit/dispatch.h"
#include "toolkit/screen.h"

#include <QMouseEvent>
#include <QPainter>

#include <cmath>

namespace tk::qt {

QColor toQColor(Color color)
{
    return QColor(color.red, color.green, color.blue);
}

Color fromQColor(const QColor& color)
{
    return {static_cast<std::uint8_t>(color.red()), static_cast<std::uint8_t>(color.green()),
            static_cast<std::uint8_t>(color.blue())};
}

void place(QWidget& control, const Twips& rect)
{
    const Screen& s = screen();
    control.setGeometry(s.toPixels(rect.left), s.toPixelsY(rect.top), s.toPixels(rect.width),
                        s.toPixelsY(rect.height));
}

QtLabel::QtLabel(QWidget* parent, const std::string& name, const std::string& caption,
                 const Twips& rect, std::weak_ptr<const void> life)
    : QLabel(QString::fromStdString(caption), parent), tk::Label(name, std::move(life))
{
    setObjectName(QString::fromStdString(name));
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

std::string QtLabel::caption() const
{
    return text().toStdString();
}

void QtLabel::setCaption(const std::string& caption)
{
    // Repainting an unchanged caption twice a second is wasted work.
    const QString text = QString::fromStdString(caption);
    if (text != QLabel::text())
        setText(text);
}

std::string QtLabel::tip() const
{
    return toolTip().toStdString();
}

void QtLabel::setTip(const std::string& tip)
{
    const QString text = QString::fromStdString(tip);
    if (text != toolTip())
        setToolTip(text);
}

Color QtLabel::foreColor() const
{
    return fromQColor(palette().color(QPalette::WindowText));
}

void QtLabel::setForeColor(Color color)
{
    QPalette p = palette();
    p.setColor(QPalette::WindowText, toQColor(color));
    setPalette(p);
}

Color QtLabel::backColor() const
{
    return fromQColor(palette().color(QPalette::Window));
}

void QtLabel::setBackColor(Color color)
{
    QPalette p = palette();
    p.setColor(QPalette::Window, toQColor(color));
    setPalette(p);
}

void QtLabel::setCentred(bool centred)
{
    setAlignment((centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
}

void QtLabel::setPointer(Pointer pointer)
{
    if (pointer == Pointer::SizeAll)
        setCursor(Qt::SizeAllCursor);
    else
        unsetCursor();
}

void QtLabel::click()
{
    if (m_click)
        dispatch(m_click);
}

void QtLabel::mousePressEvent(QMouseEvent* event)
{
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

void QtLabel::mouseReleaseEvent(QMouseEvent* event)
{
    const bool clicked = m_pressed && event->button() == Qt::LeftButton &&
                         rect().contains(event->position().toPoint());
    m_pressed = false;
    event->accept();
    if (clicked)
        click();
}

QtButton::QtButton(QWidget* parent, const std::string& name, const std::string& caption,
                   const Twips& rect, std::weak_ptr<const void> life)
    : QPushButton(QString::fromStdString(caption), parent), tk::CommandButton(name, std::move(life))
{
    setObjectName(QString::fromStdString(name));
    setFocusPolicy(Qt::StrongFocus);
    setAutoDefault(false);
    place(*this, rect);
    connect(this, &QPushButton::clicked, this, [this] {
        if (m_click)
            dispatch(m_click);
    });
}

bool QtButton::hasFocus() const
{
    return QWidget::hasFocus() || window()->focusWidget() == this;
}

QtShape::QtShape(QWidget* parent, const std::string& name, const Twips& rect,
                 std::weak_ptr<const void> life)
    : QWidget(parent), tk::Shape(name, std::move(life))
{
    setObjectName(QString::fromStdString(name));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    place(*this, rect);
}

void QtShape::paintEvent(QPaintEvent*)
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

QtImage::QtImage(QWidget* parent, const std::string& name, const Picture& picture,
                 const Twips& rect, std::weak_ptr<const void> life)
    : QLabel(parent), tk::Image(name, std::move(life))
{
    setObjectName(QString::fromStdString(name));
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setFocusPolicy(Qt::NoFocus);
    place(*this, rect);
    const QIcon icon = iconOf(picture);
    const QList<QSize> sizes = icon.availableSizes();
    const QSize natural = sizes.isEmpty() ? QSize(32, 32) : sizes.first();
    setPixmap(icon.pixmap(natural));
}

QtTimer::QtTimer(QObject* parent, const std::string& name, int intervalMs, bool enabled,
                 std::weak_ptr<const void> life)
    : QObject(parent), tk::Timer(name, std::move(life), intervalMs, enabled)
{
    setObjectName(QString::fromStdString(name));
    // A 1 ms animation timer must tick about every millisecond, not at the
    // 5 % slack a coarse timer is allowed.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
}

} // namespace tk::qt
