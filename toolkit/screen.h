#pragma once

#include "types.h"

#include <string>

namespace tk {

// The whole primary display, in twips.
class Screen final {
public:
    float width() const;
    float height() const;
    // Where the primary display's work area ends: its height less a taskbar
    // or panel that reserves a strip at the bottom.
    float workAreaBottom() const;
    // 1440 divided by the display's resolution in dots per inch.
    float twipsPerPixelX() const;
    float twipsPerPixelY() const;

    // Nearest whole pixel of a twips value.
    int toPixels(float twips) const;
    int toPixelsY(float twips) const;

    // Runs the handler once the primary display has changed: its size, its
    // resolution, its work area, or which display is the primary one. One
    // handler; the next call replaces it, and an empty one removes it.
    void onChange(Handler handler);
};

Screen& screen();

} // namespace tk

namespace tk {

// A picture of the whole primary display, as a PNG file; for `make run` on
// machines without a display, so only the Qt backend has it.
bool saveScreenshot(const std::string& path);

} // namespace tk
