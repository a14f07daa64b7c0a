#pragma once

#include <string>

namespace tk {

// The whole primary display, in twips; the work area is never asked for.
class Screen final {
public:
    float width() const;
    float height() const;
    // 1440 divided by the display's resolution in dots per inch.
    float twipsPerPixelX() const;
    float twipsPerPixelY() const;

    // Nearest whole pixel of a twips value.
    int toPixels(float twips) const;
    int toPixelsY(float twips) const;
};

Screen& screen();

} // namespace tk

namespace tk {

// A picture of the whole primary display, as a PNG file; for `make run` on
// machines without a display, so only the Qt backend has it.
bool saveScreenshot(const std::string& path);

} // namespace tk
