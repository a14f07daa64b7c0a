#include "screen.h"
#include "backend.h"
#include "dispatch.h"
#include "base/error.h"

#include <cmath>
#include <optional>

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

// The display as the running event sees it. A slide tick reads the screen a
// dozen times (its place, its resting place, pixels from twips, the window's
// own move); the window system is asked once per event, and again only when
// it says the display changed. Between events every read asks afresh.
std::optional<backend::ScreenMetrics> g_metrics;
unsigned long long g_metricsEvent = 0;

backend::ScreenMetrics metrics()
{
    const unsigned long long event = detail::currentEvent();
    if (event == 0)
        return backend::primaryScreen();
    if (!g_metrics || g_metricsEvent != event) {
        g_metrics = backend::primaryScreen();
        g_metricsEvent = event;
    }
    return *g_metrics;
}

} // namespace

float Screen::twipsPerPixelX() const
{
    return factor(metrics().dpiX);
}

float Screen::twipsPerPixelY() const
{
    return factor(metrics().dpiY);
}

float Screen::width() const
{
    const backend::ScreenMetrics m = metrics();
    return checked(static_cast<float>(m.width) * factor(m.dpiX));
}

float Screen::height() const
{
    const backend::ScreenMetrics m = metrics();
    return checked(static_cast<float>(m.height) * factor(m.dpiY));
}

float Screen::workAreaBottom() const
{
    const backend::ScreenMetrics m = metrics();
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
    g_metrics.reset();
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
