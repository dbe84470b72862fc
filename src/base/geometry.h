// Rect (inclusive corners) and Colour (red, green, blue, alpha bytes), shared by every subsystem.
#pragma once

#include "base/saturate.h"

#include <cstdint>

namespace vorn {

// Both corners are inclusive: a rectangle of one pixel has left == right.
struct Rect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    // Worked out in 64 bits and saturated: a rectangle wider than int32 can count (say from
    // -2^31 to 0) is INT32_MAX wide, one inverted that far INT32_MIN; callers refuse both.
    constexpr int32_t width() const { return clampToInt32(int64_t(right) - left + 1); }
    constexpr int32_t height() const { return clampToInt32(int64_t(bottom) - top + 1); }
    static constexpr Rect fullScreen(int32_t screenWidth, int32_t screenHeight)
    {
        return {0, 0, screenWidth - 1, screenHeight - 1};
    }
    friend constexpr bool operator==(const Rect &, const Rect &) = default;
};

// Alpha 255 is opaque, 0 fully transparent.
struct Colour {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    uint8_t alpha = 255;

    // Checkpoints are looked up by colour packed as red * 65536 + green * 256 + blue.
    constexpr int32_t packedRgb() const { return red * 65536 + green * 256 + blue; }
    friend constexpr bool operator==(const Colour &, const Colour &) = default;
};

} // namespace vorn
