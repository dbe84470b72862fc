// Saturating int32 conversions and the rectangle sizes built on them.
#include "base/geometry.h"
#include "base/saturate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>

using namespace vorn;

namespace {
constexpr int32_t Max = INT32_MAX;
constexpr int32_t Min = INT32_MIN;
} // namespace

TEST(Saturate, ConversionsStopAtTheEndsOfInt32)
{
    const std::pair<double, int32_t> doubles[] = {
        {0.0, 0}, {2.9, 2}, {-2.9, -2}, {2147483646.9, Max - 1}, {2147483647.0, Max},
        {1e300, Max}, {-2147483648.0, Min}, {-1e300, Min}, {INFINITY, Max}, {-INFINITY, Min},
        {NAN, 0},
    };
    for (const auto &[value, expected] : doubles)
        EXPECT_EQ(truncToInt32(value), expected) << value;
    const std::pair<int64_t, int32_t> integers[] = {
        {0, 0}, {Max, Max}, {int64_t(Max) + 1, Max}, {INT64_MAX, Max}, {Min, Min},
        {int64_t(Min) - 1, Min}, {INT64_MIN, Min},
    };
    for (const auto &[value, expected] : integers)
        EXPECT_EQ(clampToInt32(value), expected) << value;
}

// Inclusive corners: width is right - left + 1. Sizes past int32 saturate instead of wrapping
// round to a small or negative size that a caller might take for a real one.
TEST(Saturate, RectangleSizes)
{
    const struct {
        Rect rect;
        int32_t width, height;
    } cases[] = {
        {{0, 0, 0, 0}, 1, 1},
        {{10, 20, 639, 479}, 630, 460},
        {{5, 5, 3, 3}, -1, -1},
        {{0, 0, Max - 1, 6}, Max, 7},
        {{0, 0, Max, 7}, Max, 8},            // CLIP 0 0 2147483647 7
        {{Min, Min, 0, 10}, Max, Max},       // INPUT rectangles from -2^31
        {{Min, 0, Max, 0}, Max, 1},
        {{Max, Max, Min, Min}, Min, Min},    // inverted as far as it goes
        {{-1, 0, Max - 1, 0}, Max, 1},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.rect.width(), c.width) << c.rect.left << ".." << c.rect.right;
        EXPECT_EQ(c.rect.height(), c.height) << c.rect.top << ".." << c.rect.bottom;
    }
    static_assert(Rect::fullScreen(640, 480).width() == 640);
}
