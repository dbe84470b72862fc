// ImageBuffer layout: strides, bottom-up rows, channel order and clamping, size limits.
#include "imaging/imagebuffer.h"
#include "imaging/qimageconvert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

using namespace vorn;

TEST(ImageBufferCore, StridesRowsAndSizes)
{
    const struct {
        int32_t width, bits, stride;
    } strides[] = {{1, 24, 4}, {5, 24, 16}, {9, 1, 4}, {33, 1, 8}, {5, 8, 8}, {5, 32, 20},
                   {5, 16, -1}};
    for (const auto &c : strides)
        EXPECT_EQ(RowStride(c.width, c.bits), c.stride) << c.width << " " << c.bits;
    auto five = CreateImage(5, 2);
    ASSERT_TRUE(five);
    EXPECT_EQ(five->stride, 16);
    EXPECT_EQ(five->alphaStride, 8);

    // The top row (y = 0) is the last stored row; red is byte two.
    auto image = CreateImage(2, 3);
    SetPixelRgb(*image, 1, 0, 10, 20, 30);
    const uint8_t *p = image->pixels.get() + 2 * image->stride + 3;
    EXPECT_EQ(std::vector<int>(p, p + 3), (std::vector<int>{30, 20, 10}));
    EXPECT_EQ(PixelOffset(*image, 1, 0), 2 * image->stride + 3);
    EXPECT_EQ(AlphaOffset(*image, 1, 2), 1);
    // 32-bit pictures reach the screen as well: blue, green, red, and a byte left out.
    auto deep = CreateImageBuffer(2, 1, 32);
    std::fill_n(deep->row(0) + 4, 4, uint8_t(200));
    deep->row(0)[6] = 9;
    EXPECT_EQ(ImageBufferToQImage(*deep).pixel(1, 0), qRgba(9, 200, 200, 255));

    // Unusable sizes give none; a 1-bit row whose alpha row would not fit refuses the plane.
    EXPECT_FALSE(CreateImage(100000, 100000));
    EXPECT_FALSE(CreateImage(-1, 10));
    EXPECT_FALSE(CreateImageBuffer(INT32_MAX, 1, 24));
    EXPECT_FALSE(CreateImageBufferUninitialised(INT32_MAX, 1, 24));
    EXPECT_FALSE(CreateImageBufferUninitialised(4, 4, 12));
    EXPECT_TRUE(CreateImage(0, 0));
    auto wide = CreateImageBuffer(INT32_MAX, 0, 1);
    ASSERT_TRUE(wide);
    EXPECT_EQ(AddAlphaPlane(wide.get()), -1);
    EXPECT_FALSE(wide->alpha);
}

TEST(ImageBufferCore, UninitialisedBuffersZeroOnlyTheirPadding)
{
    for (int32_t bits : {1, 8, 24}) {
        auto image = CreateImageBufferUninitialised(5, 3, bits);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->stride, RowStride(5, bits));
        EXPECT_FALSE(image->alpha);
        const int32_t used = bits == 1 ? 1 : 5 * bits / 8;
        for (int32_t y = 0; y < 3; ++y)
            for (int32_t i = used; i < image->stride; ++i)
                EXPECT_EQ(image->row(y)[i], 0) << bits << " " << y << " " << i;
    }
}

// A copy reproduces both planes byte for byte, padding included, and no alpha plane where
// there was none; flipping reverses the rows.
TEST(ImageBufferCore, CopyIsWholeAndFlipReversesRows)
{
    auto image = CreateImage(3, 2);
    ASSERT_TRUE(image);
    for (int32_t i = 0; i < image->stride * 2; ++i)
        image->pixels[i] = uint8_t(i * 7 + 1);
    for (int32_t i = 0; i < image->alphaStride * 2; ++i)
        image->alpha[i] = uint8_t(200 - i);
    auto copy = CopyImage(image.get());
    ASSERT_TRUE(copy && copy->alpha);
    EXPECT_EQ(copy->alphaStride, image->alphaStride);
    EXPECT_EQ(std::memcmp(copy->pixels.get(), image->pixels.get(), size_t(image->stride * 2)), 0);
    EXPECT_EQ(std::memcmp(copy->alpha.get(), image->alpha.get(), size_t(image->alphaStride * 2)),
              0);

    auto opaque = CreateImageBuffer(1, 2, 24);
    opaque->row(0)[0] = 7;
    auto flipped = CopyImage(opaque.get());
    ASSERT_TRUE(flipped);
    EXPECT_FALSE(flipped->alpha);
    FlipImageRows(*flipped);
    EXPECT_EQ(flipped->row(1)[0], 7);
    EXPECT_EQ(flipped->row(0)[0], 0);
    EXPECT_FALSE(CopyImage(nullptr));
}

TEST(ImageBufferCore, ClampingLandsOnTheNearestEdgePixel)
{
    // Every pixel distinct: red 10 x + y, so a wrong clamp reads a wrong value.
    auto image = CreateImage(3, 2);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 3; ++x)
            SetPixelRgb(*image, x, y, uint8_t(10 * x + y), 0, 0);
    const struct {
        int32_t x, y, red;
    } reads[] = {{-1, -1, 0}, {3, 2, 21}, {-1, 1, 1}, {7, 0, 20}, {1, INT32_MAX, 11},
                 {INT32_MIN, 1, 1}};
    for (const auto &c : reads)
        EXPECT_EQ(GetChannel(*image, c.x, c.y, 0), c.red) << c.x << "," << c.y;
    SetChannel(*image, 5, -3, 1, 77);
    EXPECT_EQ(GetChannel(*image, 2, 0, 1), 77);

    // 1-bit: x beyond the width is the last pixel's bit, not a bit of the padding.
    auto bits = CreateImageBuffer(10, 2, 1);
    SetChannel(*bits, 12, 5, 0, 255);
    EXPECT_EQ(GetChannel(*bits, 9, 1, 0), 255);
    EXPECT_EQ(GetChannel(*bits, 12, 1, 0), 255);
    EXPECT_EQ(GetChannel(*bits, 8, 1, 0), 0);
    EXPECT_EQ(GetChannel(*bits, 9, 0, 0), 0);
    EXPECT_EQ(bits->pixels[1], 0x40);  // row 1 is stored first
}
