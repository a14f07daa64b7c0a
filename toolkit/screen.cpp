#include "screen.h"
#include "error.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

namespace tk {
namespace {

QScreen& primary()
{
    QScreen* s = QGuiApplication::primaryScreen();
    if (!s)
        throw Error(Status::InvalidCall, QStringLiteral("No screen is available"));
    return *s;
}

float factor(qreal dpi)
{
    if (!(dpi > 0))
        throw Error(Status::InvalidCall, QStringLiteral("The screen reports no resolution"));
    return checked(static_cast<float>(1440.0 / dpi));
}

} // namespace

float Screen::twipsPerPixelX() const
{
    return factor(primary().logicalDotsPerInchX());
}

float Screen::twipsPerPixelY() const
{
    return factor(primary().logicalDotsPerInchY());
}

float Screen::width() const
{
    return checked(static_cast<float>(primary().geometry().width()) * twipsPerPixelX());
}

float Screen::height() const
{
    return checked(static_cast<float>(primary().geometry().height()) * twipsPerPixelY());
}

QPoint Screen::origin() const
{
    return primary().geometry().topLeft();
}

int Screen::toPixels(float twips) const
{
    return static_cast<int>(std::lround(checked(twips / twipsPerPixelX())));
}

int Screen::toPixelsY(float twips) const
{
    return static_cast<int>(std::lround(checked(twips / twipsPerPixelY())));
}

Screen& screen()
{
    static Screen instance;
    return instance;
}

} // namespace tk
