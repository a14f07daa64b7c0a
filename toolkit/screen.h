#pragma once

#include <QPoint>

namespace tk {

// The whole primary display, in twips; the work area is never asked for.
class Screen final {
public:
    float width() const;
    float height() const;
    float twipsPerPixelX() const;
    float twipsPerPixelY() const;

    // Pixel position of the primary display's top-left corner; every form
    // coordinate is relative to it.
    QPoint origin() const;

    // Nearest whole pixel of a twips value.
    int toPixels(float twips) const;
    int toPixelsY(float twips) const;
};

Screen& screen();

} // namespace tk
