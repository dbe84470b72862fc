// Tests of shapes, text and film strips: pixel geometry, colouring, placement, and golden
// pictures.
#include "imaging/filmstrip.h"
#include "imaging/qimageconvert.h"
#include "imaging/shapecanvas.h"
#include "imaging/shapes.h"
#include "imaging/textimage.h"

#include "base/linesink.h"
#include "base/sjis.h"
#include "pictures.h"
#include "support/guienvironment.h"
#include "support/recordingprompter.h"

#include <gtest/gtest.h>

#include <QFont>
#include <QFontInfo>
#include <QImage>

#include <array>
#include <map>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace vorn {
namespace {

using namespace test;

using Pixel = std::pair<int32_t, int32_t>;

// The pixels of a picture that pass `lit`.
template<typename Lit>
std::set<Pixel> litPixels(const ImageBuffer &image, Lit lit)
{
    std::set<Pixel> pixels;
    for (int32_t y = 0; y < image.height; ++y)
        for (int32_t x = 0; x < image.width; ++x)
            if (lit(pixelAt(image, x, y)))
                pixels.insert({x, y});
    return pixels;
}

std::array<int32_t, 4> boundsOf(const std::set<Pixel> &pixels)
{
    std::array<int32_t, 4> box{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    for (const auto &[x, y] : pixels)
        box = {std::min(box[0], x), std::min(box[1], y), std::max(box[2], x), std::max(box[3], y)};
    return box;
}

std::unique_ptr<ShapeLine> line(std::initializer_list<Pixel> points, int32_t width = 0)
{
    auto shape = std::make_unique<ShapeLine>();
    for (const auto &[x, y] : points)
        shape->addPoint(x, y);
    shape->width = width;
    return shape;
}

std::unique_ptr<ShapePolygon> polygon(std::initializer_list<Pixel> points, int32_t fill)
{
    auto shape = std::make_unique<ShapePolygon>();
    for (const auto &[x, y] : points)
        shape->addPoint(x, y);
    shape->fill = fill;
    return shape;
}

std::unique_ptr<ShapeEllipse> ellipse(int32_t l, int32_t t, int32_t r, int32_t b, int32_t fill,
                                      int32_t angle = 0, int32_t width = 1)
{
    auto shape = std::make_unique<ShapeEllipse>();
    std::tie(shape->left, shape->top, shape->right, shape->bottom) = std::tie(l, t, r, b);
    std::tie(shape->fill, shape->angle, shape->width) = std::tie(fill, angle, width);
    return shape;
}

// ---- Shape geometry: the rows of data/shapes.tsv.

TEST(ShapeGeometry, EachShapeLightsItsPixels)
{
    for (const auto &row : readTable("shapes.tsv")) {
        std::unique_ptr<ShapeLine> shape =
            row.at(1) == "line" ? line({}) : std::unique_ptr<ShapeLine>(polygon({}, row[1] == "filled"));
        shape->width = int32_t(numbers(row.at(2)).at(0));
        std::set<Pixel> expected;
        for (const auto &corners : groups(row.at(4)))
            for (int64_t y = corners[1]; y <= corners[3]; ++y)
                for (int64_t x = corners[0]; x <= corners[2]; ++x)
                    expected.insert({int32_t(x), int32_t(y)});
        for (const auto &point : groups(row.at(3)))
            shape->addPoint(int32_t(point[0]), int32_t(point[1]));
        ShapeCanvas canvas(40, 30);
        shape->Draw(canvas);
        EXPECT_EQ(litPixels(*canvas.toImage(), [](Rgba p) { return p.r != 0; }), expected) << row[0];
    }
}

// Wide pens are centred on the line, with round caps; pixels outside the canvas are ignored,
// the row and column just beyond it included. (Ellipses' exact pixels are in the golden picture.)
TEST(ShapeGeometry, WidePensAndPlotsOutsideTheCanvas)
{
    ShapeCanvas wide(40, 30);
    line({{10, 10}, {20, 10}}, 3)->Draw(wide);
    EXPECT_EQ(boundsOf(litPixels(*wide.toImage(), [](Rgba p) { return p.r != 0; })),
              (std::array<int32_t, 4>{9, 9, 21, 11}));  // round caps
    ShapeCanvas canvas(64, 4);
    for (int32_t x = -1; x <= 64; ++x) {
        canvas.plot(x, 4);
        canvas.plot(x, -1);
    }
    for (int32_t y = -1; y <= 4; ++y) {
        canvas.plot(64, y);
        canvas.plot(-1, y);
    }
    EXPECT_TRUE(litPixels(*canvas.toImage(), [](Rgba p) { return p.r != 0; }).empty());
}

// ---- DrawShapesImage: colouring, adding up, rotation.

TEST(DrawShapesImage, CrossingLinesAddUpAndTheRestIsBackground)
{
    ShapeList shapes;
    shapes.push_back(line({{0, 5}, {20, 5}}));
    shapes.push_back(line({{10, 0}, {10, 10}}));
    shapes.push_back(polygon({{12, 1}, {18, 1}, {18, 4}, {12, 4}}, 0));  // outline only
    RecordingPrompter errors;
    const ImagePtr image =
        DrawShapesImage(21, 11, shapes, {200, 0, 0, 180}, {0, 0, 255, 40}, &errors);
    ASSERT_TRUE(image);
    EXPECT_TRUE(errors.errors.empty());
    const Rgba fore{200, 0, 0, 180}, back{0, 0, 255, 40};
    // Where the lines cross the colour adds up; the polyline ends before its last point.
    const std::pair<Pixel, Rgba> expected[] = {
        {{10, 5}, {255, 0, 0, 180}}, {{3, 5}, fore}, {{10, 2}, fore}, {{3, 3}, back},
        {{0, 5}, back}, {{15, 2}, back}, {{12, 2}, fore}, {{18, 4}, fore}};
    for (const auto &[at, colour] : expected)
        EXPECT_EQ(pixelAt(*image, at.first, at.second), colour) << at.first << "," << at.second;
}

// 360 degrees is no turn (90 and 30 are in the golden picture).
TEST(DrawShapesImage, AFullTurnIsNoTurn)
{
    auto render = [](int32_t angle) {
        ShapeList shapes;
        shapes.push_back(ellipse(20, 40, 60, 50, 1, angle));
        return DrawShapesImage(80, 90, shapes, {255, 255, 255, 255}, {0, 0, 0, 0}, nullptr);
    };
    EXPECT_TRUE(samePixels(*render(0), *render(360)));
    EXPECT_FALSE(samePixels(*render(0), *render(359)));
}

TEST(DrawShapesImage, FarAwayCoordinatesDrawQuicklyWithoutWrapping)
{
    ShapeList shapes;
    shapes.push_back(line({{INT32_MIN, INT32_MIN}, {INT32_MAX, INT32_MAX}}));
    shapes.push_back(polygon({{INT32_MIN, 0}, {INT32_MAX, 5}, {0, INT32_MAX}}, 1));
    shapes.push_back(ellipse(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 0));
    shapes.push_back(ellipse(-1000000, 5, 1000000, 6, 1, 45, 7));
    const ImagePtr image = DrawShapesImage(64, 48, shapes, {255, 255, 255, 255}, {}, nullptr);
    ASSERT_TRUE(image);
    // The diagonal through the origin passes (10, 10); the thin ellipse row 5 is lit through.
    EXPECT_EQ(pixelAt(*image, 10, 10).a, 255);
}

// ---- Written lines (each shape's lines are in the scenario model's read-then-write test).

TEST(ShapeWrite, StopsAtTheFirstFailingLine)
{
    class FailingSink : public LineSink {
    public:
        int32_t line(std::string_view) override { return ++calls == 3 ? -4 : 0; }
        int calls = 0;
    } sink;
    EXPECT_EQ(line({{1, 2}, {3, 4}})->Write(sink), -4);
    EXPECT_EQ(sink.calls, 3);
}

// ---- Text.

SjisString sjis(const char *utf8)
{
    return utf8ToSjis(utf8).value();
}

const Colour White{255, 255, 255, 255};
const Colour Blue{0, 0, 255, 255};

// The first row (from the top) and column whose colour is no longer the background: where
// the text layer was placed.
std::pair<int32_t, int32_t> layerOrigin(const ImageBuffer &image)
{
    int32_t y = 0;
    while (y < image.height && pixelAt(image, image.width - 1, y) == Rgba{0, 0, 255, 255})
        ++y;
    int32_t x = 0;
    while (x < image.width && pixelAt(image, x, image.height - 1) == Rgba{0, 0, 255, 255})
        ++x;
    return {x, y};
}

// White text on blue in a W x H picture: the face, the font's width and height, alignments
// and margin.
ImagePtr drawText(std::string_view text, int32_t w, int32_t h, const char *face, int32_t fw,
                  int32_t fh, int32_t align, int32_t valign, int32_t margin)
{
    return DrawTextImage(sjis(text.data()), w, h, sjis(face), fw, fh, align, valign, margin, White,
                         Blue, nullptr);
}

// The rows of data/textblock.tsv.
TEST(DrawTextImage, BlockPlacementAndSize)
{
    const std::map<std::string, int32_t> valigns{
        {"top", TEXT_VALIGN_TOP}, {"bottom", TEXT_VALIGN_BOTTOM}, {"center", TEXT_VALIGN_CENTER}};
    int32_t firstX = -1;
    for (const auto &row : readTable("textblock.tsv")) {
        const auto size = numbers(row.at(1)), font = numbers(row.at(2)), at = numbers(row.at(5));
        const ImagePtr image = drawText(row[0], int32_t(size[0]), int32_t(size[1]), "ＭＳ ゴシック", int32_t(font[0]),
                                        int32_t(font[1]), TEXT_ALIGN_CENTER, valigns.at(row.at(3)), int32_t(numbers(row.at(4))[0]));
        ASSERT_TRUE(image);
        const auto [x, y] = layerOrigin(*image);
        if (at[0] < 0 && firstX < 0) {
            firstX = x;
            EXPECT_GT(x, 50);
            EXPECT_LT(x, 100);
        }
        EXPECT_NEAR(y, at[1], 2) << row[0] << " in " << row[1];
        EXPECT_NEAR(x, at[0] < 0 ? firstX : at[0], 2) << row[0] << " in " << row[1];
    }
}

TEST(DrawTextImage, AlphaFollowsGlyphCoverageTimesTextAlphaOnEveryThread)
{
    const auto draw = [](uint8_t alpha) {
        return DrawTextImage(sjis("Wave 波"), 120, 40, sjis("ＭＳ ゴシック"), 0, 30, TEXT_ALIGN_CENTER,
                             TEXT_VALIGN_CENTER, 0, {10, 20, 30, alpha}, {0, 0, 0, 0}, nullptr);
    };
    const ImagePtr opaque = draw(255);
    const ImagePtr faint = draw(128);
    ASSERT_TRUE(opaque && faint);
    // Previews render on a thread of their own: the same picture there.
    ImagePtr there;
    std::thread([&] { there = draw(255); }).join();
    ASSERT_TRUE(there);
    EXPECT_TRUE(samePixels(*opaque, *there));
    int partial = 0, full = 0;
    for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 120; ++x) {
            const Rgba a = pixelAt(*opaque, x, y);
            const Rgba b = pixelAt(*faint, x, y);
            ASSERT_EQ(b.a, a.a * 128 / 255) << x << "," << y;
            if (a.a > 0) {
                EXPECT_EQ(a.r, 10);
                EXPECT_EQ(a.b, 30);
            }
            partial += a.a > 0 && a.a < 255;
            full += a.a == 255;
        }
    // Anti-aliased edges are partly transparent; stems are opaque.
    EXPECT_GT(partial, 20);
    EXPECT_GT(full, 20);
}

TEST(DrawTextImage, AlignArrangesLinesWithinTheBlock)
{
    int32_t blockLeft = -1;
    auto secondLineStart = [&](int32_t align) {
        const ImagePtr image = drawText("WWWWWW\r\nii", 300, 100, "MS Gothic", 0, 30, align, TEXT_VALIGN_TOP, 0);
        blockLeft = layerOrigin(*image).first;
        // The second line lies in rows 30..59 of the block, which starts at the top.
        for (int32_t x = 0; x < 300; ++x)
            for (int32_t y = 32; y < 58; ++y)
                if (const Rgba p = pixelAt(*image, x, y); p.r == 255 && p.b == 255 && p.a > 128)
                    return x;
        return -1;
    };
    const int32_t left = secondLineStart(TEXT_ALIGN_LEFT);
    const int32_t right = secondLineStart(TEXT_ALIGN_RIGHT);
    const int32_t centre = secondLineStart(TEXT_ALIGN_CENTER);
    // The block is centred in the picture and the same for every alignment.
    const int32_t blockWidth = 300 - 2 * blockLeft;
    EXPECT_NEAR(blockWidth, 6 * 14, 6);
    // Flush left starts at the block's left (plus the glyph's side bearing); flush right and
    // centred move the line by the block's spare width and half of it.
    EXPECT_GE(left, blockLeft);
    EXPECT_LT(left, blockLeft + 8);
    EXPECT_GT(right - left, 40);
    EXPECT_NEAR(right - left, 2 * (centre - left), 1);
}

TEST(DrawTextImage, JapaneseFaceNamesReachAJapaneseFont)
{
    // Drawing once installs the substitutions for the Windows face names.
    ASSERT_TRUE(DrawTextImage(sjis("字"), 40, 40, sjis("ＭＳ ゴシック"), 0, 20, 1, 17, 0, White,
                              Blue, nullptr));
    for (const char *name : {"ＭＳ ゴシック", "MS Gothic"}) {
        QFont font(QString::fromUtf8(name));
        EXPECT_EQ(QFontInfo(font).family(), QStringLiteral("IPAGothic")) << name;
    }
    QFont proportional(QString::fromUtf8("ＭＳ Ｐゴシック"));
    EXPECT_EQ(QFontInfo(proportional).family(), QStringLiteral("IPAPGothic"));
}

// Sizes no picture can have are reported once each, as the window shows them; text that cannot
// be laid out as asked is still drawn.
TEST(Drawing, UnusableSizesReportAndOddTextIsDrawn)
{
    RecordingPrompter errors;
    const ShapeList none;
    EXPECT_FALSE(DrawShapesImage(0, 10, none, {}, {}, &errors));
    EXPECT_FALSE(DrawShapesImage(100000, 100000, none, {}, {}, &errors));
    EXPECT_FALSE(DrawTextImage("A", 0, 10, "MS Gothic", 0, 10, 1, 17, 0, White, Blue, &errors));
    EXPECT_FALSE(MakeFilmStrip(2, 1, 0, 0, 40, 1, 1, 1, &errors));
    EXPECT_FALSE(MakeFilmStrip(2, 0, 0, 40, INT32_MAX, 1, 1, 1, &errors));
    const std::string bitmap = "ビットマップの作成に失敗しました。";
    EXPECT_EQ(errors.errors, (std::vector<std::string>{bitmap, "画像の作成に失敗しました。", bitmap, bitmap, bitmap}));
    // A lead byte without its trail byte, an empty text, absurd font sizes (shrunk to the
    // picture), no room at all between the margins.
    for (const auto &[text, fontSize, margin] : {std::tuple{"\x82", 10, 0}, {"", 10, 0}, {"ABC", INT32_MAX, 0}, {"A", 10, 30}})
        EXPECT_TRUE(DrawTextImage(text, 60, 20, "MS Gothic", fontSize, fontSize, 1, 17, margin, White, Blue, &errors)) << text;
    EXPECT_EQ(errors.errors.size(), 5u);
    // u = 1: the hole step 13 / 14 rounds to 0 and must still advance; strips too short for a
    // frame unit (u = 0) have no bands, either way round; a long strip far scrolled costs
    // nothing outside the window.
    EXPECT_TRUE(MakeFilmStrip(2, 1, 0, 20, 40, 255, 255, 255, nullptr));
    EXPECT_TRUE(MakeFilmStrip(2, 1, 3, 10, 40, 255, 255, 255, nullptr));
    EXPECT_TRUE(MakeFilmStrip(2, 0, 3, 40, 10, 255, 255, 255, nullptr));
    EXPECT_TRUE(MakeFilmStrip(1 << 20, 1, 1 << 30, 320, 240, 1, 2, 3, nullptr));
    // A hole 2 pixels high (at 0, 1) is punched whole: too small for rounded corners.
    EXPECT_EQ(pixelAt(*MakeFilmStrip(3, 1, 0, 200, 40, 255, 255, 255, nullptr), 0, 1).r, 0);
}

// ---- Golden pictures. Set VORN_UPDATE_GOLDEN=1 to write them afresh.

// Each row draws a picture and compares it with the stored one: `tolerance` is the largest
// channel difference allowed, `share` the fraction of pixels that may exceed it (font
// rasterisers may differ slightly at glyph edges).
TEST(Golden, Pictures)
{
    const auto shapeSet = [] {
        ShapeList shapes;
        shapes.push_back(polygon({{20, 20}, {120, 20}, {120, 80}, {20, 80}}, 1));
        shapes.push_back(polygon({{150, 10}, {230, 60}, {170, 110}}, 0));
        auto wide = polygon({{60, 100}, {110, 140}, {30, 150}}, 0);
        wide->width = 4;
        shapes.push_back(std::move(wide));
        shapes.push_back(line({{10, 170}, {90, 120}, {150, 175}, {230, 130}}, 1));
        shapes.push_back(ellipse(140, 120, 230, 170, 1));
        shapes.push_back(ellipse(60, 30, 180, 70, 0, 30, 3));
        shapes.push_back(ellipse(180, 80, 240, 100, 1, 90));
        return DrawShapesImage(250, 190, shapes, {230, 120, 20, 220}, {20, 40, 90, 255}, nullptr);
    };
    const struct {
        const char *name;
        ImagePtr image;
        int tolerance;
        double share;
    } cases[] = {
        {"shapes.png", shapeSet(), 0, 0.0},
        {"filmstrip-h.png", MakeFilmStrip(3, 1, 37, 320, 120, 80, 24, 0, nullptr), 0, 0.0},
        {"filmstrip-v.png", MakeFilmStrip(3, 0, 11, 120, 240, 30, 30, 30, nullptr), 0, 0.0},
        {"text.png", DrawTextImage(sjis("日本語のテキスト\r\nLatin text 123\r\n右寄せ"), 320, 120,
                                   sjis("ＭＳ ゴシック"), 12, 28, TEXT_ALIGN_RIGHT, TEXT_VALIGN_CENTER,
                                   8, {250, 240, 200, 255}, {20, 20, 60, 255}, nullptr), 64, 0.02},
    };
    const char *update = std::getenv("VORN_UPDATE_GOLDEN");  // "1" writes them afresh
    for (const auto &c : cases) {
        ASSERT_TRUE(c.image) << c.name;
        const QString path = QString::fromUtf8(VORN_TEST_DATA_DIR "/golden/") + c.name;
        const QImage actual = ImageBufferToQImage(*c.image);
        if (update && std::string(update) == "1") {
            EXPECT_TRUE(actual.save(path, "PNG"));
            continue;
        }
        const QImage expected = QImage(path).convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(expected.size(), actual.size()) << c.name;
        int64_t off = 0;
        for (int y = 0; y < actual.height(); ++y)
            for (int x = 0; x < actual.width(); ++x) {
                const QRgb a = actual.pixel(x, y), e = expected.pixel(x, y);
                off += std::max({std::abs(qRed(a) - qRed(e)), std::abs(qGreen(a) - qGreen(e)),
                                 std::abs(qBlue(a) - qBlue(e)), std::abs(qAlpha(a) - qAlpha(e))}) > c.tolerance;
            }
        EXPECT_LE(double(off), c.share * actual.width() * actual.height()) << c.name;
    }
}

} // namespace
} // namespace vorn
