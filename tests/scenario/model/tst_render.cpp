// Rendering tests: scenarios read from text, rendered frame by frame, pixels checked.
#include "base/prompter.h"
#include "base/scenariopath.h"
#include "imaging/compose.h"
#include "scenario/model/blocks.h"
#include "scenario/model/scenario.h"
#include "scenario/reader/linker.h"
#include "scenario/reader/reader.h"

#include "support/guienvironment.h"
#include "support/pixelprobe.h"
#include "support/recordingprompter.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace vorn {
namespace {

using test::RecordingPrompter;

using test::Rgba;
using test::samePixels;

// A pixel; a picture without an alpha plane is opaque.
Rgba at(const ImageBuffer &picture, int32_t x, int32_t y)
{
    Rgba pixel = test::pixelAt(picture, x, y);
    pixel.a = pixel.a < 0 ? 255 : pixel.a;
    return pixel;
}

// Mean position of the pixels a predicate picks; (-1, -1) when none.
struct Point {
    double x, y;
};
Point centroid(const ImageBuffer &picture, const std::function<bool(Rgba)> &pick)
{
    double sx = 0, sy = 0;
    int n = 0;
    for (int32_t y = 0; y < picture.height; ++y)
        for (int32_t x = 0; x < picture.width; ++x)
            if (pick(at(picture, x, y))) {
                sx += x;
                sy += y;
                ++n;
            }
    return n ? Point{sx / n, sy / n} : Point{-1, -1};
}

bool isRed(Rgba p) { return p.a > 128 && p.r > 128 && p.g < 100 && p.b < 100; }
bool isGreen(Rgba p) { return p.a > 128 && p.g > 128 && p.r < 100 && p.b < 100; }

// A scenario directory with generated pictures; scenarios are read through the reader and
// linked as a user's file would be.
class RenderTest : public ::testing::Test {
protected:
    // A PNG of one colour, with an optional rectangle of another.
    void picture(const std::string &name, int w, int h, QColor fill,
                 QRect patch = QRect(), QColor patchColour = QColor())
    {
        QImage image(w, h, QImage::Format_RGB888);
        image.fill(fill);
        if (!patch.isNull()) {
            QPainter painter(&image);
            painter.fillRect(patch, patchColour);
        }
        ASSERT_TRUE(image.save(QString::fromStdString((m_dir / name).string()), "PNG"));
    }
    // The pictures of the solid STILLs below.
    void solids()
    {
        picture("red.png", 64, 48, Qt::red);
        picture("blue.png", 64, 48, Qt::blue);
        picture("white.png", 64, 48, Qt::white);
    }
    // A PNG whose rows differ: row y is (y * 5, 255 - y * 5, 7).
    void rowsPicture(const std::string &name, int w, int h)
    {
        QImage image(w, h, QImage::Format_RGB888);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                image.setPixelColor(x, y, QColor(y * 5 % 256, 255 - y * 5 % 256, 7));
        ASSERT_TRUE(image.save(QString::fromStdString((m_dir / name).string()), "PNG"));
    }

    // Reads, links and validates `text`; fails the test on any message.
    Scenario &load(const std::string &text)
    {
        m_scenario = std::make_unique<Scenario>();
        m_scenario->prompter = &m_prompter;
        const auto file = m_dir / "scenario.txt";
        std::ofstream(file, std::ios::binary) << text;
        const int32_t read = vorn::load(*m_scenario, pathToSjis(file).value());
        const int32_t linked = read == 0 ? link(*m_scenario) : -1;
        EXPECT_EQ(read, 0);
        EXPECT_EQ(linked, 0);
        EXPECT_TRUE(m_prompter.errors.empty()) << m_prompter.errors.front();
        return *m_scenario;
    }

    template <typename T = Block>
    T *block(const std::string &name)
    {
        return dynamic_cast<T *>(m_scenario->findBlock(name));
    }

    // Every block's handed-out pictures are back and, with `dropped`, its kept pictures gone.
    void expectIdle(bool dropped = true)
    {
        for (auto &b : m_scenario->blocks) {
            const std::string name = b->name.value_or("");
            std::lock_guard guard(b->lock);
            EXPECT_EQ(b->pending, 0) << name;
            if (!dropped)
                continue;
            EXPECT_FALSE(b->cacheA) << name;
            EXPECT_FALSE(b->cacheB) << name;
            if (auto *a = dynamic_cast<ActionBlock *>(b.get())) {
                EXPECT_FALSE(a->sourceCache) << name;
            }
            if (auto *r = dynamic_cast<RotateBlock *>(b.get())) {
                EXPECT_FALSE(r->layerCache) << name;
            }
            if (auto *f = dynamic_cast<FilmBlock *>(b.get())) {
                EXPECT_TRUE(f->stripCache.empty()) << name;
            }
            if (auto *i = dynamic_cast<ImageBlock *>(b.get())) {
                EXPECT_FALSE(i->image) << name;
            }
        }
    }

    test::TempDir m_temp;
    const std::filesystem::path m_dir = m_temp.path();
    RecordingPrompter m_prompter;
    std::unique_ptr<Scenario> m_scenario;
};

// A picture of a block at a frame, handed back when it goes out of scope.
class Frame {
public:
    Frame(Block *block, int32_t frame) : m_block(block), m_frame(frame)
    {
        m_image = block ? block->render(frame) : nullptr;
    }
    ~Frame()
    {
        if (m_image)
            m_block->release(m_image, m_frame);
    }
    Frame(const Frame &) = delete;
    Frame &operator=(const Frame &) = delete;
    const ImageBuffer *operator->() const { return m_image; }
    const ImageBuffer &operator*() const { return *m_image; }
    explicit operator bool() const { return m_image != nullptr; }

private:
    Block *m_block;
    int32_t m_frame;
    ImageBuffer *m_image;
};

const char Screen64[] = "SCREEN 64 48\r\n";

// A red marker ten pixels right of the turning centre (20, 20) and a green one on it: the
// green one must stay and the red one go round it counter-clockwise on screen.
TEST_F(RenderTest, RotateTurnsAboutTheCentreInQuarterTurns)
{
    Scenario &s = load(std::string(Screen64) + R"(
DRAW "marks" {
  SIZE 64 48
  COLOR 255 0 0 255
  RECT { POINT 29 19 POINT 32 22 FILL }
}
DRAW "centre" {
  SIZE 64 48
  COLOR 0 255 0 255
  RECT { POINT 19 19 POINT 22 22 FILL }
}
ROTATE "turn" {
  INPUT "marks"
  INPUT "centre"
  CENTER 20 20
  ANGLE 0 360
  FRAMES 5
}
MAIN { INPUT "turn" }
)");
    ASSERT_EQ(s.totalFrames, 5);
    const Point start = [&] {
        Frame f(block("turn"), 0);
        return centroid(*f, isRed);
    }();
    ASSERT_NEAR(start.x, 30, 1.0);
    ASSERT_NEAR(start.y, 20, 1.0);
    const double dx = start.x - 20, dy = start.y - 20;
    // Counter-clockwise on screen (y grows downwards): (dx, dy) -> (dy, -dx).
    const Point expected[] = {{20 + dx, 20 + dy}, {20 + dy, 20 - dx}, {20 - dx, 20 - dy},
                              {20 - dy, 20 + dx}, {20 + dx, 20 + dy}};
    for (int32_t f = 0; f < 5; ++f) {
        SCOPED_TRACE(f);
        EXPECT_EQ(block<RotateBlock>("turn")->angleAt(f), 90 * f);
        Frame picture(block("turn"), f);
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->width, 64);
        EXPECT_EQ(picture->height, 48);
        const Point red = centroid(*picture, isRed);
        const Point green = centroid(*picture, isGreen);
        EXPECT_NEAR(red.x, expected[f].x, 1.0);
        EXPECT_NEAR(red.y, expected[f].y, 1.0);
        EXPECT_NEAR(green.x, 20.5, 1.0);
        EXPECT_NEAR(green.y, 20.5, 1.0);
    }
    expectIdle();
}

// Without SRC_START the whole picture is panned; a SRC_START beyond the picture is cut back to
// its edges and gives exactly what the cut-back rectangle gives.
TEST_F(RenderTest, ActionSourceRectangles)
{
    picture("halves.png", 40, 30, Qt::blue, QRect(0, 0, 20, 30), Qt::red);
    Scenario &s = load(std::string(Screen64) + R"(
IMAGE "halves" { FILE "halves.png" }
ACTION "whole" {
  INPUT "halves"
  DST_START 0 0 63 47  DST_END 0 0 63 47
  DSP_START 0 0 63 47  DSP_END 0 0 63 47
  FRAMES 2
}
ACTION "outside" {
  INPUT "halves"
  SRC_START -10 -10 19 29  SRC_END -10 -10 19 29
  DST_START 0 0 63 47  DST_END 0 0 63 47
  DSP_START 0 0 63 47  DSP_END 0 0 63 47
  FRAMES 2
}
ACTION "inside" {
  INPUT "halves"
  SRC_START 0 0 19 29  SRC_END 0 0 19 29
  DST_START 0 0 63 47  DST_END 0 0 63 47
  DSP_START 0 0 63 47  DSP_END 0 0 63 47
  FRAMES 2
}
MAIN { INPUT "whole" INPUT "outside" INPUT "inside" }
)");
    ASSERT_EQ(s.totalFrames, 6);
    ImagePtr first;
    {
        Frame whole(block("whole"), 0);
        ASSERT_TRUE(whole);
        first = CopyImage(&*whole);
        EXPECT_TRUE(isRed(at(*whole, 5, 24)));
        EXPECT_EQ(at(*whole, 58, 24).b, 255);
        EXPECT_EQ(at(*whole, 58, 24).r, 0);
        EXPECT_EQ(at(*whole, 0, 0).a, 255);
        EXPECT_EQ(at(*whole, 63, 47).a, 255);
    }
    {
        Frame last(block("whole"), 1);
        EXPECT_TRUE(samePixels(*first, *last));
    }
    {
        Frame outside(block("outside"), 1);
        Frame inside(block("inside"), 1);
        ASSERT_TRUE(outside);
        ASSERT_TRUE(inside);
        EXPECT_TRUE(samePixels(*outside, *inside));
        EXPECT_TRUE(isRed(at(*outside, 63, 47)));
        EXPECT_TRUE(isRed(at(*outside, 0, 0)));
    }
    expectIdle();
}

// FOCUS keeps the source's aspect: one destination, the first one fitted, for the whole block.
TEST_F(RenderTest, FocusKeepsAspectWithOneDestination)
{
    picture("wide.png", 40, 10, Qt::red);
    load(std::string(Screen64) + R"(
IMAGE "wide" { FILE "wide.png" }
FOCUS "focus" {
  INPUT "wide"
  DSP_START 0 0 63 47
  DSP_END 16 12 47 35
  FRAMES 4
}
MAIN { INPUT "focus" }
)");
    auto *focus = block<ActionBlock>("focus");
    ASSERT_TRUE(focus->keepAspect);
    const PanZoomRects rects = focus->rectanglesFor(40, 10);
    EXPECT_EQ(rects.dstStart, (Rect{0, 16, 64, 32}));
    EXPECT_EQ(rects.dstEnd, rects.dstStart);
    Frame first(focus, 0);
    ASSERT_TRUE(first);
    EXPECT_EQ(at(*first, 32, 10).a, 0);
    EXPECT_TRUE(isRed(at(*first, 32, 20)));
    EXPECT_EQ(at(*first, 32, 40).a, 0);
    Frame last(focus, 3);
    ASSERT_TRUE(last);
    // Only the display area moves: outside it nothing is drawn.
    EXPECT_EQ(at(*last, 5, 20).a, 0);
    EXPECT_TRUE(isRed(at(*last, 32, 20)));
}

// AFTERIMAGE 2 at frame 1: the current position at full alpha, frame 0 at two thirds, and
// nothing for frame -1.
TEST_F(RenderTest, AfterImageAtFrameOne)
{
    picture("dot.png", 8, 8, Qt::white);
    load(std::string(Screen64) + R"(
IMAGE "dot" { FILE "dot.png" }
ACTION "trail" {
  INPUT "dot"
  DST_START 0 0 7 7  DST_END 40 0 47 7
  DSP_START 0 0 63 47  DSP_END 0 0 63 47
  AFTERIMAGE 2
  FRAMES 3
}
MAIN { INPUT "trail" }
)");
    Frame f1(block("trail"), 1);
    ASSERT_TRUE(f1);
    EXPECT_EQ(at(*f1, 24, 4).a, 255);
    EXPECT_EQ(at(*f1, 24, 4).r, 255);
    EXPECT_EQ(at(*f1, 4, 4).a, 170);  // 255 * 2 / 3
    EXPECT_EQ(at(*f1, 44, 4).a, 0);
    EXPECT_EQ(at(*f1, 4, 20).a, 0);
    Frame f2(block("trail"), 2);
    ASSERT_TRUE(f2);
    EXPECT_EQ(at(*f2, 44, 4).a, 255);
    EXPECT_EQ(at(*f2, 24, 4).a, 170);
    EXPECT_EQ(at(*f2, 4, 4).a, 85);  // 255 * 1 / 3
}

// STILL: letterboxed with transparent bars, or with MAX_CUT filling its rectangle.
TEST_F(RenderTest, StillWithAndWithoutMaxCut)
{
    picture("wide.png", 40, 10, Qt::red);
    load(std::string(Screen64) + R"(
IMAGE "wide" { FILE "wide.png" }
STILL "fit" { INPUT "wide" 0 0 63 47 FRAMES 3 }
STILL "cut" { INPUT "wide" 0 0 63 47 MAX_CUT FRAMES 3 }
MAIN { INPUT "fit" INPUT "cut" }
)");
    Frame fit(block("fit"), 0);
    ASSERT_TRUE(fit);
    EXPECT_EQ(at(*fit, 32, 2).a, 0);
    EXPECT_TRUE(isRed(at(*fit, 32, 24)));
    EXPECT_EQ(at(*fit, 32, 45).a, 0);
    Frame cut(block("cut"), 2);
    ASSERT_TRUE(cut);
    for (auto [x, y] : {std::pair{0, 0}, {63, 0}, {0, 47}, {63, 47}, {32, 24}})
        EXPECT_TRUE(isRed(at(*cut, x, y))) << x << "," << y;
}

// FILM: three inputs on 640 x 480 enter in input order whichever way the strip runs.
TEST_F(RenderTest, FilmLengthAndPlacement)
{
    picture("r.png", 40, 30, Qt::red);
    picture("g.png", 40, 30, Qt::green);
    picture("b.png", 40, 30, Qt::blue);
    load(R"(SCREEN 640 480
IMAGE "r" { FILE "r.png" }
IMAGE "g" { FILE "g.png" }
IMAGE "b" { FILE "b.png" }
FILM "up" { INPUT "r" INPUT "g" INPUT "b" UP FRAMES 11 }
FILM "down" { INPUT "r" INPUT "g" INPUT "b" DOWN FRAMES 11 }
FILM "left" { INPUT "r" INPUT "g" INPUT "b" LEFT FRAMES 11 }
MAIN { INPUT "up" INPUT "down" INPUT "left" }
)");
    const auto colourAt = [](const ImageBuffer &p) {
        const Rgba c = at(p, 320, 240);
        return isRed(c) ? 'r' : isGreen(c) ? 'g' : (c.b > 128 && c.r < 100) ? 'b' : '?';
    };
    {
        // Picture 0 of UP at frame 0 sits at (W / 8, H / 8): 80, 60, size 480 x 360.
        Frame f(block("up"), 0);
        EXPECT_TRUE(isRed(at(*f, 81, 61)));
        EXPECT_TRUE(isRed(at(*f, 558, 418)));
        EXPECT_FALSE(isRed(at(*f, 78, 240)));
    }
    for (const char *name : {"up", "down", "left"}) {
        SCOPED_TRACE(name);
        for (auto [frame, colour] : {std::pair{0, 'r'}, {5, 'g'}, {10, 'b'}}) {
            Frame f(block(name), frame);
            ASSERT_TRUE(f);
            EXPECT_EQ(f->width, 640);
            EXPECT_EQ(f->height, 480);
            EXPECT_EQ(colourAt(*f), colour) << frame;
        }
    }
    expectIdle();
}

// Two STILLs of solid colours as the inputs of the time-based kinds below.
const char Solids[] = R"(
IMAGE "red" { FILE "red.png" }
IMAGE "blue" { FILE "blue.png" }
IMAGE "white" { FILE "white.png" }
STILL "red100" { INPUT "red" FRAMES 100 }
STILL "blue80" { INPUT "blue" FRAMES 80 }
STILL "white100" { INPUT "white" FRAMES 100 }
)";

// CROSSFADE of 100 and 80 frames overlapping by 20: 160 frames, frames 80-99 mixed, 50 % of the
// second input at frame 90.
TEST_F(RenderTest, CrossfadeLengthAndMix)
{
    solids();
    Scenario &s = load(std::string(Screen64) + Solids + R"(
CROSSFADE "cross" { INPUT "red100" INPUT "blue80" FRAMES 20 }
MAIN { INPUT "cross" }
)");
    ASSERT_EQ(s.totalFrames, 160);
    const auto colour = [&](int32_t frame) {
        ImageBuffer *p = s.render(frame);
        EXPECT_TRUE(p);
        const Rgba c = p ? at(*p, 10, 10) : Rgba{-1, -1, -1, -1};
        s.release(p, frame);
        return c;
    };
    EXPECT_EQ(colour(79).r, 255);
    EXPECT_EQ(colour(79).b, 0);
    const Rgba start = colour(80);
    EXPECT_GT(start.r, 250);
    EXPECT_EQ(start.b, 0);
    const Rgba mid = colour(90);
    EXPECT_NEAR(mid.r, 127, 2);
    EXPECT_NEAR(mid.b, 127, 2);
    EXPECT_GT(colour(99).b, 225);
    EXPECT_EQ(colour(100).b, 255);
    EXPECT_EQ(colour(100).r, 0);
    EXPECT_EQ(colour(159).b, 255);
    EXPECT_EQ(s.render(160), nullptr);
    expectIdle();
}

// FADEINOUT of 10 frames over 100: from the colour at 0, the input at 50 % at frame 95.
TEST_F(RenderTest, FadeInOut)
{
    solids();
    Scenario &s = load(std::string(Screen64) + Solids + R"(
FADEINOUT "fade" { INPUT "white100" COLOR 0 0 0 FRAMES 10 }
MAIN { INPUT "fade" }
)");
    ASSERT_EQ(s.totalFrames, 100);
    const auto grey = [&](int32_t frame) {
        Frame f(block("fade"), frame);
        EXPECT_TRUE(f);
        return f ? at(*f, 3, 3).g : -1;
    };
    EXPECT_EQ(grey(0), 0);
    EXPECT_NEAR(grey(5), 127, 2);
    EXPECT_EQ(grey(10), 255);
    EXPECT_EQ(grey(89), 255);
    EXPECT_NEAR(grey(95), 127, 2);
    EXPECT_NEAR(grey(99), 25, 2);
    expectIdle();
}

// A probe whose frame shows in the picture: a white 4 x 4 dot five pixels further right on
// every one of its 11 frames.
const char Probe[] = R"(
IMAGE "dot" { FILE "dot.png" }
ACTION "probe" {
  INPUT "dot"
  DST_START 0 0 3 3  DST_END 50 0 53 3
  DSP_START 0 0 63 47  DSP_END 0 0 63 47
  FRAMES 11
}
)";

int probeFrame(const ImageBuffer &picture)
{
    for (int32_t x = 0; x < picture.width; ++x)
        if (at(picture, x, 1).a > 128)
            return x / 5;
    return -1;
}

// CUT from 10 to 0 holding each picture for two frames.
TEST_F(RenderTest, CutBackwardsWithSkip)
{
    picture("dot.png", 4, 4, Qt::white);
    Scenario &s = load(std::string(Screen64) + Probe + R"(
CUT "cut" { INPUT "probe" START 10 END 0 SKIP 2 }
MAIN { INPUT "cut" }
)");
    ASSERT_EQ(s.totalFrames, 11);
    const int expected[] = {10, 10, 8, 8, 6, 6, 4, 4, 2, 2, 0};
    for (int32_t f = 0; f < 11; ++f) {
        Frame picture(block("cut"), f);
        ASSERT_TRUE(picture);
        EXPECT_EQ(probeFrame(*picture), expected[f]) << f;
    }
    // The last frame asks for the probe's first one, so the probe keeps its pictures.
    expectIdle(false);
}

// MIX: a 40-frame input and a 50-frame one at OFFSET 30 make 80 frames; the offset input is
// drawn from frame 30 on, at its own frame 0.
TEST_F(RenderTest, MixOffsets)
{
    solids();
    picture("dot.png", 4, 4, Qt::white);
    Scenario &s = load(std::string(Screen64) + Solids + Probe + R"(
STILL "red40" { INPUT "red" FRAMES 40 }
SERIES "late" { INPUT "probe" INPUT "blue80" }
CUT "late50" { INPUT "late" START 0 END 49 }
MIX "mix" {
  INPUT "red40" 0 24 31 47
  INPUT "late50" 0 0 31 23 OFFSET 30
}
MAIN { INPUT "mix" }
)");
    ASSERT_EQ(s.totalFrames, 80);
    {
        Frame f(block("mix"), 29);
        EXPECT_TRUE(isRed(at(*f, 10, 40)));
        EXPECT_EQ(at(*f, 10, 1).a, 0);
    }
    for (int32_t f : {30, 32, 40}) {
        Frame picture(block("mix"), f);
        ASSERT_TRUE(picture);
        // The probe is drawn at half size: its dot moves 2.5 pixels a frame.
        int x = -1;
        for (int32_t c = 0; c < 64 && x < 0; ++c)
            if (at(*picture, c, 0).a > 128)
                x = c;
        EXPECT_EQ(x, (f - 30) * 5 / 2) << f;
        EXPECT_EQ(isRed(at(*picture, 10, 40)), f < 40) << f;
    }
    {
        Frame f(block("mix"), 79);
        EXPECT_EQ(at(*f, 10, 10).b, 255);
        EXPECT_EQ(at(*f, 10, 40).a, 0);
    }
    expectIdle(false);
}

// EXPANDIN UP: at frame 0 rows 0 .. H - 2 repeat row H - 1; at the last frame nothing changes.
TEST_F(RenderTest, ExpandUpIn)
{
    rowsPicture("rows.png", 64, 48);
    load(std::string(Screen64) + R"(
IMAGE "rows" { FILE "rows.png" }
STILL "still" { INPUT "rows" FRAMES 6 }
EXPANDIN "expand" { INPUT "still" UP }
MAIN { INPUT "expand" }
)");
    Frame plain(block("still"), 0);
    Frame first(block("expand"), 0);
    ASSERT_TRUE(first);
    for (int32_t y = 0; y < 48; ++y)
        EXPECT_EQ(at(*first, 7, y).r, at(*plain, 7, 47).r) << y;
    Frame middle(block("expand"), 3);
    // p = 47 - 47 * 3 / 5 = 19: rows above it take row 19, rows from it on are the input's.
    EXPECT_EQ(at(*middle, 7, 0).r, at(*plain, 7, 19).r);
    EXPECT_EQ(at(*middle, 7, 18).r, at(*plain, 7, 19).r);
    EXPECT_EQ(at(*middle, 7, 30).r, at(*plain, 7, 30).r);
    Frame last(block("expand"), 5);
    EXPECT_TRUE(samePixels(*last, *plain));
}

// SHADE from 0 to 4 over 5 frames blurs 0, 1, 2, 3 and 4 times, and keeps the transparency.
// Blurred 2147483647 times, a picture gives what it settles at, when a blur changes nothing.
TEST_F(RenderTest, ShadeBlurCounts)
{
    picture("dot.png", 16, 12, Qt::black, QRect(7, 5, 1, 1), Qt::white);
    load(R"(SCREEN 32 24
IMAGE "dot" { FILE "dot.png" }
STILL "still" { INPUT "dot" 0 0 15 11 FRAMES 5 }
SHADE "shade" { INPUT "still" START 0 END 4 }
SHADE "settled" { INPUT "still" START 2147483647 END 2147483647 }
MAIN { INPUT "shade" INPUT "settled" }
)");
    Frame plain(block("still"), 0);
    const auto expectShade = [&](const char *name, int32_t f, const ImageBuffer &expected) {
        Frame shaded(block(name), f);
        ASSERT_TRUE(shaded);
        ASSERT_TRUE(shaded->alpha);
        for (int32_t y = 0; y < 24; y += 3)
            for (int32_t x = 0; x < 32; x += 3) {
                EXPECT_EQ(at(*shaded, x, y).g, at(expected, x, y).g);
                EXPECT_EQ(at(*shaded, x, y).a, at(*plain, x, y).a);
            }
    };
    ImagePtr expected = CopyImage(&*plain);
    for (int32_t f = 0; f < 5; ++f) {
        SCOPED_TRACE(f);
        EXPECT_EQ(block<ShadeBlock>("shade")->blursAt(f), f);
        expectShade("shade", f, *expected);
        expected = BlurImage(expected.get());
    }
    EXPECT_EQ(block<ShadeBlock>("settled")->blursAt(2), INT32_MAX);
    int passes = 0;
    for (ImagePtr next = BlurImage(expected.get()); !samePixels(*next, *expected);
         next = BlurImage(expected.get()), ++passes)
        expected = std::move(next);
    EXPECT_GT(passes, 2);
    expectShade("settled", 2, *expected);
}

// IMAGE with CLIP and ANGLE clips first and then turns the clipped picture.
TEST_F(RenderTest, ImageClipsBeforeTurning)
{
    picture("corner.png", 40, 30, Qt::blue, QRect(0, 0, 10, 10), Qt::red);
    load(std::string(Screen64) + R"(
IMAGE "pic" { FILE "corner.png" ANGLE 90 CLIP 0 0 9 19 }
STILL "still" { INPUT "pic" FRAMES 1 }
MAIN { INPUT "still" }
)");
    Frame f(block("pic"), 0);
    ASSERT_TRUE(f);
    // The 10 x 20 clip (red above blue) turned a quarter counter-clockwise: 20 x 10, red on
    // the left.
    EXPECT_NEAR(f->width, 20, 1);
    EXPECT_NEAR(f->height, 10, 1);
    EXPECT_TRUE(isRed(at(*f, 3, f->height / 2)));
    const Rgba right = at(*f, f->width - 4, f->height / 2);
    EXPECT_EQ(right.b, 255);
    EXPECT_EQ(right.r, 0);
}

// Blocks of one frame show their first frame's state instead of dividing by zero.
TEST_F(RenderTest, OneFrameBlocks)
{
    picture("red.png", 64, 48, Qt::red);
    picture("r.png", 40, 30, Qt::red);
    picture("g.png", 40, 30, Qt::green);
    rowsPicture("rows.png", 64, 48);  // a blur or a mosaic would show on it
    load(std::string(Screen64) + R"(
IMAGE "red" { FILE "red.png" }
IMAGE "r" { FILE "r.png" }
IMAGE "g" { FILE "g.png" }
IMAGE "rows" { FILE "rows.png" }
STILL "one" { INPUT "red" FRAMES 1 }
STILL "rowsone" { INPUT "rows" FRAMES 1 }
ALPHA "alpha" { INPUT "one" START 128 END 0 }
SHADE "shade" { INPUT "rowsone" START 0 END 9 }
MOSAIC "mosaic" { INPUT "rowsone" SIZE_START 1 SIZE_END 16 }
EXPANDOUT "expand" { INPUT "one" LEFT }
ROTATE "rotate" { INPUT "red" ANGLE 90 180 FRAMES 2 }
ACTION "action" {
  INPUT "red"
  DST_START 0 0 31 23  DST_END 32 24 63 47
  DSP_START 0 0 63 47  DSP_END 0 0 63 47
  AFTERIMAGE 1
  FRAMES 2
}
FILM "film" { INPUT "r" INPUT "g" INPUT "r" DOWN FRAMES 2 }
MAIN { INPUT "alpha" INPUT "shade" INPUT "mosaic" INPUT "expand" INPUT "rotate"
       INPUT "action" INPUT "film" }
)");
    // The reader refuses FRAMES 1 for these; the editor may still set it.
    for (const char *name : {"rotate", "action", "film"}) {
        Block *b = block(name);
        b->frames = 1;
        b->frameCountCache = -1;
        EXPECT_EQ(b->frameCount(), 1);
        EXPECT_TRUE(b->isKeyFrame(0));
    }
    {
        Frame f(block("alpha"), 0);
        ASSERT_TRUE(f);
        EXPECT_EQ(at(*f, 5, 5).a, 128);
    }
    for (const char *name : {"shade", "mosaic"}) {
        Frame f(block(name), 0);
        Frame plain(block("rowsone"), 0);
        ASSERT_TRUE(f) << name;
        EXPECT_TRUE(samePixels(*f, *plain)) << name;
    }
    {
        Frame f(block("expand"), 0);
        ASSERT_TRUE(f);
        EXPECT_TRUE(isRed(at(*f, 30, 30)));
    }
    EXPECT_EQ(block<RotateBlock>("rotate")->angleAt(0), 90);
    {
        Frame f(block("rotate"), 0);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->width, 64);
    }
    {
        Frame f(block("action"), 0);
        ASSERT_TRUE(f);
        EXPECT_TRUE(isRed(at(*f, 10, 10)));
        EXPECT_EQ(at(*f, 50, 40).a, 0);
    }
    {
        // DOWN starts with the strip at its far end: the first input in view.
        Frame f(block("film"), 0);
        ASSERT_TRUE(f);
        EXPECT_TRUE(isRed(at(*f, 32, 24)));
    }
    expectIdle();
}

// A picture that cannot be decoded makes every block above it give none, and leaves nothing
// pending; SERIES asked beyond its end gives none as well.
TEST_F(RenderTest, MissingPicturesGiveNoFrame)
{
    // A picture when the scenario is checked, then no longer.
    picture("broken.jpg", 8, 8, Qt::blue);
    picture("red.png", 64, 48, Qt::red);
    Scenario &s = load(std::string(Screen64) + R"(
IMAGE "broken" { FILE "broken.jpg" }
IMAGE "red" { FILE "red.png" }
IMAGE "frame" { BLOCK_FRAME "broken" 0 }
STILL "still" { INPUT "broken" FRAMES 4 }
STILL "ok" { INPUT "red" FRAMES 4 }
ROTATE "rotate" { INPUT "broken" FRAMES 4 }
ROTATE "rotatebg" { INPUT "red" BGIMAGE "broken" FRAMES 4 }
ZOOM "zoom" { INPUT "broken" FRAMES 4 }
FILM "film" { INPUT "red" INPUT "broken" UP FRAMES 4 }
MIX "mix" { INPUT "ok" INPUT "still" }
CROSSFADE "cross" { INPUT "ok" INPUT "still" FRAMES 2 }
FADEIN "fade" { INPUT "still" FRAMES 2 }
SHAKE "shake" { INPUT "zoom" }
MOSAIC "mosaic" { INPUT "zoom" SIZE_START 2 SIZE_END 4 }
EXPANDIN "expand" { INPUT "zoom" UP }
ALPHA "alpha" { INPUT "zoom" START 0 END 255 }
SHADE "shade" { INPUT "zoom" START 0 END 2 }
CUT "cut" { INPUT "zoom" START 0 END 3 }
SERIES "series" { INPUT "ok" INPUT "zoom" }
MAIN { INPUT "series" INPUT "rotate" INPUT "rotatebg" INPUT "film" INPUT "mix" INPUT "cross"
       INPUT "fade" INPUT "shake" INPUT "mosaic" INPUT "expand" INPUT "alpha" INPUT "shade"
       INPUT "cut" INPUT "frame" }
)");
    {
        std::ofstream(m_dir / "broken.jpg", std::ios::binary) << "not a picture";
    }
    for (const char *name : {"broken", "frame", "still", "rotate", "rotatebg", "zoom", "film",
                             "mix", "fade", "shake", "mosaic", "expand", "alpha", "shade",
                             "cut"}) {
        for (int32_t f : {0, 3}) {
            ImageBuffer *p = block(name)->render(f);
            EXPECT_EQ(p, nullptr) << name << " " << f;
            block(name)->release(p, f);
        }
    }
    for (int32_t f : {2, 3}) {
        ImageBuffer *p = block("cross")->render(f);
        EXPECT_EQ(p, nullptr) << "cross " << f;
        block("cross")->release(p, f);
    }
    {
        Frame f(block("series"), 3);
        EXPECT_TRUE(f);
    }
    EXPECT_EQ(block("series")->render(4), nullptr);
    EXPECT_EQ(block("series")->render(7), nullptr);
    EXPECT_EQ(block("series")->render(8), nullptr);
    EXPECT_EQ(block("series")->render(-1), nullptr);
    EXPECT_EQ(s.render(s.totalFrames), nullptr);
    // The frame that fails for the picture names the block and its file.
    EXPECT_EQ(s.render(s.totalFrames - 1), nullptr);
    EXPECT_EQ(s.pictureFailure(), "ブロック broken ファイル：broken.jpg");
    expectIdle();
}

// Pictures kept between frames (a turned layer, a panned source, a film strip) outlive a change
// to the block they came from until the scenario drops them; the next frame then shows the
// change.
TEST_F(RenderTest, DroppedCachesShowAChangedBlock)
{
    Scenario &s = load(std::string(Screen64) + R"(
DRAW "box" {
  SIZE 64 48
  COLOR 255 0 0 255
  RECT { POINT 0 0 POINT 63 47 FILL }
}
STILL "still" { INPUT "box" FRAMES 4 }
ROTATE "turn" { INPUT "box" ANGLE 0 0 FRAMES 4 }
ZOOM "zoom" { INPUT "box" FRAMES 4 }
FILM "film" { INPUT "still" INPUT "still" UP FRAMES 4 }
MAIN { INPUT "turn" INPUT "zoom" INPUT "film" }
)");
    const char *kept[] = {"turn", "zoom", "film"};
    for (const char *name : kept) {
        Frame first(block(name), 0);
        ASSERT_TRUE(first) << name;
        EXPECT_TRUE(isRed(at(*first, 32, 24))) << name;
    }
    auto *box = block<DrawBlock>("box");
    box->color = Colour{0, 255, 0, 255};
    s.dropCaches();
    for (const char *name : kept) {
        Frame next(block(name), 1);
        ASSERT_TRUE(next) << name;
        EXPECT_TRUE(isGreen(at(*next, 32, 24))) << name;
    }
}

// A background may show an ancestor of its own block. A frame at which the ancestor asks again
// for a frame of a block still being drawn, or whose circle runs on through ever new frames,
// has no picture; the other frames render, and nothing is left pending. A chain of backgrounds
// as deep as linking allows renders.
TEST_F(RenderTest, BackgroundsShowingAnAncestorEndTheirCircle)
{
    picture("red.png", 8, 6, Qt::red);
    std::string text = R"(SCREEN 8 6
IMAGE "red" { FILE "red.png" }
STILL "pad" { INPUT "red" FRAMES 2 }
ROTATE "r" { INPUT "red" BGIMAGE "ser" FRAMES 4 }
SERIES "ser" { INPUT "r" INPUT "pad" }
ROTATE "far" { INPUT "red" BGIMAGE "cut" FRAMES 1000000 }
CUT "cut" { INPUT "far" START 1 END 999999 }
)";
    // "chain" below MAIN, the MIX blocks, "pad" and "red".
    const int mixes = MaxBlockNesting - 4;
    for (int i = 0; i < mixes; ++i)
        text += "MIX \"m" + std::to_string(i) + "\" { INPUT \"pad\" BGIMAGE \"" +
                (i + 1 < mixes ? "m" + std::to_string(i + 1) : std::string("pad")) + "\" }\n";
    Scenario &s = load(text + "SERIES \"chain\" { INPUT \"m0\" }\n"
                              "MAIN { INPUT \"ser\" INPUT \"cut\" INPUT \"chain\" }\n");
    ASSERT_EQ(s.totalFrames, 6 + 999999 + 2);
    const int32_t chain = 6 + 999999;
    for (int32_t f : {0, 3, 4, 5, 6, 7, chain - 1, chain, chain + 1}) {
        ImageBuffer *p = s.render(f);
        EXPECT_EQ(p != nullptr, f == 4 || f == 5 || f >= chain) << f;
        if (p && f >= chain) {
            EXPECT_TRUE(isRed(at(*p, 4, 3)));
        }
        s.release(p, f);
    }
    expectIdle(false);
}

const std::filesystem::path AllKinds =
    std::filesystem::path(VORN_TEST_DATA_DIR) / "scenario" / "allkinds.txt";

// The trace walks the inputs used at a frame, each one level deeper at its own frame.
TEST_F(RenderTest, TraceFollowsTheInputsOfAFrame)
{
    picture("red.png", 64, 48, Qt::red);
    load(std::string(Screen64) + R"(
IMAGE "red" { FILE "red.png" }
STILL "a" { INPUT "red" FRAMES 3 }
STILL "b" { INPUT "red" FRAMES 4 }
SERIES "s" { INPUT "a" INPUT "b" }
MAIN { INPUT "s" }
)");
    std::vector<std::string> lines;
    EXPECT_EQ(block("s")->trace(4, 0, lines), 0);
    const std::vector<std::string> expected{"SERIES", "4", "",  "1",     "b", "STILL", "1",
                                            "",       "2", "red", "IMAGE", "1", "red.png"};
    EXPECT_EQ(lines, expected);
}

// Every frame of a scenario with every kind, in order; then out of order with pictures held
// over several frames; then from two threads at once, as the preview's worker and a property
// page on the interface thread do. Each pass gives the pictures of the first, every picture
// goes back, and a last pass in order drops every kept picture.
TEST_F(RenderTest, RenderReleaseBalanceAndTwoThreads)
{
    Scenario s;
    s.prompter = &m_prompter;
    ASSERT_EQ(vorn::load(s, pathToSjis(AllKinds).value()), 0);
    ASSERT_EQ(link(s), 0);
    ASSERT_GT(s.totalFrames, 10);
    std::vector<ImagePtr> reference;
    for (int32_t f = 0; f < s.totalFrames; ++f) {
        ImageBuffer *p = s.render(f);
        ASSERT_NE(p, nullptr) << f;
        EXPECT_EQ(p->width, 64);
        EXPECT_EQ(p->height, 48);
        reference.push_back(CopyImage(p));
        s.release(p, f);
    }
    std::atomic<int> mismatches{0};
    const auto check = [&](ImageBuffer *p, int32_t f) {
        if (!p || !samePixels(*p, *reference[size_t(f)]))
            ++mismatches;
    };
    // Held pictures: three frames out at a time, released in another order.
    for (int32_t f = 0; f + 2 < s.totalFrames; f += 3) {
        ImageBuffer *a = s.render(f + 2);
        ImageBuffer *b = s.render(f);
        ImageBuffer *c = s.render(f + 1);
        check(a, f + 2);
        check(b, f);
        check(c, f + 1);
        s.release(b, f);
        s.release(a, f + 2);
        s.release(c, f + 1);
    }
    const auto worker = [&](int32_t first, int32_t step) {
        for (int round = 0; round < 3; ++round)
            for (int32_t i = 0; i < s.totalFrames; ++i) {
                const int32_t f = (first + i * step) % s.totalFrames;
                ImageBuffer *p = s.render(f);
                check(p, f);
                s.release(p, f);
            }
    };
    std::thread preview(worker, 0, 1);
    std::thread page(worker, 7, 5);
    preview.join();
    page.join();
    EXPECT_EQ(mismatches.load(), 0);
    for (int32_t f = 0; f < s.totalFrames; ++f)
        s.release(s.render(f), f);
    EXPECT_TRUE(m_prompter.errors.empty());
    for (auto &b : s.blocks) {
        std::lock_guard guard(b->lock);
        EXPECT_EQ(b->pending, 0) << b->name.value_or("");
        EXPECT_FALSE(b->cacheA || b->cacheB) << b->name.value_or("");
    }
}

} // namespace
} // namespace vorn
