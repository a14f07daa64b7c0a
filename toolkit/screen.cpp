#include "screen.h"
#include "backend.h"
#include "dispatch.h"
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

Handler& changeHandler()
{
    static Handler handler;
    return handler;
}

bool g_changePending = false;

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

float Screen::workAreaBottom() const
{
    const backend::ScreenMetrics m = backend::primaryScreen();
    // A window system that knows no work area, or reports one that makes no
    // sense, leaves the whole display.
    const int bottom = m.workBottom > 0 && m.workBottom < m.height ? m.workBottom : m.height;
    return checked(static_cast<float>(bottom) * factor(m.dpiY));
}

int Screen::toPixels(float twips) const
{
    return static_cast<int>(std::lround(checked(twips / twipsPerPixelX())));
}

int Screen::toPixelsY(float twips) const
{
    return static_cast<int>(std::lround(checked(twips / twipsPerPixelY())));
}

void Screen::onChange(Handler handler)
{
    changeHandler() = std::move(handler);
}

void backend::screenChanged()
{
    // One change comes as several notifications (size, then work area);
    // the handler sees them once, after the window system has settled.
    if (g_changePending)
        return;
    g_changePending = true;
    post([] {
        g_changePending = false;
        if (const Handler handler = changeHandler())
            handler();
    });
}

Screen& screen()
{
    static Screen instance;
    return instance;
}

} // namespace tk
