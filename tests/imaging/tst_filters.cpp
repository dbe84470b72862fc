// Colour filters: exact pixel values, thresholds, borders and the alpha plane.
#include "imaging/filters.h"
#include "pictures.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

using namespace vorn;
using namespace vorn::test;

TEST(Filters, MissingOrUnsupportedInputGivesNone)
{
    EXPECT_FALSE(SepiaImage(nullptr));
    EXPECT_FALSE(MonoImage(nullptr));
    EXPECT_FALSE(NegaImage(nullptr));
    EXPECT_FALSE(DiscolorImage(nullptr, 0.5));
    EXPECT_FALSE(HighpassImage(nullptr));
    EXPECT_FALSE(ExpandTo24Bit(nullptr));
    EXPECT_FALSE(KeepChannel(nullptr, 0));
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
    ImagePtr flat = CreateFilledImage(9, 7, 120, 30, 200, 255);
    ImagePtr none = HighpassImage(flat.get());
    ASSERT_TRUE(none);
    EXPECT_EQ(none->bitCount, 1);
    EXPECT_FALSE(none->alpha);
    for (int32_t y = 0; y < 7; ++y)
        for (int32_t x = 0; x < 9; ++x)
            EXPECT_EQ(GetChannel(*none, x, y, 0), 0) << x << "," << y;

    // A bright dot in the middle and one in a corner (whose outside neighbours repeat it).
    ImagePtr dots = CreateFilledImage(5, 5, 100, 100, 100, 255);
    SetPixelRgb(*dots, 2, 2, 200, 200, 200);
    SetPixelRgb(*dots, 0, 0, 200, 100, 100);
    SetPixelRgb(*dots, 4, 4, 100, 100, 200);  // blue alone
    ImagePtr edges = HighpassImage(dots.get());
    ASSERT_TRUE(edges);
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
    const struct {
        int32_t x, y;
        bool white;
    } points[] = {{19, 50, true}, {20, 50, false}, {180, 50, true}, {179, 50, false},
                  {100, 19, true}, {100, 20, false}, {100, 80, true}, {100, 79, false},
                  {0, 0, true}, {199, 99, true}};
    for (const auto &p : points)
        EXPECT_EQ(pixelAt(*framed, p.x, p.y), p.white ? white : (Rgba{10, 20, 30, 77})) << p.x << "," << p.y;
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
