// Pixel operations: DrawImage clipping and blend arithmetic, MixImages, ShakeImage, BlurImage,
// the colour filters (exact values, thresholds, borders and the alpha plane); resampling,
// fitting, rotation and pan-and-zoom: exact pixels, and the fast code checked against plain
// walks of the same arithmetic.
#include "imaging/compose.h"
#include "imaging/filmstrip.h"
#include "imaging/filters.h"
#include "imaging/panzoom.h"
#include "imaging/resample.h"
#include "imaging/rotate.h"
#include "pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <numbers>
#include <random>
#include <tuple>
#include <vector>

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
        EXPECT_TRUE(samePixels(*dst, *fresh())) << x << "," << y;
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
    EXPECT_TRUE(samePixels(*dst, *fresh()));
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
    for (const auto &row : readTable("tests/imaging/data/blend.tsv")) {
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
    EXPECT_FALSE(MixImages(white.get(), CreateFilledImage(3, 3, 255, 255, 255, 255).get(), 50));
    EXPECT_FALSE(MixImages(white.get(), CreateImageBuffer(3, 2, 24).get(), 50));

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
    for (const auto &row : readTable("tests/imaging/data/shake.tsv")) {
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
    for (int32_t y = 0; y < 4; ++y)
        EXPECT_EQ(rowPixels(*same, y), std::vector<Rgba>(6, {17, 130, 254, -1}));

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
    for (const auto &row : readTable("tests/imaging/data/filters.tsv")) {
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
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 5; ++x)
            EXPECT_EQ(pixelAt(*wide, x, y), (Rgba{GetChannel(*edges, x, y, 0), GetChannel(*edges, x, y, 0), GetChannel(*edges, x, y, 0), -1}));
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

namespace vorn {
namespace {

// ---- A column-by-column walk of the area-averaging rules, with the whole table of doubles.

constexpr int64_t fl(int64_t v) { return v >> 10; }
constexpr int64_t ce(int64_t v) { return (v + 1023) >> 10; }
constexpr int64_t fr(int64_t v) { return v & 1023; }

// The covered units [left, right] of each output pixel along one axis, clamped as the rule says.
template<typename Boundary>
std::vector<std::pair<int64_t, int64_t>> coverage(int64_t count, int64_t left, int64_t last,
                                                  Boundary boundary)
{
    std::vector<std::pair<int64_t, int64_t>> spans;
    for (int64_t i = 0; i < count; ++i) {
        int64_t right = boundary(i);
        if (right > last) {
            right = last;
            if (left > last)
                left = last - 1;
        }
        spans.push_back({left, right});
        left = right + 1;
    }
    return spans;
}

// The partly covered first pixel, the whole ones, the partly covered last one; times 1024 / n.
template<typename At>
double average(std::pair<int64_t, int64_t> span, At at)
{
    const auto [left, right] = span;
    const int64_t n = right - left + 1;
    double sum = 0;
    if (fl(left) == fl(right)) {
        sum = at(fl(left)) * double(n) / 1024;
    } else {
        if (fr(left) != 0)
            sum += at(fl(left)) * double(1024 - fr(left)) / 1024;
        for (int64_t i = ce(left); i <= fl(right) - 1; ++i)
            sum += at(i);
        if (fr(right) != 0)
            sum += at(fl(right)) * double(fr(right) + 1) / 1024;
    }
    return sum * 1024 / double(n);
}

ImagePtr referenceResample(const ImageBuffer &src, int64_t dx, int64_t dy, int64_t dw,
                           int64_t dh, int64_t sx, int64_t sy, int64_t sw, int64_t sh)
{
    dx = dx < 0 ? fr(dx) : dx;
    dy = dy < 0 ? fr(dy) : dy;
    const int64_t outW = ce(dx + dw) - fl(dx), outH = ce(dy + dh) - fl(dy);
    const int64_t srcCols = ce(sx + sw) - fl(sx), srcRows = ce(sy + sh) - fl(sy);
    const auto cols = coverage(outW, sx, sx + sw - 1, [&](int64_t c) {
        return int64_t(std::trunc(double((c + 1) * 1024 - fr(dx)) * double(sw) / double(dw))) + sx;
    });
    const auto rows = coverage(outH, fr(sy), fr(sy) + sh - 1, [&](int64_t r) {
        return int64_t(
            std::trunc(double((r + 1) * 1024 - fr(dy)) * double(sh) / double(dh) + double(fr(sy))));
    });
    const bool copy = outW == srcCols && (dx >> 6) == (sx >> 6);
    // The table: blue, green, red, alpha of each output column for each source row.
    std::vector<std::array<double, 4>> table(size_t(outW * srcRows));
    for (int64_t r = 0; r < srcRows; ++r)
        for (int64_t c = 0; c < outW; ++c)
            for (int ch = 0; ch < 4; ++ch) {
                auto at = [&](int64_t x) {
                    const Rgba p = pixelAt(src, int32_t(std::clamp<int64_t>(x, 0, src.width - 1)),
                                           int32_t(std::clamp<int64_t>(fl(sy) + r, 0, src.height - 1)));
                    return double(std::array{p.b, p.g, p.r, p.a}[size_t(ch)]);
                };
                table[size_t(r * outW + c)][size_t(ch)] =
                    copy ? at(fl(sx) + c) : average(cols[size_t(c)], at);
            }
    ImagePtr out = CreateImage(int32_t(outW), int32_t(outH));
    for (int64_t c = 0; c < outW; ++c)
        for (int64_t r = 0; r < outH; ++r) {
            int v[4];
            for (int ch = 0; ch < 4; ++ch) {
                auto at = [&](int64_t row) {
                    return table[size_t(std::clamp<int64_t>(row, 0, srcRows - 1) * outW + c)][size_t(ch)];
                };
                v[ch] = int(std::clamp(std::trunc(average(rows[size_t(r)], at) + 0.5), 0.0, 255.0));
            }
            setPixel(*out, int32_t(c), int32_t(r), {v[2], v[1], v[0], v[3]});
        }
    return out;
}

// Every fast path against the plain walk: the areas of data/resample.tsv, then random ones (at
// most 1024-fold magnification: beyond it the plain walk divides by zero).
TEST(ResampleImage, MatchesThePlainWalk)
{
    const ImagePtr noise = noisePicture(37, 29, 3);
    ImagePtr opaque = noisePicture(37, 29, 13);
    for (int32_t y = 0; y < 29; ++y)
        std::fill(opaque->alphaRow(y), opaque->alphaRow(y) + 37, uint8_t(y == 11 ? 254 : 255));
    opaque->alphaRow(20)[36] = 3;
    const ImagePtr wide = noisePicture(9000, 3, 10), tall = noisePicture(3, 9000, 12), large = noisePicture(301, 203, 11);
    const std::map<std::string, const ImageBuffer *> pictures{
        {"noise", noise.get()}, {"opaque", opaque.get()}, {"wide", wide.get()}, {"tall", tall.get()},
        {"large", large.get()}};
    // Destination and source x, y, w, h.
    const auto agrees = [](const ImageBuffer &p, const std::vector<int64_t> &d, const std::vector<int64_t> &s) {
        const ImagePtr fast = ResampleImage(&p, int32_t(d[0]), int32_t(d[1]), int32_t(d[2]), int32_t(d[3]),
                                            int32_t(s[0]), int32_t(s[1]), int32_t(s[2]), int32_t(s[3]));
        return fast && samePixels(*fast, *referenceResample(p, d[0], d[1], d[2], d[3], s[0], s[1], s[2], s[3]));
    };
    for (const auto &row : readTable("tests/imaging/data/resample.tsv"))
        EXPECT_TRUE(agrees(*pictures.at(row.at(1)), numbers(row.at(2)), numbers(row.at(3)))) << row[0];
    constexpr int64_t K = 1024, W = 37 * K, H = 29 * K;
    std::mt19937 gen(4);
    for (int round = 0; round < 300; ++round) {
        const int64_t sw = 40 + gen() % (20 * K), sh = 40 + gen() % (20 * K);
        const std::vector<int64_t> s{int64_t(gen() % (W - sw + 1)), int64_t(gen() % (H - sh + 1)), sw, sh};
        const int64_t dw = 1 + gen() % (40 * K), dh = 1 + gen() % (40 * K);
        const std::vector<int64_t> d{int64_t(gen() % 4096) - 2048, int64_t(gen() % 4096) - 2048, dw, dh};
        ASSERT_TRUE(agrees(*noise, d, s)) << "round " << round;
    }
}

TEST(ResampleImage, APictureWithoutAlphaPlaneCountsAsOpaque)
{
    ImagePtr opaque = noisePicture(13, 9, 9);
    for (int32_t y = 0; y < 9; ++y)
        std::fill(opaque->alphaRow(y), opaque->alphaRow(y) + 13, uint8_t(255));
    ImagePtr bare = CopyImage(opaque.get());
    bare->alpha.reset();
    for (const auto op : {ResampleImage, ResampleImageNearest})
        EXPECT_TRUE(samePixels(*op(opaque.get(), 300, 100, 9000, 5000, 700, 200, 11000, 8000),
                               *op(bare.get(), 300, 100, 9000, 5000, 700, 200, 11000, 8000)));
    EXPECT_TRUE(samePixels(*RotateImage(opaque.get(), 21), *RotateImage(bare.get(), 21)));
}

TEST(ResampleImage, RefusesUnusableArgumentsAndAbsurdSizes)
{
    const ImagePtr src = noisePicture(8, 8, 5);
    EXPECT_FALSE(ResampleImage(nullptr, 0, 0, 1024, 1024, 0, 0, 1024, 1024));
    EXPECT_FALSE(ResampleImage(src.get(), 0, 0, 0, 1024, 0, 0, 1024, 1024));
    EXPECT_FALSE(ResampleImage(src.get(), 0, 0, 1024, 1024, 0, 0, 0, 1024));
    EXPECT_FALSE(ResampleImage(src.get(), 0, 0, 1024, 1024, 9 * 1024, 0, 1024, 1024));
    EXPECT_FALSE(ResampleImage(src.get(), 0, 0, INT32_MAX, INT32_MAX, 0, 0, 8192, 8192));
    EXPECT_FALSE(ResampleImageNearest(src.get(), 0, 0, INT32_MAX, INT32_MAX, 0, 0, 8192, 8192));
}

TEST(ResampleImage, MagnifyingOnePixelBeyond1024TimesRepeatsIt)
{
    ImagePtr src = CreateFilledImage(1, 1, 9, 99, 199, 250);
    // 2000 pixels from one: some output columns cover less than 1/1024 of the source.
    const ImagePtr out = ResampleImage(src.get(), 0, 0, 2000 * 1024, 3 * 1024, 0, 0, 1024, 1024);
    ASSERT_TRUE(out);
    EXPECT_EQ(rowPixels(*out, 1), std::vector<Rgba>(2000, {9, 99, 199, 250}));
}

TEST(ResampleImageNearest, PicksColumnsByIntegerDivision)
{
    const ImagePtr src = noisePicture(6, 4, 6);
    const ImagePtr out = ResampleImageNearest(src.get(), 0, 0, 4 * 1024, 2 * 1024, 1024, 1024,
                                              3 * 1024, 2 * 1024);
    ASSERT_TRUE(out);
    ASSERT_EQ(out->height, 2);
    for (int32_t r = 0; r < 2; ++r) {
        const auto row = rowPixels(*src, r + 1);  // columns c * 3 / 4 + 1
        EXPECT_EQ(rowPixels(*out, r), (std::vector<Rgba>{row[1], row[1], row[2], row[3]}));
    }
}

TEST(FitImage, InsideLeavesBarsCoverCropsAndAThinPictureKeepsARow)
{
    ImagePtr src = CreateImage(400, 300);
    for (int32_t y = 0; y < 300; ++y)
        for (int32_t x = 0; x < 400; ++x)
            setPixel(*src, x, y, {x % 256, y % 256, (x * 7 + y) % 256, 255});

    // Inside: scaled to 200 x 150 between clear bars 25 high. Cover: 266 x 200, cut in the middle.
    const ImagePtr inside = FitImage(src.get(), 200, 200, FIT_INSIDE | FIT_COVER);
    ImagePtr expected = CreateImage(200, 200);
    DrawImage(*expected, ResampleImage(src.get(), 0, 0, 200 * 1024, 150 * 1024, 0, 0, 400 * 1024, 300 * 1024).get(), 0, 25, BLEND_COPY);
    EXPECT_TRUE(inside && samePixels(*inside, *expected));
    const ImagePtr cover = FitImage(src.get(), 200, 200, FIT_COVER);
    DrawImage(*expected, ResampleImage(src.get(), 0, 0, 266 * 1024, 200 * 1024, 0, 0, 400 * 1024, 300 * 1024).get(), -33, 0, BLEND_COPY);
    EXPECT_TRUE(cover && samePixels(*cover, *expected));

    EXPECT_FALSE(FitImage(src.get(), 200, 200, FIT_NEAREST));
    const ImagePtr nearest = FitImage(src.get(), 200, 200, FIT_INSIDE | FIT_NEAREST);
    ASSERT_TRUE(nearest);
    EXPECT_EQ(pixelAt(*nearest, 199, 25), pixelAt(*src, 398, 0));

    // A very thin picture keeps a row instead of vanishing.
    const ImagePtr thin = CreateFilledImage(1000, 1, 50, 60, 70, 255);
    const ImagePtr kept = FitImage(thin.get(), 10, 10, FIT_INSIDE);
    ASSERT_TRUE(kept);
    EXPECT_EQ(pixelAt(*kept, 5, 4), (Rgba{50, 60, 70, 255}));
    EXPECT_EQ(pixelAt(*kept, 5, 5).a, 0);
}

// ---- Rotation.

ImagePtr referenceRotate(const ImageBuffer &src, int32_t degrees)
{
    const double a = double(degrees % 360) * std::numbers::pi / 180.0;
    const double C = std::cos(a), S = std::sin(a);
    const int32_t W = src.width, H = src.height;
    const int32_t newW = int32_t(std::fabs(H * S) + std::fabs(W * C) + 0.5);
    const int32_t newH = int32_t(std::fabs(H * C) + std::fabs(W * S) + 0.5);
    ImagePtr out = CreateImage(newW, newH);
    const int32_t c = int32_t(C * 1024 + 0.5), s = int32_t(S * 1024 + 0.5);
    for (int32_t y = 0; y < newH; ++y) {
        int32_t u = -(newW / 2) * c - (y - newH / 2) * s;
        int32_t v = (y - newH / 2) * c - (newW / 2) * s;
        for (int32_t x = 0; x < newW; ++x) {
            const int32_t sx = (u >> 10) + W / 2, sy = (v >> 10) + H / 2;
            u += c;
            v += s;
            if (sx < 0 || sy < 0 || sx >= W || sy >= H)
                continue;
            const Rgba p = pixelAt(src, sx, sy);
            setPixel(*out, x, y, {p.r * p.a / 255, p.g * p.a / 255, p.b * p.a / 255, p.a});
        }
    }
    return out;
}

TEST(RotateImage, MatchesThePlainWalkAtManyAngles)
{
    const ImagePtr src = noisePicture(23, 14, 7);
    std::vector<int32_t> angles{0, 90, -90, 180, 270};
    for (int32_t deg = -725; deg <= 725; deg += 11)
        angles.push_back(deg);
    for (const int32_t deg : angles) {
        const ImagePtr fast = RotateImage(src.get(), deg);
        ASSERT_TRUE(fast);
        ASSERT_TRUE(samePixels(*fast, *referenceRotate(*src, deg))) << deg;
    }
}

TEST(RotateImage, ATooLargeResultIsRefused)
{
    // 46341 x 1 turned by 45 degrees needs 32768 x 32768 pixels: more than a plane may hold.
    const ImagePtr line = CreateImage(46341, 1);
    ASSERT_TRUE(line);
    EXPECT_FALSE(RotateImage(line.get(), 45));
    EXPECT_FALSE(RotateImage(nullptr, 45));
}

// ---- Pan and zoom.

TEST(PanZoomImage, FirstAndLastFramesShowTheStartAndEndRectangles)
{
    const ImagePtr src = noisePicture(100, 80, 8);
    for (int32_t y = 0; y < 80; ++y)
        for (int32_t x = 0; x < 100; ++x)
            src->alphaRow(y)[x] = 255;
    const PanZoomRects rects{{0, 0, 50, 40}, {50, 40, 100, 80}, {10, 10, 60, 50}, {0, 0, 50, 40},
                             {0, 0, 120, 90}, {5, 0, 120, 90}};
    const int32_t n = 25;
    // A 120 x 90 canvas holding the w x h area of the picture at (sx, sy), at (x, y).
    const auto area = [&](int32_t sx, int32_t sy, int32_t w, int32_t h, int32_t x, int32_t y) {
        ImagePtr picture = CreateImage(120, 90);
        DrawImage(*picture, ResampleImage(src.get(), 0, 0, w * 1024, h * 1024, sx * 1024, sy * 1024, w * 1024, h * 1024).get(),
                  x, y, BLEND_COPY);
        return picture;
    };
    // First the start area at (10, 10) and nothing around it; last the end area at (0, 0), left
    // of the clip's end position (x 5) cut off.
    ImagePtr shown = CreateImage(120, 90);
    ASSERT_EQ(PanZoomImage(shown.get(), src.get(), 120, 90, rects, 0, n, 0), 0);
    EXPECT_TRUE(samePixels(*shown, *area(0, 0, 50, 40, 10, 10)));
    shown = CreateImage(120, 90);
    ASSERT_EQ(PanZoomImage(shown.get(), src.get(), 120, 90, rects, n - 1, n, 0), 0);
    EXPECT_TRUE(samePixels(*shown, *area(55, 40, 45, 40, 5, 0)));
}

TEST(PanZoomImage, AClipReachingPastTheCanvasShowsOnlyTheCanvas)
{
    const ImagePtr src = CreateFilledImage(40, 40, 9, 8, 7, 255);
    // The destination is larger than the 40 x 40 canvas.
    PanZoomRects rects{{0, 0, 40, 40}, {0, 0, 40, 40}, {-10, -10, 50, 50}, {-10, -10, 50, 50},
                       {-5, -5, 60, 45}, {-5, -5, 60, 45}};
    ImagePtr dst = CreateImage(70, 50);
    ASSERT_EQ(PanZoomImage(dst.get(), src.get(), 40, 40, rects, 3, 10, 0), 0);
    // Placed at -10 / 1024 truncated to 0, so the canvas is covered from (0, 0) on; the clip
    // shows the canvas at its own position and nothing beyond it.
    for (int32_t y = 0; y < 50; ++y)
        for (int32_t x = 0; x < 70; ++x) {
            const bool onCanvas = x < 40 && y < 40;
            ASSERT_EQ(pixelAt(*dst, x, y).a > 0, onCanvas) << x << "," << y;
        }
    // Inside the canvas the same clip, cut directly, gives the same pixels.
    rects.clipStart = rects.clipEnd = {0, 0, 40, 40};
    ImagePtr inside = CreateImage(70, 50);
    ASSERT_EQ(PanZoomImage(inside.get(), src.get(), 40, 40, rects, 3, 10, 0), 0);
    EXPECT_TRUE(samePixels(*inside, *dst));
}

TEST(PanZoomImage, MissingPicturesAndSingleFrames)
{
    const ImagePtr src = CreateFilledImage(10, 10, 1, 2, 3, 255);
    ImagePtr dst = CreateImage(10, 10);
    const PanZoomRects rects{{0, 0, 10, 10}, {0, 0, 10, 10}, {0, 0, 5, 5}, {0, 0, 10, 10},
                             {0, 0, 10, 10}, {0, 0, 10, 10}};
    EXPECT_EQ(PanZoomImage(nullptr, src.get(), 10, 10, rects, 0, 2, 0), -4);
    EXPECT_EQ(PanZoomImage(dst.get(), nullptr, 10, 10, rects, 0, 2, 0), -4);
    // One frame shows the start rectangles instead of dividing by zero.
    ASSERT_EQ(PanZoomImage(dst.get(), src.get(), 10, 10, rects, 0, 1, BLEND_LIGHTEN), 0);
    EXPECT_EQ(pixelAt(*dst, 4, 4), (Rgba{1, 2, 3, 255}));
    EXPECT_EQ(pixelAt(*dst, 5, 5).a, 0);
    // Of two frames the second shows the end rectangles.
    ASSERT_EQ(PanZoomImage(dst.get(), src.get(), 10, 10, rects, 1, 2, BLEND_LIGHTEN), 0);
    EXPECT_EQ(pixelAt(*dst, 7, 7), (Rgba{1, 2, 3, 255}));
}

TEST(FilmStrip, LengthAndFrameOffset)
{
    EXPECT_EQ(FilmStripLength(160, 3), 420);
    EXPECT_EQ(FilmFrameOffset(160, 3), 260);
    EXPECT_EQ(FilmStripLength(15, 3), 0);
    EXPECT_EQ(FilmStripLength(1 << 30, 1 << 20), (int64_t(1) << 26) * 13 * (1 << 20)
                                                      + (int64_t(1) << 26) * 3);
}

} // namespace
} // namespace vorn
