// Saturating conversions to int32 for the time line's double and 64-bit arithmetic.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace vorn {

// Converting an out-of-range double to an integer is undefined behaviour; positions, times and
// pixel rows instead stop at the ends of int32. NaN gives 0. Truncates toward zero.
inline int32_t truncToInt32(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 2147483647.0)
        return std::numeric_limits<int32_t>::max();
    if (value <= -2147483648.0)
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

inline int32_t clampToInt32(int64_t value)
{
    if (value > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

} // namespace vorn
