#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace tk {

using Handler = std::function<void()>;

// A window as the window system names it.
using WindowHandle = std::uintptr_t;

struct Color {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;

    friend bool operator==(const Color&, const Color&) = default;
};

// A colour as the designs write it, &H00BBGGRR.
constexpr Color bgr(std::uint32_t value)
{
    return {static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>((value >> 8) & 0xFF),
            static_cast<std::uint8_t>((value >> 16) & 0xFF)};
}

// A design rectangle in twips: left, top, width, height.
struct Twips {
    float left;
    float top;
    float width;
    float height;
};

struct Pixels {
    int x = 0;
    int y = 0;
};

enum class Border { None, FixedSingle, Sizable };
enum class Placement { Stored, CentreScreen, WindowsDefault };
enum class Pointer { Default, SizeAll };

// Keeps a type from being copied or moved: forms, controls and the objects
// that stand for native resources have one identity.
class Fixed {
protected:
    Fixed() = default;
    ~Fixed() = default;

public:
    Fixed(const Fixed&) = delete;
    Fixed& operator=(const Fixed&) = delete;
};

} // namespace tk
