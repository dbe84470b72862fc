// Saturating conversions to int32, where double or 64-bit arithmetic meets an int32 field.
#pragma once

#include <cstdint>
#include <limits>

namespace vorn {

// Converting an out-of-range double to an integer is undefined behaviour; positions, times,
// sizes and pixel rows instead stop at the ends of int32. NaN gives 0. Truncates toward zero,
// as a C cast does.
constexpr int32_t truncToInt32(double value)
{
    if (value != value)  // NaN (std::isnan is not constexpr)
        return 0;
    if (value >= 2147483647.0)
        return std::numeric_limits<int32_t>::max();
    if (value <= -2147483648.0)
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

constexpr int32_t clampToInt32(int64_t value)
{
    if (value > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

} // namespace vorn
