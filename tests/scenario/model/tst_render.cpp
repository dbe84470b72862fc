// Rendering tests: scenarios read from text, rendered frame by frame, pixels checked: the table
// of data/render.txt, and what a table cannot hold (changes after reading, threads, long chains).
#include "modeltest.h"

#include "imaging/compose.h"
#include "support/guienvironment.h"
#include "support/pixelprobe.h"

#include <QSize>

#include <atomic>
#include <map>
#include <thread>

namespace vorn::test {
namespace {

// A pixel; a picture without an alpha plane is opaque.
Rgba at(const ImageBuffer &picture, int32_t x, int32_t y)
{
    Rgba pixel = pixelAt(picture, x, y);
    pixel.a = pixel.a < 0 ? 255 : pixel.a;
    return pixel;
}

bool isRed(Rgba p) { return p.a > 128 && p.r > 128 && p.g < 100 && p.b < 100; }
bool isGreen(Rgba p) { return p.a > 128 && p.g > 128 && p.r < 100 && p.b < 100; }

// A scenario folder holding data/pictures; scenarios are read through the reader and linked as
// a user's file would be.
class RenderTest : public ::testing::Test {
protected:
    RenderTest()
    {
        std::filesystem::copy(std::filesystem::path(VORN_SOURCE_DIR) / "tests/scenario/model/data/pictures",
                              m_dir / "pictures");
    }

    // Reads, links and validates `text`; fails the test on any message.
    Scenario &load(const std::string &text)
    {
        m_scenario = std::make_unique<Scenario>();
        m_scenario->prompter = &m_prompter;
        EXPECT_EQ(loadLinked(*m_scenario, m_temp.write("scenario.txt", text)), 0);
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
            EXPECT_FALSE(b->cacheA || b->cacheB) << name;
            auto *a = dynamic_cast<ActionBlock *>(b.get());
            auto *r = dynamic_cast<RotateBlock *>(b.get());
            auto *f = dynamic_cast<FilmBlock *>(b.get());
            auto *i = dynamic_cast<ImageBlock *>(b.get());
            EXPECT_FALSE((a && a->sourceCache) || (r && r->layerCache) || (f && !f->stripCache.empty()) ||
                         (i && i->image)) << name;
        }
    }

    TempDir m_temp;
    const std::filesystem::path m_dir = m_temp.path();
    RecordingPrompter m_prompter;
    std::unique_ptr<Scenario> m_scenario;
};

// A picture of a block (none: the scenario) at a frame, handed back when the last copy goes.
using Frame = std::shared_ptr<ImageBuffer>;
Frame frameOf(Scenario &s, Block *block, int32_t frame)
{
    return Frame(block ? block->render(frame) : s.render(frame), [&s, block, frame](ImageBuffer *p) {
        block ? block->release(p, frame) : s.release(p, frame);
    });
}

// A checked component: "*", "N" or "LOW:HIGH".
bool within(const std::string &range, int32_t value)
{
    const size_t colon = range.find(':');
    const std::string high = colon == std::string::npos ? range : range.substr(colon + 1);
    return range == "*" || (value >= std::stoi(range.substr(0, colon)) && value <= std::stoi(high));
}

// One check of data/render.txt (its header says what they mean).
void check(Scenario &s, const std::string &line)
{
    std::istringstream words(line);
    std::string name, what;
    int32_t frame = 0;
    words >> name >> frame >> what;
    const auto render = [&s](const std::string &blockName, int32_t f) {
        EXPECT_TRUE(blockName == "-" || s.findBlock(blockName)) << blockName;
        return frameOf(s, blockName == "-" ? nullptr : s.findBlock(blockName), f);
    };
    const auto picture = render(name, frame);
    if (what == "any")
        return;
    if (what == "none") {
        EXPECT_FALSE(picture);
        return;
    }
    ASSERT_TRUE(picture);
    if (what == "size") {
        int32_t w = 0, h = 0;
        words >> w >> h;
        EXPECT_EQ(QSize(picture->width, picture->height), QSize(w, h));
    } else if (what == "same") {
        words >> name >> frame;
        const auto other = render(name, frame);
        ASSERT_TRUE(other);
        EXPECT_TRUE(samePixels(*picture, *other));
    } else {
        static const std::map<std::string, std::vector<std::string>> named = {
            {"red", {"129:255", "0:99", "0:99", "129:255"}},
            {"green", {"0:99", "129:255", "0:99", "129:255"}},
            {"blue", {"0:99", "0:99", "129:255", "129:255"}},
            {"clear", {"*", "*", "*", "0"}},
        };
        int32_t y = 0;
        std::vector<std::string> expected;
        words >> y;
        for (std::string word; words >> word;)
            expected.push_back(word);
        if (expected.size() == 1 && named.count(expected[0]))
            expected = named.at(expected[0]);
        ASSERT_EQ(expected.size(), 4u);
        const Rgba p = at(*picture, std::stoi(what), y);
        EXPECT_TRUE(within(expected[0], p.r) && within(expected[1], p.g) &&
                    within(expected[2], p.b) && within(expected[3], p.a))
            << p.r << " " << p.g << " " << p.b << " " << p.a;
    }
}

TEST_F(RenderTest, TableOfScenarios)
{
    const int cases = forEachCase("render.txt", [this](const std::string &text, const std::string &checks) {
        Scenario &s = load(text);
        std::istringstream lines(checks);
        bool idle = false;
        for (std::string line; std::getline(lines, line);) {
            SCOPED_TRACE(line);
            if (line == "idle")
                idle = true;
            else if (line.rfind("failure ", 0) == 0)
                EXPECT_EQ(s.pictureFailure(), line.substr(8));
            else if (!line.empty())
                check(s, line);
        }
        expectIdle(idle);
    });
    EXPECT_EQ(cases, 15);
}

// SHADE from 0 to 4 over 5 frames blurs 0, 1, 2, 3 and 4 times, and keeps the transparency.
// Blurred 2147483647 times, a picture gives what it settles at, when a blur changes nothing.
TEST_F(RenderTest, ShadeBlurCounts)
{
    load(R"(SCREEN 32 24
IMAGE "dot" { FILE "pictures/point.png" }
STILL "still" { INPUT "dot" 0 0 15 11 FRAMES 5 }
SHADE "shade" { INPUT "still" START 0 END 4 }
SHADE "settled" { INPUT "still" START 2147483647 END 2147483647 }
MAIN { INPUT "shade" INPUT "settled" }
)");
    const Frame plain = frameOf(*m_scenario, block("still"), 0);
    const auto expectShade = [&](const char *name, int32_t f, const ImageBuffer &expected) {
        const Frame shaded = frameOf(*m_scenario, block(name), f);
        ASSERT_TRUE(shaded && shaded->alpha);
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

// Blocks of one frame show their first frame's state instead of dividing by zero. The reader
// refuses FRAMES 1 for these (the others are in the table); the editor may still set it.
TEST_F(RenderTest, OneFrameBlocksTheReaderRefuses)
{
    load(R"(SCREEN 64 48
IMAGE "red" { FILE "pictures/red.png" }
IMAGE "r" { FILE "pictures/r.png" }
IMAGE "g" { FILE "pictures/g.png" }
ROTATE "rotate" { INPUT "red" ANGLE 90 180 FRAMES 2 }
ACTION "action" { INPUT "red" DST_START 0 0 31 23  DST_END 32 24 63 47
  DSP_START 0 0 63 47  DSP_END 0 0 63 47  AFTERIMAGE 1  FRAMES 2 }
FILM "film" { INPUT "r" INPUT "g" INPUT "r" DOWN FRAMES 2 }
MAIN { INPUT "rotate" INPUT "action" INPUT "film" }
)");
    // DOWN starts with the strip at its far end: the first input in view.
    for (const auto &[name, x, y] : {std::tuple{"rotate", 32, 24}, {"action", 10, 10}, {"film", 32, 24}}) {
        Block *b = block(name);
        b->frames = 1;
        b->frameCountCache = -1;
        EXPECT_EQ(b->frameCount(), 1);
        EXPECT_TRUE(b->isKeyFrame(0));
        const Frame first = frameOf(*m_scenario, b, 0);
        ASSERT_TRUE(first) << name;
        EXPECT_TRUE(isRed(at(*first, x, y))) << name;
        EXPECT_EQ(first->width, 64);
    }
    EXPECT_EQ(block<RotateBlock>("rotate")->angleAt(0), 90);
    EXPECT_EQ(at(*frameOf(*m_scenario, block("action"), 0), 50, 40).a, 0);
}

// Pictures kept between frames (a turned layer, a panned source, a film strip) outlive a change
// to the block they came from until the scenario drops them; the next frame then shows the
// change.
TEST_F(RenderTest, DroppedCachesShowAChangedBlock)
{
    Scenario &s = load(R"(SCREEN 64 48
DRAW "box" { SIZE 64 48 COLOR 255 0 0 255 RECT { POINT 0 0 POINT 63 47 FILL } }
STILL "still" { INPUT "box" FRAMES 4 }
ROTATE "turn" { INPUT "box" ANGLE 0 0 FRAMES 4 }
ZOOM "zoom" { INPUT "box" FRAMES 4 }
FILM "film" { INPUT "still" INPUT "still" UP FRAMES 4 }
MAIN { INPUT "turn" INPUT "zoom" INPUT "film" }
)");
    const char *kept[] = {"turn", "zoom", "film"};
    for (const char *name : kept) {
        const Frame first = frameOf(*m_scenario, block(name), 0);
        ASSERT_TRUE(first) << name;
        EXPECT_TRUE(isRed(at(*first, 32, 24))) << name;
    }
    block<DrawBlock>("box")->color = Colour{0, 255, 0, 255};
    s.dropCaches();
    for (const char *name : kept) {
        const Frame next = frameOf(*m_scenario, block(name), 1);
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
    std::string text = R"(SCREEN 8 6
IMAGE "red" { FILE "pictures/red.png" }
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
        EXPECT_TRUE(!p || f < chain || isRed(at(*p, 4, 3))) << f;
        s.release(p, f);
    }
    expectIdle(false);
}

// The trace walks the inputs used at a frame, each one level deeper at its own frame.
TEST_F(RenderTest, TraceFollowsTheInputsOfAFrame)
{
    load(R"(SCREEN 64 48
IMAGE "red" { FILE "pictures/red.png" }
STILL "a" { INPUT "red" FRAMES 3 }
STILL "b" { INPUT "red" FRAMES 4 }
SERIES "s" { INPUT "a" INPUT "b" }
MAIN { INPUT "s" }
)");
    std::vector<std::string> lines;
    EXPECT_EQ(block("s")->trace(4, 0, lines), 0);
    EXPECT_EQ(lines, (std::vector<std::string>{"SERIES", "4", "", "1", "b", "STILL", "1", "", "2", "red",
                                                "IMAGE", "1", "pictures/red.png"}));
}

// Every frame of a scenario with every kind, in order; then out of order with pictures held
// over several frames; then from two threads at once, as the preview's worker and a property
// page on the interface thread do. Each pass gives the pictures of the first, every picture
// goes back, and a last pass in order drops every kept picture.
TEST_F(RenderTest, RenderReleaseBalanceAndTwoThreads)
{
    m_scenario = std::make_unique<Scenario>();
    Scenario &s = *m_scenario;
    s.prompter = &m_prompter;
    ASSERT_EQ(loadLinked(s, AllKinds), 0);
    ASSERT_GT(s.totalFrames, 10);
    std::vector<ImagePtr> reference;
    for (int32_t f = 0; f < s.totalFrames; ++f) {
        ImageBuffer *p = s.render(f);
        ASSERT_NE(p, nullptr) << f;
        EXPECT_EQ(QSize(p->width, p->height), QSize(64, 48));
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
        const int32_t frames[] = {f + 2, f, f + 1};
        ImageBuffer *held[] = {s.render(frames[0]), s.render(frames[1]), s.render(frames[2])};
        for (const int i : {0, 1, 2})
            check(held[i], frames[i]);
        for (const int i : {1, 0, 2})
            s.release(held[i], frames[i]);
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
    expectIdle(false);
    for (auto &b : s.blocks)
        EXPECT_FALSE(b->cacheA || b->cacheB) << b->name.value_or("");
}

} // namespace
} // namespace vorn::test
