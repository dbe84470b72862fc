// Tests of shapes, text and film strips: GDI pixel geometry, colouring, placement, and golden
// pictures.
#include "imaging/filmstrip.h"
#include "imaging/shapecanvas.h"
#include "imaging/shapes.h"
#include "imaging/textimage.h"

#include "base/linesink.h"
#include "base/prompter.h"
#include "base/sjis.h"
#include "support/pixelprobe.h"

#include "support/guienvironment.h"
#include "support/recordingprompter.h"

#include <gtest/gtest.h>

#include <QFont>
#include <QFontInfo>
#include <QGuiApplication>
#include <QImage>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vorn {
namespace {

using test::pixelAt;
using test::Rgba;

using test::RecordingPrompter;

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

// The white pixels a single shape draws on a black canvas.
std::set<Pixel> drawn(const Shape &shape, int32_t w = 40, int32_t h = 30)
{
    ShapeCanvas canvas(w, h);
    shape.Draw(canvas);
    return litPixels(*canvas.toImage(), [](Rgba p) { return p.r || p.g || p.b; });
}

std::array<int32_t, 4> boundsOf(const std::set<Pixel> &pixels)
{
    std::array<int32_t, 4> box{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    for (const auto &[x, y] : pixels) {
        box[0] = std::min(box[0], x);
        box[1] = std::min(box[1], y);
        box[2] = std::max(box[2], x);
        box[3] = std::max(box[3], y);
    }
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
    shape->left = l;
    shape->top = t;
    shape->right = r;
    shape->bottom = b;
    shape->fill = fill;
    shape->angle = angle;
    shape->width = width;
    return shape;
}

// ---- Shape geometry.

TEST(ShapeGeometry, LinesLeaveOutTheirLastPixelAndWidePensAreCentred)
{
    // Points are stored newest first, so the line runs from (10, 5) to (2, 5).
    const auto flat = line({{2, 5}, {10, 5}});
    ASSERT_EQ(flat->points.front(), (ShapePoint{10, 5}));
    std::set<Pixel> expected;
    for (int32_t x = 3; x <= 10; ++x)
        expected.insert({x, 5});
    EXPECT_EQ(drawn(*flat), expected);

    // Halfway between two rows a flat line lights the upper pixel; a steep one the left.
    EXPECT_EQ(drawn(*line({{4, 1}, {0, 0}})), (std::set<Pixel>{{0, 0}, {1, 0}, {2, 0}, {3, 1}}));
    EXPECT_EQ(drawn(*line({{1, 4}, {0, 0}})), (std::set<Pixel>{{0, 0}, {0, 1}, {0, 2}, {1, 3}}));
    // A single point draws nothing, with any pen.
    EXPECT_TRUE(drawn(*line({{5, 5}})).empty());
    EXPECT_TRUE(drawn(*line({{5, 5}}, 6)).empty());
    // A polyline lights every joint once and leaves out only its final point.
    EXPECT_EQ(drawn(*line({{0, 2}, {2, 2}, {2, 0}})),
              (std::set<Pixel>{{2, 0}, {2, 1}, {2, 2}, {1, 2}}));
    // Wide pens are centred on the line.
    const auto box = boundsOf(drawn(*line({{10, 10}, {20, 10}}, 3)));
    EXPECT_EQ(box[1], 9);
    EXPECT_EQ(box[3], 11);
    EXPECT_LE(box[0], 10);
    EXPECT_GE(box[2], 20);
}

TEST(ShapeGeometry, FilledPolygonCoversItsCornersInclusively)
{
    // A RECT from (10, 20) to (30, 25), corners added in the reader's order.
    const auto rect = polygon({{10, 20}, {30, 20}, {30, 25}, {10, 25}}, 1);
    std::set<Pixel> expected;
    for (int32_t y = 20; y <= 25; ++y)
        for (int32_t x = 10; x <= 30; ++x)
            expected.insert({x, y});
    EXPECT_EQ(drawn(*rect), expected);

    // Without FILL only the outline.
    const auto outline = drawn(*polygon({{10, 20}, {30, 20}, {30, 25}, {10, 25}}, 0));
    EXPECT_EQ(outline.size(), size_t(2 * 21 + 2 * 4));
    EXPECT_FALSE(outline.count({20, 22}));
    EXPECT_TRUE(outline.count({30, 25}));
}

TEST(ShapeGeometry, TriangleFillTakesPixelCentresInside)
{
    // Fill alone (a black outline would be indistinguishable): lit pixels must have their
    // centre inside or on a left/top edge of the triangle (0,0) (8,0) (0,8).
    auto triangle = polygon({{0, 0}, {8, 0}, {0, 8}}, 1);
    const auto lit = drawn(*triangle);
    for (int32_t y = 0; y <= 8; ++y)
        for (int32_t x = 0; x <= 8; ++x) {
            const bool onOutline = x == 0 || y == 0 || x + y == 8;
            const bool inside = x + y < 8;
            EXPECT_EQ(lit.count({x, y}) == 1, inside || onOutline) << x << "," << y;
        }
}

TEST(ShapeGeometry, EllipseSpansItsRegionWithoutRightAndBottom)
{
    const auto outline = drawn(*ellipse(10, 10, 30, 20, 0));
    EXPECT_EQ(boundsOf(outline), (std::array<int32_t, 4>{10, 10, 29, 19}));
    EXPECT_FALSE(outline.count({20, 15}));

    const auto filled = drawn(*ellipse(10, 10, 30, 20, 1));
    EXPECT_EQ(boundsOf(filled), (std::array<int32_t, 4>{10, 10, 29, 19}));
    EXPECT_TRUE(filled.count({20, 15}));
    // Every row of a filled ellipse is one unbroken run, symmetric about the centre.
    for (int32_t y = 10; y <= 19; ++y) {
        int32_t first = -1, last = -1, count = 0;
        for (int32_t x = 0; x < 40; ++x)
            if (filled.count({x, y})) {
                first = first < 0 ? x : first;
                last = x;
                ++count;
            }
        EXPECT_EQ(count, last - first + 1) << y;
        EXPECT_EQ(first - 10, 29 - last) << y;
    }
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
    EXPECT_EQ(pixelAt(*image, 10, 5), (Rgba{255, 0, 0, 180}));
    EXPECT_EQ(pixelAt(*image, 3, 5), fore);
    EXPECT_EQ(pixelAt(*image, 10, 2), fore);
    EXPECT_EQ(pixelAt(*image, 3, 3), back);
    // The polyline ends before its last point, which stays background.
    EXPECT_EQ(pixelAt(*image, 0, 5), back);
    EXPECT_EQ(pixelAt(*image, 15, 2), back);
    EXPECT_EQ(pixelAt(*image, 12, 2), fore);
    EXPECT_EQ(pixelAt(*image, 18, 4), fore);
}

TEST(DrawShapesImage, EllipseAnglesTurnAboutTheCentre)
{
    auto render = [](int32_t angle) {
        ShapeList shapes;
        shapes.push_back(ellipse(20, 40, 60, 50, 1, angle));
        return DrawShapesImage(80, 90, shapes, {255, 255, 255, 255}, {0, 0, 0, 0}, nullptr);
    };
    auto inkBox = [](const ImageBuffer &image) {
        return boundsOf(litPixels(image, [](Rgba p) { return p.a != 0; }));
    };
    const ImagePtr flat = render(0);
    const ImagePtr full = render(360);
    ASSERT_TRUE(flat && full);
    EXPECT_TRUE(test::samePixels(*flat, *full));
    EXPECT_EQ(inkBox(*flat), (std::array<int32_t, 4>{20, 40, 59, 49}));

    const ImagePtr upright = render(90);
    ASSERT_TRUE(upright);
    const auto box = inkBox(*upright);
    // 40 x 10 becomes 10 x 40 about the centre (40, 45), within a pixel of rounding.
    EXPECT_NEAR(box[2] - box[0] + 1, 10, 1);
    EXPECT_NEAR(box[3] - box[1] + 1, 40, 1);
    EXPECT_NEAR((box[0] + box[2] + 1) / 2.0, 40, 1);
    EXPECT_NEAR((box[1] + box[3] + 1) / 2.0, 45, 1);
    // The turned ellipse is opaque where drawn and nowhere else coloured.
    EXPECT_EQ(pixelAt(*upright, 40, 45), (Rgba{255, 255, 255, 255}));
    EXPECT_EQ(pixelAt(*upright, 25, 45), (Rgba{0, 0, 0, 0}));
}

TEST(DrawShapesImage, ReportsAnUnusableSize)
{
    RecordingPrompter errors;
    ShapeList shapes;
    EXPECT_FALSE(DrawShapesImage(0, 10, shapes, {}, {}, &errors));
    ASSERT_EQ(errors.errors.size(), 1u);
    EXPECT_EQ(errors.errors[0], "ビットマップの作成に失敗しました。");
    EXPECT_FALSE(DrawShapesImage(100000, 100000, shapes, {}, {}, &errors));
    EXPECT_EQ(errors.errors.size(), 2u);
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

TEST(DrawTextImage, ValignPlacesTheBlockAndTheCellHeightIsTheFontHeight)
{
    const SjisString text = sjis("Ab");
    const SjisString face = sjis("ＭＳ ゴシック");
    auto draw = [&](int32_t valign) {
        return DrawTextImage(text, 200, 100, face, 0, 24, TEXT_ALIGN_CENTER, valign, 10, White,
                             Blue, nullptr);
    };
    const ImagePtr top = draw(TEXT_VALIGN_TOP);
    const ImagePtr bottom = draw(TEXT_VALIGN_BOTTOM);
    const ImagePtr centre = draw(TEXT_VALIGN_CENTER);
    ASSERT_TRUE(top && bottom && centre);
    const auto [xTop, yTop] = layerOrigin(*top);
    EXPECT_EQ(yTop, 10);
    const auto [xBottom, yBottom] = layerOrigin(*bottom);
    const int32_t th = 100 - 10 - yBottom;
    // The block is as high as a character cell, which the font height asks for.
    EXPECT_NEAR(th, 24, 1);
    EXPECT_EQ(layerOrigin(*centre).second, (100 - th) / 2);
    // Horizontally centred in every case, by the block's width.
    EXPECT_EQ(xTop, xBottom);
    EXPECT_GT(xTop, 50);
    EXPECT_LT(xTop, 100);
}

TEST(DrawTextImage, TextTwiceTooWideIsDrawnAtHalfSize)
{
    const SjisString face = sjis("MS Gothic");
    const SjisString text = sjis("ABCDEFGHIJ");
    // Measure the text at its size: the block width is where the layer starts, mirrored.
    const ImagePtr roomy =
        DrawTextImage(text, 400, 100, face, 10, 20, TEXT_ALIGN_CENTER, TEXT_VALIGN_TOP, 0,
                      White, Blue, nullptr);
    ASSERT_TRUE(roomy);
    const int32_t tw = 400 - 2 * layerOrigin(*roomy).first;
    EXPECT_NEAR(tw, 100, 2);  // ten characters 10 pixels wide

    // A room half as wide: both font dimensions halve, so the block is half as wide and high.
    const ImagePtr tight =
        DrawTextImage(text, tw / 2, 100, face, 10, 20, TEXT_ALIGN_CENTER, TEXT_VALIGN_BOTTOM, 0,
                      White, Blue, nullptr);
    ASSERT_TRUE(tight);
    const auto [x, y] = layerOrigin(*tight);
    EXPECT_NEAR(tw / 2 - 2 * x, tw / 2, 2);
    EXPECT_NEAR(100 - y, 10, 1);  // cell height 20 halved

    // Text that fits is never enlarged.
    const ImagePtr fits = DrawTextImage(text, 1000, 500, face, 10, 20, TEXT_ALIGN_CENTER,
                                        TEXT_VALIGN_BOTTOM, 0, White, Blue, nullptr);
    EXPECT_NEAR(500 - layerOrigin(*fits).second, 20, 1);
}

TEST(DrawTextImage, AlphaFollowsGlyphCoverageTimesTextAlphaOnEveryThread)
{
    const SjisString text = sjis("Wave 波");
    const SjisString face = sjis("ＭＳ ゴシック");
    const ImagePtr opaque = DrawTextImage(text, 120, 40, face, 0, 30, TEXT_ALIGN_CENTER,
                                          TEXT_VALIGN_CENTER, 0, {10, 20, 30, 255},
                                          {0, 0, 0, 0}, nullptr);
    const ImagePtr faint = DrawTextImage(text, 120, 40, face, 0, 30, TEXT_ALIGN_CENTER,
                                         TEXT_VALIGN_CENTER, 0, {10, 20, 30, 128}, {0, 0, 0, 0},
                                         nullptr);
    ASSERT_TRUE(opaque && faint);
    // Previews render on a thread of their own: the same picture there.
    ImagePtr there;
    std::thread worker([&] {
        there = DrawTextImage(text, 120, 40, face, 0, 30, TEXT_ALIGN_CENTER, TEXT_VALIGN_CENTER, 0,
                              {10, 20, 30, 255}, {0, 0, 0, 0}, nullptr);
    });
    worker.join();
    ASSERT_TRUE(there);
    EXPECT_TRUE(test::samePixels(*opaque, *there));
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
    const SjisString text = sjis("WWWWWW\r\nii");
    const SjisString face = sjis("MS Gothic");
    int32_t blockLeft = -1;
    auto secondLineStart = [&](int32_t align) {
        const ImagePtr image = DrawTextImage(text, 300, 100, face, 0, 30, align,
                                             TEXT_VALIGN_TOP, 0, White, Blue, nullptr);
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

TEST(DrawTextImage, UnusableSizesReportAndCutOffBytesDoNotCrash)
{
    RecordingPrompter errors;
    EXPECT_FALSE(DrawTextImage("A", 0, 10, "MS Gothic", 0, 10, 1, 17, 0, White, Blue, &errors));
    ASSERT_EQ(errors.errors.size(), 1u);
    EXPECT_EQ(errors.errors[0], "ビットマップの作成に失敗しました。");
    // A lead byte without its trail byte, and an empty text.
    EXPECT_TRUE(DrawTextImage("\x82", 50, 20, "MS Gothic", 0, 10, 1, 17, 0, White, Blue, &errors));
    EXPECT_TRUE(DrawTextImage("", 50, 20, "MS Gothic", 0, 10, 1, 17, 0, White, Blue, &errors));
    // Absurd font sizes are shrunk to the picture.
    EXPECT_TRUE(DrawTextImage("ABC", 60, 20, "MS Gothic", INT32_MAX, INT32_MAX, 1, 17, 0, White,
                              Blue, &errors));
    // No room at all between the margins.
    EXPECT_TRUE(DrawTextImage("A", 50, 20, "MS Gothic", 0, 10, 1, 17, 30, White, Blue, &errors));
    EXPECT_EQ(errors.errors.size(), 1u);
}

// ---- Film strip (its bands, separators and holes are in the golden pictures below).

TEST(MakeFilmStrip, ShortStripsFinishAndBadSizesReport)
{
    // u = 1: the hole step 13 / 14 rounds to 0 and must still advance.
    const ImagePtr tiny = MakeFilmStrip(2, 1, 0, 20, 40, 255, 255, 255, nullptr);
    ASSERT_TRUE(tiny);
    RecordingPrompter errors;
    EXPECT_FALSE(MakeFilmStrip(2, 1, 0, 0, 40, 1, 1, 1, &errors));
    EXPECT_FALSE(MakeFilmStrip(2, 0, 0, 40, INT32_MAX, 1, 1, 1, &errors));
    EXPECT_EQ(errors.errors.size(), 2u);
    // A long strip far scrolled costs nothing outside the window.
    EXPECT_TRUE(MakeFilmStrip(1 << 20, 1, 1 << 30, 320, 240, 1, 2, 3, nullptr));
}

// ---- Golden pictures. Set VORN_UPDATE_GOLDEN=1 to write them afresh.

QImage toQImage(const ImageBuffer &image)
{
    QImage out(image.width, image.height, QImage::Format_ARGB32);
    for (int32_t y = 0; y < image.height; ++y)
        for (int32_t x = 0; x < image.width; ++x) {
            const Rgba p = pixelAt(image, x, y);
            out.setPixel(x, y, qRgba(p.r, p.g, p.b, p.a < 0 ? 255 : p.a));
        }
    return out;
}

// Compares with the stored picture; `tolerance` is the largest channel difference allowed,
// `share` the fraction of pixels that may exceed it.
void expectGolden(const ImageBuffer &image, const char *name, int tolerance, double share)
{
    const std::filesystem::path path =
        std::filesystem::path(VORN_TEST_DATA_DIR) / "golden" / name;
    const QImage actual = toQImage(image);
    const char *update = std::getenv("VORN_UPDATE_GOLDEN");
    if (update && std::string(update) == "1") {
        std::filesystem::create_directories(path.parent_path());
        ASSERT_TRUE(actual.save(QString::fromStdString(path.string()), "PNG"));
        return;
    }
    QImage expected(QString::fromStdString(path.string()));
    ASSERT_FALSE(expected.isNull()) << "missing " << path << " (VORN_UPDATE_GOLDEN=1 makes it)";
    expected = expected.convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(expected.size(), actual.size());
    int64_t off = 0;
    for (int y = 0; y < actual.height(); ++y)
        for (int x = 0; x < actual.width(); ++x) {
            const QRgb a = actual.pixel(x, y), e = expected.pixel(x, y);
            const int d = std::max({std::abs(qRed(a) - qRed(e)), std::abs(qGreen(a) - qGreen(e)),
                                    std::abs(qBlue(a) - qBlue(e)),
                                    std::abs(qAlpha(a) - qAlpha(e))});
            off += d > tolerance;
        }
    EXPECT_LE(double(off), share * actual.width() * actual.height()) << name;
}

TEST(Golden, ShapeSet)
{
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
    const ImagePtr image =
        DrawShapesImage(250, 190, shapes, {230, 120, 20, 220}, {20, 40, 90, 255}, nullptr);
    ASSERT_TRUE(image);
    expectGolden(*image, "shapes.png", 0, 0.0);
}

TEST(Golden, FilmStrip)
{
    const ImagePtr horizontal = MakeFilmStrip(3, 1, 37, 320, 120, 80, 24, 0, nullptr);
    ASSERT_TRUE(horizontal);
    expectGolden(*horizontal, "filmstrip-h.png", 0, 0.0);
    const ImagePtr vertical = MakeFilmStrip(3, 0, 11, 120, 240, 30, 30, 30, nullptr);
    ASSERT_TRUE(vertical);
    expectGolden(*vertical, "filmstrip-v.png", 0, 0.0);
}

TEST(Golden, Text)
{
    const ImagePtr image = DrawTextImage(sjis("日本語のテキスト\r\nLatin text 123\r\n右寄せ"),
                                         320, 120, sjis("ＭＳ ゴシック"), 12, 28,
                                         TEXT_ALIGN_RIGHT, TEXT_VALIGN_CENTER, 8,
                                         {250, 240, 200, 255}, {20, 20, 60, 255}, nullptr);
    ASSERT_TRUE(image);
    // Font rasterisers may differ slightly at glyph edges.
    expectGolden(*image, "text.png", 64, 0.02);
}

} // namespace
} // namespace vorn
