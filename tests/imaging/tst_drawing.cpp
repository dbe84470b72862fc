// Pictures made from shapes, text and film strips (pixel geometry, colouring, placement, golden
// pictures) and from files: ImageBuffer layout (strides, bottom-up rows, channel order and
// clamping, size limits); LoadImageFile: the decoder's pixels in bottom-up blue-green-red rows,
// refusal of bad files, and the cache of decoded files; photo metadata: EXIF values by type, and
// the placeholders of TEXT strings.
#include "imaging/filmstrip.h"
#include "imaging/imagefile.h"
#include "imaging/photoproperty.h"
#include "imaging/qimageconvert.h"
#include "imaging/shapecanvas.h"
#include "imaging/shapes.h"
#include "imaging/textimage.h"

#include "base/linesink.h"
#include "base/sjis.h"
#include "pictures.h"
#include "support/guienvironment.h"
#include "support/recordingprompter.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <QFont>
#include <QFontInfo>
#include <QImage>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
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
    for (const auto &row : readTable("tests/imaging/data/shapes.tsv")) {
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
    for (const auto &row : readTable("tests/imaging/data/textblock.tsv")) {
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
            EXPECT_TRUE(a.a == 0 || (a.r == 10 && a.b == 30)) << x << "," << y;
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
    for (const auto &[name, family] : {std::pair{"ＭＳ ゴシック", "IPAGothic"}, {"MS Gothic", "IPAGothic"}, {"ＭＳ Ｐゴシック", "IPAPGothic"}})
        EXPECT_EQ(QFontInfo(QFont(QString::fromUtf8(name))).family(), QString::fromUtf8(family)) << name;
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

namespace fs = std::filesystem;
using namespace vorn;
using namespace vorn::test;

namespace {

QImage patterned(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(40 * x + 3, 50 * y + 7, (x * 7 + y * 11) & 255));
    return image;
}

bool save(const QImage &image, const fs::path &file, const char *format = nullptr)
{
    return image.save(QString::fromUtf8(file.c_str()), format, 85);
}

} // namespace

// Every row is the decoder's own output byte for byte, its padding 0, the top row last in
// memory; named pixels check the colours where the source format holds more than colour.
TEST(LoadImageFile, GivesTheDecodersPixelsBottomUp)
{
    const test::TempDir dir;
    QImage withAlpha(2, 1, QImage::Format_ARGB32);
    withAlpha.setPixel(0, 0, qRgba(200, 100, 50, 128));
    withAlpha.setPixel(1, 0, qRgba(10, 20, 30, 0));
    QImage indexed(3, 2, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(1, 2, 3), qRgb(250, 128, 0)});
    indexed.fill(0);
    indexed.setPixel(2, 1, 1);
    const QImage grey = patterned(7, 3).convertToFormat(QImage::Format_Grayscale8);
    // Widths 1, 7 and 13 leave 1 to 3 pixels after groups of four.
    const struct {
        const char *file, *format;
        QImage source;
        std::vector<std::pair<QPoint, Rgba>> pixels;
    } cases[] = {
        {"p.png", "PNG", patterned(5, 3), {{{4, 2}, {163, 107, 50, -1}}}},
        {"p.bmp", "BMP", patterned(5, 3), {{{0, 0}, {3, 7, 0, -1}}}},
        {"p.ppm", "PPM", patterned(5, 3), {{{1, 2}, {43, 107, 29, -1}}}},
        {"1.jpg", "JPEG", patterned(1, 9), {}},
        {"7.jpg", "JPEG", patterned(7, 9), {}},
        {"13.jpg", "JPEG", patterned(13, 9), {}},
        {"64.jpg", "JPEG", patterned(64, 9), {}},
        // The content decides the format, not the name.
        {"photo.bmp", "JPEG", patterned(16, 16), {}},
        {"13.pgm", "PGM", patterned(13, 9).convertToFormat(QImage::Format_Grayscale8), {}},
        {"a.png", "PNG", withAlpha, {{{0, 0}, {200, 100, 50, -1}}, {{1, 0}, {10, 20, 30, -1}}}},
        {"i.png", "PNG", indexed, {{{0, 0}, {1, 2, 3, -1}}, {{2, 1}, {250, 128, 0, -1}}}},
        {"interlaced.png", nullptr, {}, {{{12, 8}, {227, 151, 172, -1}}}},
        {"g.png", "PNG", grey, {{{1, 0}, {qGray(grey.pixel(1, 0)), qGray(grey.pixel(1, 0)),
                                           qGray(grey.pixel(1, 0)), -1}}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        const fs::path file = dir.path() / c.file;
        if (c.format)
            ASSERT_TRUE(save(c.source, file, c.format));
        else  // written by scripts/make-interlaced-png: Qt writes no interlaced PNG
            fs::copy_file(fs::path(VORN_TEST_DATA_DIR) / c.file, file);
        const ImagePtr image = LoadImageFile(file);
        ASSERT_TRUE(image);
        const QImage expected = QImage(QString::fromUtf8(file.c_str())).convertToFormat(QImage::Format_BGR888);
        ASSERT_EQ(QSize(image->width, image->height), expected.size());
        EXPECT_EQ(image->bitCount, 24);
        EXPECT_FALSE(image->alpha);
        const int w = image->width;
        for (int y = 0; y < image->height; ++y) {
            ASSERT_EQ(std::memcmp(image->row(y), expected.constScanLine(y), size_t(3 * w)), 0) << y;
            for (int i = 3 * w; i < image->stride; ++i)
                ASSERT_EQ(image->row(y)[i], 0) << y;
        }
        EXPECT_EQ(image->pixels[size_t(image->height - 1) * size_t(image->stride)],
                  expected.constScanLine(0)[0]);
        for (const auto &[at, rgba] : c.pixels)
            EXPECT_EQ(pixelAt(*image, at.x(), at.y()), rgba) << at.x() << "," << at.y();
        // Back to Qt for the screen: the same colours, top row first.
        EXPECT_EQ(ImageBufferToQImage(*image, AlphaUse::Ignore),
                  expected.convertToFormat(QImage::Format_RGB32));
    }
}

TEST(LoadImageFile, RefusesWhatItCannotDecode)
{
    const test::TempDir dir;
    auto path = [&](const char *name) { return dir.path() / name; };
    EXPECT_FALSE(LoadImageFile(path("missing.png")));
    EXPECT_FALSE(LoadImageFile(dir.path()));  // a directory
    // A FIFO with no writer would block a reader forever.
    ASSERT_EQ(::mkfifo(path("fifo.png").c_str(), 0600), 0);
    EXPECT_FALSE(LoadImageFile(path("fifo.png")));
    dir.write("text.jpg", "This is not a picture.\n");
    EXPECT_FALSE(LoadImageFile(path("text.jpg")));
    dir.write("empty.png", "");
    EXPECT_FALSE(LoadImageFile(path("empty.png")));

    // A BMP header declaring 40000 x 40000 pixels at 24 bits (4.8 GB) and no pixel data is
    // refused before decoding.
    std::string bmp = "BM";
    for (const uint32_t v : {54u + 64, 0u, 54u, 40u, 40000u, 40000u, 24u << 16 | 1})
        bmp.append(reinterpret_cast<const char *>(&v), 4);
    dir.write("huge.bmp", bmp + std::string(24, '\0') + std::string(64, '\x7f'));
    EXPECT_FALSE(LoadImageFile(path("huge.bmp")));

    // Whether these bytes load, and whether their header reads.
    const auto loads = [&](const std::string &bytes) { dir.write("f", bytes); return bool(LoadImageFile(path("f"))); };
    const auto readable = [&](const std::string &bytes) { dir.write("f", bytes); return ReadImageFileHeader(path("f")).readable; };
    for (const char *format : {"PNG", "JPEG"}) {
        ASSERT_TRUE(save(patterned(40, 30), path("whole"), format));
        std::ifstream in(path("whole"), std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        // Cut inside the header, in the pixel data, or by its last bytes: the decoder would pad
        // the last two with grey.
        EXPECT_FALSE(loads(bytes.substr(0, 20)) || loads(bytes.substr(0, bytes.size() / 2))) << format;
        EXPECT_FALSE(loads(bytes.substr(0, bytes.size() - 2))) << format;
        EXPECT_TRUE(readable(bytes.substr(0, bytes.size() - 2))) << format;
        // A flipped bit in the header's checksum (the decoder would print its own error).
        std::string flipped = bytes;
        flipped[format == std::string("PNG") ? 29 : 3] ^= 1;
        EXPECT_EQ(loads(flipped), format != std::string("PNG")) << format;
        EXPECT_EQ(readable(flipped), format != std::string("PNG")) << format;

        // A chunk whose type is not four letters (one the decoder would skip, as its first
        // byte has the ancillary bit) before the pixel data.
        const std::string chunk = bytes.substr(0, 33) + std::string("\0\0\0\0" "1abc" "\0\0\0\0", 12) + bytes.substr(33);
        if (format == std::string("PNG")) {
            EXPECT_FALSE(readable(chunk) || loads(chunk));
        }
        // The pixel budget is tested on the declared size, before decoding.
        EXPECT_TRUE(LoadImageFile(path("whole"), 40 * 30)) << format;
        EXPECT_FALSE(LoadImageFile(path("whole"), 40 * 30 - 1)) << format;
        EXPECT_TRUE(ReadImageFileHeader(path("whole")).fits(40 * 30)) << format;
        EXPECT_FALSE(ReadImageFileHeader(path("whole")).fits(40 * 30 - 1)) << format;
    }
    // A few hundred bytes that declare 16000 x 16000 pixels.
    for (const char *bomb : {"bomb-16000.jpg", "bomb-16000.png"}) {
        const fs::path file = fs::path(VORN_SOURCE_DIR) / "tests/data/scenario" / bomb;
        const ImageFileHeader header = ReadImageFileHeader(file);
        EXPECT_TRUE(header.readable) << bomb;
        EXPECT_EQ(header.width, 16000) << bomb;
        EXPECT_FALSE(header.fits(PicturePixelBudget(1920, 1080))) << bomb;
        EXPECT_FALSE(LoadImageFile(file, PicturePixelBudget(1920, 1080))) << bomb;
    }
    EXPECT_EQ(PicturePixelBudget(720, 480), MinPicturePixels);
    EXPECT_EQ(PicturePixelBudget(3840, 2160), 16 * 3840 * 2160);
}

TEST(LoadImageFile, CacheHandsOutCopiesAndNoticesChangedFiles)
{
    const test::TempDir dir;
    SetImageFileCacheBudget(DefaultImageFileCacheBytes);
    const fs::path file = dir.path() / "cached.png";
    auto writeFilled = [&](QRgb colour, int hoursAgo) {
        QImage image(6, 4, QImage::Format_RGB32);
        image.fill(colour);
        ASSERT_TRUE(save(image, file));
        fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::hours(hoursAgo));
    };
    // The colour of the picture loaded now (alpha -2: none loaded).
    const auto loaded = [&] {
        const ImagePtr image = LoadImageFile(file);
        return image ? pixelAt(*image, 5, 3) : Rgba{0, 0, 0, -2};
    };
    writeFilled(qRgb(10, 20, 30), 1);
    ImagePtr first = LoadImageFile(file);
    ASSERT_TRUE(first);
    setPixel(*first, 5, 3, {99, 99, 99, -1});  // the caller's own copy
    EXPECT_EQ(loaded(), (Rgba{10, 20, 30, -1}));
    // Hits, entries and bytes.
    const auto stats = [] {
        const ImageFileCacheStats now = GetImageFileCacheStats();
        return std::vector<int64_t>{now.hits, now.entries, now.bytes};
    };
    EXPECT_EQ(stats(), (std::vector<int64_t>{1, 1, 4 * 20}));

    // Rewritten (same size on disk, another time): decoded again.
    writeFilled(qRgb(200, 100, 0), 2);
    EXPECT_EQ(loaded(), (Rgba{200, 100, 0, -1}));
    EXPECT_EQ(GetImageFileCacheStats().entries, 1);

    // A file modified just now is not trusted to the cache; a removed file is not served.
    writeFilled(qRgb(1, 2, 3), 0);
    loaded();
    EXPECT_EQ(loaded(), (Rgba{1, 2, 3, -1}));
    EXPECT_EQ(GetImageFileCacheStats().hits, 1);
    writeFilled(qRgb(4, 5, 6), 3);
    EXPECT_EQ(loaded(), (Rgba{4, 5, 6, -1}));
    fs::remove(file);
    EXPECT_EQ(loaded().a, -2);

    // A budget smaller than the picture keeps nothing.
    SetImageFileCacheBudget(16);
    writeFilled(qRgb(7, 8, 9), 4);
    loaded();
    loaded();
    EXPECT_EQ(stats(), (std::vector<int64_t>{0, 0, 0}));

    // Threads sharing the cached picture each get the whole of it.
    SetImageFileCacheBudget(DefaultImageFileCacheBytes);
    writeFilled(qRgb(11, 12, 13), 5);
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 25; ++i)
                good += loaded() == Rgba{11, 12, 13, -1};
        });
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(good.load(), 100);
    EXPECT_GE(GetImageFileCacheStats().hits, 1);
}

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
    EXPECT_EQ(std::memcmp(copy->alpha.get(), image->alpha.get(), size_t(image->alphaStride * 2)), 0);

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

namespace {

// Written by scripts/make-exif-jpeg.
const fs::path Tagged = fs::path(VORN_TEST_DATA_DIR) / "exif-tagged.jpg";
const fs::path Untagged = fs::path(VORN_TEST_DATA_DIR) / "exif-none.jpg";

void putLittle(std::string &out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += char((value >> (8 * i)) & 0xFF);
}

// The untagged picture with an EXIF block whose IFD0 holds these ASCII tags (ids ascending).
std::string jpegWithAsciiTags(const std::vector<std::pair<uint16_t, std::string>> &tags)
{
    std::string tiff = "II*";
    tiff += '\0';
    putLittle(tiff, 8, 4);
    putLittle(tiff, uint32_t(tags.size()), 2);
    uint32_t dataAt = 8 + 2 + 12 * uint32_t(tags.size()) + 4;
    std::string data;
    for (const auto &[id, text] : tags) {
        putLittle(tiff, id, 2);
        putLittle(tiff, 2, 2);  // ASCII
        putLittle(tiff, uint32_t(text.size() + 1), 4);
        putLittle(tiff, dataAt + uint32_t(data.size()), 4);
        data += text;
        data += '\0';
    }
    putLittle(tiff, 0, 4);
    tiff += data;
    const std::string payload = std::string("Exif\0\0", 6) + tiff;
    std::ifstream in(Untagged, std::ios::binary);
    const std::string plain((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t length = payload.size() + 2;
    return plain.substr(0, 2) + "\xFF\xE1" + char(length >> 8) + char(length & 0xFF) + payload +
           plain.substr(2);
}

} // namespace

TEST(PhotoProperty, FormatsByTypeAndGivesNoneForTheRest)
{
    for (const auto &row : test::readTable("tests/imaging/data/exif.tsv")) {
        const auto text = row.at(1) == "-" ? std::nullopt : std::optional(row[1]);
        EXPECT_EQ(GetPhotoProperty(Tagged, uint16_t(std::stoi(row[0], nullptr, 16))), text) << row[0];
    }
    for (const fs::path &file : {Untagged, fs::path(VORN_TEST_DATA_DIR) / "no-such.jpg",
                                 fs::path(VORN_SOURCE_DIR) / "CMakeLists.txt"})
        EXPECT_EQ(GetPhotoProperty(file, 0x010F), std::nullopt) << file;
}

TEST(PhotoProperty, ExpandsEveryOccurrenceAndKeepsShiftJisBytes)
{
    // "表" is 0x95 0x5C in Shift-JIS: its second byte must survive untouched.
    const std::string text = "\x95\x5C %MAKER%/%MODEL% %EXPOSURE%s F%FNUMBER% ISO%ISO% "
                             "%FLASH% %FOCUS%mm %SOFTWARE% %DATE% %MAKER% %maker% %LENS%";
    EXPECT_EQ(ExpandPhotoPlaceholders(text, Tagged),
              "\x95\x5C VornCam/VC-100 Mk II 1 / 60s F28 / 10 ISO400 16 35 / 1mm "
              "vorn-test 1.0 2024:05:06 07:08:09 VornCam %maker% %LENS%");
}

TEST(PhotoProperty, WithoutExifEveryPlaceholderIsABlank)
{
    EXPECT_EQ(ExpandPhotoPlaceholders("[%MAKER%][%MODEL%][%SOFTWARE%][%DATE%][%EXPOSURE%]"
                                      "[%FNUMBER%][%ISO%][%FLASH%][%FOCUS%]%ISO%%ISO%",
                                      Untagged),
              "[ ][ ][ ][ ][ ][ ][ ][ ][ ]  ");
    EXPECT_EQ(ExpandPhotoPlaceholders("%MAKER%", fs::path(VORN_TEST_DATA_DIR) / "no-such.jpg"),
              " ");
    // A FIFO with no writer would block a reader forever.
    const test::TempDir dir;
    ASSERT_EQ(::mkfifo((dir.path() / "fifo.jpg").c_str(), 0600), 0);
    EXPECT_EQ(ExpandPhotoPlaceholders("%ISO%", dir.path() / "fifo.jpg"), " ");
    EXPECT_EQ(ExpandPhotoPlaceholders("100% plain", Untagged), "100% plain");
    EXPECT_EQ(ExpandPhotoPlaceholders("", Untagged), "");
}

TEST(PhotoProperty, ValuesHoldingLaterPlaceholdersAreExpandedWithinABound)
{
    const vorn::test::TempDir dir;
    // A value is not searched again for its own placeholder, but later rows search it.
    const fs::path chained = dir.write(
        "chained.jpg", jpegWithAsciiTags({{0x010F, "%MODEL%%MAKER%"}, {0x0110, "m%SOFTWARE%"}}));
    EXPECT_EQ(ExpandPhotoPlaceholders("<%MAKER%>", chained), "<m %MAKER%>");

    // 4,000 models in the maker, each 2,500 softwares: 10^7 placeholders. The value that would
    // pass the bound is left out, as an unreadable one is.
    const auto repeated = [](const std::string &text, int times) {
        std::string out;
        for (int i = 0; i < times; ++i)
            out += text;
        return out;
    };
    const std::string maker = repeated("%MODEL%", 4000), model = repeated("%SOFTWARE%", 2500);
    const fs::path bomb = dir.write("bomb.jpg", jpegWithAsciiTags({{0x010F, maker}, {0x0110, model}}));
    ASSERT_EQ(GetPhotoProperty(bomb, 0x0110), model);
    EXPECT_EQ(ExpandPhotoPlaceholders("%MAKER%", bomb), std::string(4000, ' '));
    // Within the bound the same values are expanded in full.
    const std::string within = ExpandPhotoPlaceholders("%MODEL%%MODEL%", bomb);
    EXPECT_EQ(within.size(), 2 * 2500u);
    EXPECT_EQ(within.find_first_not_of(' '), std::string::npos);  // no SOFTWARE tag: blanks
    EXPECT_EQ(ExpandPhotoPlaceholders("%MODEL%", bomb).size(), 2500u);
    // A value that grows the text by the bound exactly is kept: 32 makers, 2^15 bytes longer each.
    const fs::path exact = dir.write("exact.jpg", jpegWithAsciiTags({{0x010F, std::string(7 + 32768, 'm')}}));
    EXPECT_EQ(ExpandPhotoPlaceholders(repeated("%MAKER%", 32), exact).size(), 32u * (7 + 32768));
}
