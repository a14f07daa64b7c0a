#include "screen.h"
#include "backend.h"
#include "error.h"

#include <cmath>

namespace tk {
namespace {

float factor(double dpi)
{
    if (!(dpi > 0))
        throw Error(Status::InvalidCall, "The screen reports no resolution");
    return checked(static_cast<float>(1440.0 / dpi));
}

} // namespace

float Screen::twipsPerPixelX() const
{
    return factor(backend::primaryScreen().dpiX);
}

float Screen::twipsPerPixelY() const
{
    return factor(backend::primaryScreen().dpiY);
}

float Screen::width() const
{
    return checked(static_cast<float>(backend::primaryScreen().width) * twipsPerPixelX());
}

float Screen::height() const
{
    return checked(static_cast<float>(backend::primaryScreen().height) * twipsPerPixelY());
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
