// Pixel operations: DrawImage clipping and blend arithmetic, MixImages, ShakeImage, BlurImage,
// and the colour filters (exact values, thresholds, borders and the alpha plane).
#include "imaging/compose.h"
#include "imaging/filters.h"
#include "pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <tuple>

using namespace vorn;
using namespace vorn::test;

namespace {

// The blend rule as defined: trunc(v + 0.5) of a double, 255 above 255.
int roundedByte(double v)
{
    return v > 255.0 ? 255 : int(std::trunc(v + 0.5));
}

// A w x h picture in which pixel (x, y) is (10 x + y, 100 + y, 7, alpha).
ImagePtr numbered(int32_t w, int32_t h, uint8_t alpha)
{
    ImagePtr image = CreateImage(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            setPixel(*image, x, y, {10 * x + y, 100 + y, 7, alpha});
    return image;
}

// True when every pixel of the picture is `p`.
bool allPixels(const ImageBuffer &image, Rgba p)
{
    for (int32_t y = 0; y < image.height; ++y)
        for (const Rgba &q : rowPixels(image, y))
            if (!(q == p))
                return false;
    return true;
}

} // namespace

TEST(DrawImage, ClipsAtEveryEdgeAndIgnoresWhatItCannotDraw)
{
    const Rgba plate{1, 2, 3, 0};
    auto fresh = [&] { return CreateFilledImage(4, 3, 1, 2, 3, 0); };
    ImagePtr src = numbered(3, 2, 255);

    // Fully outside on each side: nothing changes.
    for (auto [x, y] : {std::pair{-3, 0}, {4, 0}, {0, -2}, {0, 3}}) {
        ImagePtr dst = fresh();
        DrawImage(*dst, src.get(), x, y, BLEND_ALPHA);
        EXPECT_TRUE(allPixels(*dst, plate)) << x << "," << y;
    }

    // At (-1, -1) the first row and column are cut off.
    ImagePtr dst = fresh();
    DrawImage(*dst, src.get(), -1, -1, BLEND_ALPHA);
    EXPECT_EQ(rowPixels(*dst), (std::vector<Rgba>{{11, 101, 7, 255}, {21, 101, 7, 255}, plate, plate}));
    EXPECT_EQ(pixelAt(*dst, 0, 1), plate);

    // In the bottom-right corner only the source's top-left pixel lands.
    dst = fresh();
    DrawImage(*dst, src.get(), 3, 2, BLEND_COPY);
    EXPECT_EQ(pixelAt(*dst, 3, 2), (Rgba{0, 100, 7, 255}));
    EXPECT_EQ(pixelAt(*dst, 2, 2), plate);
    EXPECT_EQ(pixelAt(*dst, 3, 1), plate);

    // Positions far enough out to overflow x + width in 32 bits draw nothing.
    dst = fresh();
    DrawImage(*dst, src.get(), INT32_MAX, INT32_MIN, BLEND_ALPHA);
    DrawImage(*dst, src.get(), INT32_MIN, 0, BLEND_ALPHA);
    // Nor do a missing source, a flag word that is no mode or two modes, or a 32-bit source.
    DrawImage(*dst, nullptr, 0, 0, BLEND_ALPHA);
    DrawImage(*dst, src.get(), 0, 0, 0x400);
    DrawImage(*dst, src.get(), 0, 0, BLEND_ALPHA | BLEND_ADD);
    ImagePtr deep = CreateImageBuffer(2, 2, 32);
    DrawImage(*dst, deep.get(), 0, 0, BLEND_COPY);
    EXPECT_TRUE(allPixels(*dst, plate));
    // A destination without an alpha plane is not a drawing surface.
    ImagePtr bare = CreateImageBuffer(2, 2, 24);
    DrawImage(*bare, src.get(), 0, 0, BLEND_ALPHA);
    EXPECT_EQ(pixelAt(*bare, 0, 0), (Rgba{0, 0, 0, -1}));
}

// Alpha blending and lightening, pixel by pixel against the rule: every source colour and
// alpha over every destination colour, and rows longer than the blender's working chunk with
// whole opaque and clear stretches.
TEST(DrawImage, BlendsAreExactForEveryValue)
{
    const auto blended = [](int32_t mode, Rgba s, Rgba d) {
        const auto channel = [&](int sv, int dv) {
            return mode == BLEND_ALPHA ? roundedByte((double(sv) * s.a + double(dv) * (255 - s.a)) / 255.0)
                                       : std::max(dv, roundedByte(double(sv) * s.a / 255.0));
        };
        return Rgba{channel(s.r, d.r), channel(s.g, d.g), channel(s.b, d.b), std::max(s.a, d.a)};
    };
    const auto check = [&](int32_t mode, const ImageBuffer &src, Rgba plate) {
        ImagePtr dst = CreateFilledImage(src.width, src.height, uint8_t(plate.r), uint8_t(plate.g),
                                         uint8_t(plate.b), uint8_t(plate.a));
        DrawImage(*dst, &src, 0, 0, mode);
        for (int32_t y = 0; y < src.height; ++y)
            for (int32_t x = 0; x < src.width; ++x)
                ASSERT_EQ(pixelAt(*dst, x, y), blended(mode, pixelAt(src, x, y), plate))
                    << "mode " << mode << " at " << x << "," << y << " over " << plate;
    };
    ImagePtr every = CreateImage(256, 256);
    for (int32_t y = 0; y < 256; ++y)
        for (int32_t x = 0; x < 256; ++x)
            setPixel(*every, x, y, {x, 255 - x, x ^ 0x55, y});
    for (int d = 0; d < 256; ++d)
        for (const int32_t mode : {BLEND_ALPHA, BLEND_LIGHTEN})
            check(mode, *every, {d, d, 255 - d, (d * 7) & 255});
    const int32_t w = 1300;
    ImagePtr wide = CreateImage(w, 2);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < w; ++x)
            setPixel(*wide, x, y, {x & 255, (x >> 2) & 255, 200, x < 512 ? 255 : x < 1024 ? 0 : (x * 7) & 255});
    check(BLEND_ALPHA, *wide, {40, 80, 120, 0});
}

// The rows of data/blend.tsv: one pixel drawn on one in each mode.
TEST(DrawImage, ModeArithmeticAndAlphaPlane)
{
    const std::map<std::string, int32_t> modes{{"alpha", BLEND_ALPHA}, {"add", BLEND_ADD}, {"or", BLEND_OR},
                                               {"copy", BLEND_COPY}, {"lighten", BLEND_LIGHTEN}};
    for (const auto &row : readTable("blend.tsv")) {
        ImagePtr dst = rowOf(pixelsOf(row.at(2)));
        DrawImage(*dst, rowOf(pixelsOf(row.at(3))).get(), 0, 0, modes.at(row.at(1)));
        EXPECT_EQ(rowPixels(*dst), pixelsOf(row.at(4))) << row[0];
    }
}

TEST(DrawImage, OntoItselfReadsTheOriginal)
{
    ImagePtr image = numbered(4, 1, 255);
    DrawImage(*image, image.get(), 1, 0, BLEND_COPY);
    EXPECT_EQ(rowPixels(*image), (std::vector<Rgba>{{0, 100, 7, 255}, {0, 100, 7, 255}, {10, 100, 7, 255}, {20, 100, 7, 255}}));
}

TEST(MixImages, RefusesBadArgumentsAndDarkensSlightly)
{
    ImagePtr white = CreateFilledImage(3, 2, 255, 255, 255, 40);
    ImagePtr white2 = CreateFilledImage(3, 2, 255, 255, 255, 90);
    EXPECT_FALSE(MixImages(white.get(), white2.get(), 101));
    EXPECT_FALSE(MixImages(white.get(), white2.get(), -1));
    EXPECT_FALSE(MixImages(white.get(), nullptr, 50));
    ImagePtr other = CreateFilledImage(3, 3, 255, 255, 255, 255);
    EXPECT_FALSE(MixImages(white.get(), other.get(), 50));
    ImagePtr bare = CreateImageBuffer(3, 2, 24);
    EXPECT_FALSE(MixImages(white.get(), bare.get(), 50));

    for (int percent : {0, 100}) {
        ImagePtr mixed = MixImages(white.get(), white2.get(), percent);
        ASSERT_TRUE(mixed);
        EXPECT_EQ(pixelAt(*mixed, 2, 1), (Rgba{254, 254, 254, 90})) << percent;
    }
    ImagePtr half = MixImages(white.get(), white2.get(), 50);
    ASSERT_TRUE(half);
    EXPECT_EQ(pixelAt(*half, 0, 0), (Rgba{252, 252, 252, 90}));

    // Weights 178 and 76 at 30 %: each product is shifted on its own.
    const ImagePtr mix = MixImages(rowOf({{100, 0, 255, 200}}).get(), rowOf({{200, 255, 0, 10}}).get(), 30);
    EXPECT_EQ(rowPixels(*mix), (std::vector<Rgba>{{128, 75, 177, 200}}));
}

// The rows of data/shake.tsv.
TEST(ShakeImage, FourPhaseCycle)
{
    ImagePtr pic = CreateImage(20, 2);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 20; ++x)
            setPixel(*pic, x, y, {10 * x + 5, 3, 250, 255});
    for (const auto &row : readTable("shake.tsv")) {
        const ImagePtr shaken = ShakeImage(pic.get(), int32_t(numbers(row.at(0)).at(0)));
        ASSERT_TRUE(shaken) << row[0];
        const auto at = numbers(row.at(1));
        EXPECT_EQ(pixelAt(*shaken, int32_t(at[0]), int32_t(at[1])), pixelsOf(row.at(2)).at(0)) << row[0] << " at " << row[1];
    }
    EXPECT_FALSE(ShakeImage(nullptr, 0));
}

TEST(BlurImage, MeanOfNeighboursWithRepeatedEdges)
{
    ImagePtr flat = CreateFilledImage(6, 4, 17, 130, 254, 33);
    ImagePtr same = BlurImage(flat.get());
    ASSERT_TRUE(same);
    EXPECT_TRUE(allPixels(*same, {17, 130, 254, -1}));

    // A corner pixel weighs four ninths at the corner, two beside it, one diagonally.
    ImagePtr corner = CreateImage(4, 4);
    setPixel(*corner, 0, 0, {90, 0, 0, 255});
    setPixel(*corner, 2, 2, {0, 5, 4, 255});  // 5 / 9 rounds up, 4 / 9 down
    ImagePtr out = BlurImage(corner.get());
    ASSERT_TRUE(out);
    EXPECT_EQ(rowPixels(*out, 0), (std::vector<Rgba>{{40, 0, 0, -1}, {20, 0, 0, -1}, {0, 0, 0, -1}, {0, 0, 0, -1}}));
    EXPECT_EQ(rowPixels(*out, 1), (std::vector<Rgba>{{20, 0, 0, -1}, {10, 1, 0, -1}, {0, 1, 0, -1}, {0, 1, 0, -1}}));
    EXPECT_EQ(pixelAt(*out, 3, 3), (Rgba{0, 1, 0, -1}));
    EXPECT_EQ(rowPixels(*BlurImage(rowOf({{8, 9, 10, 255}}).get())), (std::vector<Rgba>{{8, 9, 10, -1}}));
    EXPECT_FALSE(BlurImage(nullptr));
}

TEST(Filters, MissingOrUnsupportedInputGivesNone)
{
    EXPECT_FALSE(DiscolorImage(nullptr, 0.5));
    EXPECT_FALSE(HighpassImage(nullptr));
    EXPECT_FALSE(ExpandTo24Bit(nullptr));
    EXPECT_FALSE(PhotoFrameImage(nullptr, 10));
    ImagePtr bits = CreateImageBuffer(8, 2, 1);
    EXPECT_FALSE(MonoImage(bits.get()));
    ImagePtr grey = CreateImageBuffer(8, 2, 8);
    EXPECT_FALSE(ExpandTo24Bit(grey.get()));
    EXPECT_EQ(ThroughColorImage(*grey, 0, 0, 0), -1);
}

// The per-pixel filters: the rows of data/filters.tsv.
TEST(Filters, PerPixelFiltersGiveExactValues)
{
    using Filter = std::function<ImagePtr(const ImageBuffer *)>;
    const std::map<std::string, Filter> filters{
        {"sepia", SepiaImage}, {"mono", MonoImage}, {"nega", NegaImage},
        {"keep red", [](const ImageBuffer *i) { return KeepChannel(i, 0); }},
        {"keep green", [](const ImageBuffer *i) { return KeepChannel(i, 1); }},
        {"keep blue", [](const ImageBuffer *i) { return KeepChannel(i, 2); }}};
    for (const auto &[name, filter] : filters)
        EXPECT_FALSE(filter(nullptr)) << name;
    for (const auto &row : readTable("filters.tsv")) {
        const ImagePtr in = rowOf(pixelsOf(row.at(1)));
        const ImagePtr out = filters.at(row[0])(in.get());
        ASSERT_TRUE(out) << row[0];
        EXPECT_EQ(rowPixels(*out), pixelsOf(row.at(2))) << row[0];
        EXPECT_EQ(rowPixels(*in), pixelsOf(row[1])) << row[0] << ": the input is left alone";
    }
    ImagePtr c = CreateImage(1, 1);
    EXPECT_FALSE(KeepChannel(c.get(), 3));
    EXPECT_FALSE(KeepChannel(c.get(), -1));
}

TEST(Filters, DiscolorThresholdFollowsHistogramAndFactor)
{
    // Red takes 0, 100, 200, 255; green is 90 throughout; blue is 0 or 255.
    ImagePtr in = rowOf({{0, 90, 0, 1}, {100, 90, 255, 2}, {200, 90, 0, 3}, {255, 90, 255, 4}});
    // Red threshold 127: the walk stops once half the range plus the counts pass 2 f N.
    EXPECT_EQ(rowPixels(*DiscolorImage(in.get(), 0.5)),
              (std::vector<Rgba>{{0, 0, 0, 1}, {0, 0, 255, 2}, {255, 0, 0, 3}, {255, 0, 255, 4}}));
    // A smaller factor stops the walk earlier: red threshold 200, and 200 itself goes dark.
    // Blue has half its pixels at 255: the walk stops at once, so even 255 is at or below it.
    EXPECT_EQ(rowPixels(*DiscolorImage(in.get(), 0.25)),
              (std::vector<Rgba>{{0, 0, 0, 1}, {0, 0, 0, 2}, {0, 0, 0, 3}, {255, 0, 0, 4}}));
    ImagePtr empty = CreateImage(0, 0);
    EXPECT_TRUE(DiscolorImage(empty.get(), 0.5));
}

TEST(Filters, HighpassFindsEdgesAndIgnoresFlatAreas)
{
    // A bright dot in the middle and one in a corner (whose outside neighbours repeat it); the
    // flat rest gives no edge.
    ImagePtr dots = CreateFilledImage(5, 5, 100, 100, 100, 255);
    SetPixelRgb(*dots, 2, 2, 200, 200, 200);
    SetPixelRgb(*dots, 0, 0, 200, 100, 100);
    SetPixelRgb(*dots, 4, 4, 100, 100, 200);  // blue alone
    ImagePtr edges = HighpassImage(dots.get());
    ASSERT_TRUE(edges);
    EXPECT_EQ(edges->bitCount, 1);
    EXPECT_FALSE(edges->alpha);
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 5; ++x) {
            const bool expected = (x == 2 && y == 2) || (x == 0 && y == 0) || (x == 4 && y == 4);
            EXPECT_EQ(GetChannel(*edges, x, y, 0), expected ? 255 : 0) << x << "," << y;
        }

    ImagePtr wide = ExpandTo24Bit(edges.get());
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->bitCount, 24);
    EXPECT_FALSE(wide->alpha);
    EXPECT_EQ(pixelAt(*wide, 0, 0), (Rgba{255, 255, 255, -1}));
    EXPECT_EQ(pixelAt(*wide, 1, 0), (Rgba{0, 0, 0, -1}));
    EXPECT_EQ(pixelAt(*wide, 2, 2), (Rgba{255, 255, 255, -1}));
    EXPECT_EQ(pixelAt(*wide, 4, 3), (Rgba{0, 0, 0, -1}));
}

TEST(Filters, PhotoFrameBorderIsAPercentOfTheLongerSide)
{
    ImagePtr in = CreateFilledImage(200, 100, 10, 20, 30, 77);
    ImagePtr framed = PhotoFrameImage(in.get(), 10);
    ASSERT_TRUE(framed);
    const Rgba white{255, 255, 255, 77};
    // Each side's last white pixel and first inner one: 20 pixels of white all round.
    const std::tuple<int32_t, int32_t, bool> points[] = {{19, 50, true}, {20, 50, false}, {180, 50, true}, {179, 50, false},
                  {100, 19, true}, {100, 20, false}, {100, 80, true}, {100, 79, false},
                  {0, 0, true}, {199, 99, true}};
    for (const auto &[x, y, isWhite] : points)
        EXPECT_EQ(pixelAt(*framed, x, y), isWhite ? white : (Rgba{10, 20, 30, 77})) << x << "," << y;
    ImagePtr same = PhotoFrameImage(in.get(), 0);
    ASSERT_TRUE(same);
    EXPECT_TRUE(samePixels(*same, *in));

    // A border wider than the picture whitens all of it and stays inside the buffer.
    ImagePtr all = PhotoFrameImage(in.get(), 300);
    ASSERT_TRUE(all);
    EXPECT_EQ(pixelAt(*all, 100, 50), white);
}

TEST(Filters, ThroughColorClearsExactlyTheMatchingPixels)
{
    ImagePtr in = rowOf({{0, 0, 0, 255}, {1, 0, 0, 255}, {0, 0, 1, 200}, {0, 0, 0, 90}});
    EXPECT_EQ(ThroughColorImage(*in, 0, 0, 0), 0);
    EXPECT_EQ(rowPixels(*in), (std::vector<Rgba>{{0, 0, 0, 0}, {1, 0, 0, 255}, {0, 0, 1, 200}, {0, 0, 0, 0}}));
    EXPECT_EQ(ThroughColorImage(*in, 1, 0, 0), 0);
    EXPECT_EQ(pixelAt(*in, 1, 0).a, 0);
    EXPECT_EQ(pixelAt(*in, 2, 0).a, 200);  // (0, 0, 1) is another colour
    ImagePtr plain = CreateImageBuffer(2, 2, 24);
    EXPECT_EQ(ThroughColorImage(*plain, 0, 0, 0), -1);
}
