// Mark strips: adding, deleting, hovering and flashing marks, checkpoints in and CHECKPOINT text out.
#include "timeline/markstrips.h"

#include "support/tempdir.h"
#include "support/wavclip.h"

#include <gtest/gtest.h>

#include <vector>

using namespace vorn;

namespace {
const Colour Cyan{0, 255, 255, 255};
const Colour Green{0, 255, 0, 255};
const Colour Olive{204, 204, 0, 255};
const Colour Red{204, 0, 0, 255};

std::vector<int32_t> times(const MarkStrip &strip)
{
    std::vector<int32_t> result;
    for (const Mark &mark : strip.marks())
        result.push_back(mark.time);
    return result;
}

// A 44.1 kHz 16-bit stereo song of about three seconds (176,400 bytes per second, blockAlign 4).
std::unique_ptr<AudioClip> loadSong(const test::TempDir &dir)
{
    return test::loadWav16(dir.path() / "song.wav", 2, 44100, 3 * 44100,
                           [](int, int32_t) { return int16_t(0); });
}
} // namespace

// The CHECKPOINT text: the marks of the three written strips by time (equal times in strip
// order, signed times sorted as such), never the key frames of strip 3.
TEST(MarkStrips, TextOrdersMarksOfAllWrittenStripsByTime)
{
    struct Added {
        int strip;
        int32_t time, position;
    };
    const struct {
        std::vector<Added> marks;
        int32_t rate, scale;
        const char *entries;
    } cases[] = {
        {{}, 2997, 100, ""},
        {{{1, 1234, 54420}}, 2997, 100, "\tCF\t37\t0\t255\t0\t# 1234\r\n"},
        {{{2, 5000, 50}, {0, 1000, 10}, {1, 3000, 30}, {3, 3000, 30}, {3, 7000, 70}}, 30, 1,
         "\tCF\t30\t0\t255\t255\t# 1000\r\n"
         "\tCF\t90\t0\t255\t0\t# 3000\r\n"
         "\tCF\t150\t204\t204\t0\t# 5000\r\n"},
        // A rate that cannot convert gives frame 0.
        {{{2, 500, 1}, {2, -40, 2}, {0, 500, 3}}, 0, 100,
         "\tCF\t0\t204\t204\t0\t# -40\r\n"
         "\tCF\t0\t0\t255\t255\t# 500\r\n"
         "\tCF\t0\t204\t204\t0\t# 500\r\n"},
    };
    for (const auto &c : cases) {
        MarkStrips strips;
        for (const Added &mark : c.marks)
            strips.strip(mark.strip).addMark(mark.time, mark.position);
        EXPECT_EQ(strips.buildCheckpointText(c.rate, c.scale),
                  std::string("CHECKPOINT\r\n{\r\n") + c.entries + "}\r\n");
    }
}

TEST(MarkStrips, DeleteRemovesOnlyTheFirstMarkAtTheHoveredPosition)
{
    MarkStrips strips;
    MarkStrip &strip = strips.strip(1);
    strip.addMark(100, 700);
    strip.addMark(200, 900);
    strip.addMark(300, 700);
    EXPECT_FALSE(strip.removeHoveredMark());  // nothing hovered

    strip.setHoverPos(700);
    strips.strip(3).setHoverPos(900);
    EXPECT_EQ(strips.removeHoveredMark(), 1u << 1);  // the key-frame strip is left alone
    EXPECT_EQ(times(strip), (std::vector<int32_t>{200, 300}));
    EXPECT_EQ(strip.hoverPos(), -1);
    EXPECT_EQ(strips.strip(3).hoverPos(), 900);

    // A hover that no longer matches a mark is still forgotten.
    strip.setHoverPos(12345);
    EXPECT_TRUE(strip.removeHoveredMark());
    EXPECT_EQ(times(strip), (std::vector<int32_t>{200, 300}));
    EXPECT_EQ(strip.hoverPos(), -1);
}

TEST(MarkStrips, ClearForgetsMarksHoverLitAndSelectedMark)
{
    TimeLine timeLine;
    timeLine.setSelectedMark(700);
    MarkStrips strips;
    strips.strip(0).tick(true, 1000, 700);
    strips.strip(0).setHoverPos(700);
    strips.strip(2).addMark(5, 5);
    strips.clearAll(timeLine);
    for (int k = 0; k < MarkStrips::StripCount; ++k) {
        EXPECT_TRUE(strips.strip(k).marks().empty());
        EXPECT_EQ(strips.strip(k).hoverPos(), -1);
        EXPECT_FALSE(strips.strip(k).isLit());
    }
    EXPECT_EQ(timeLine.selectedMark(), -1);
}

TEST(MarkStrips, NearestMarkIsFirstOfTheSmallestDistance)
{
    const StripView view{0, 1000, 80, 1000};  // one row per position
    MarkStrip strip(Green);
    EXPECT_FALSE(strip.nearestMark(view, 100));
    strip.addMark(0, 108);  // 8 px below
    strip.addMark(0, 95);   // 5 px above
    EXPECT_EQ(strip.nearestMark(view, 100), 1u);

    MarkStrip tie(Green);
    tie.addMark(0, 105);
    tie.addMark(0, 95);
    tie.addMark(0, 105);
    EXPECT_EQ(tie.nearestMark(view, 100), 0u);

    // Marks outside the visible stretch count too, however far.
    MarkStrip outside(Green);
    outside.addMark(0, 5000);
    outside.addMark(0, 2147483647);
    EXPECT_EQ(outside.nearestMark(view, 999), 0u);
}

TEST(MarkStrips, StripLightsJustBeforeAMarkAndWhenOneIsAdded)
{
    MarkStrip strip(Olive);
    strip.addMark(1030, 0);
    EXPECT_TRUE(strip.hasMarkJustAhead(1000));    // 30 ms ahead
    EXPECT_FALSE(strip.hasMarkJustAhead(980));    // exactly 50 ms ahead
    EXPECT_FALSE(strip.hasMarkJustAhead(1030));   // at the playback time
    EXPECT_FALSE(strip.hasMarkJustAhead(-2147483647 - 1));  // no overflow in t - ms

    strip.setHoverPos(0);
    EXPECT_EQ(strip.tick(false, 1000, 0), LitChange::LightUp);
    EXPECT_TRUE(strip.isLit());
    EXPECT_EQ(strip.hoverPos(), -1);
    EXPECT_EQ(strip.tick(false, 1010, 0), LitChange::None);
    EXPECT_EQ(strip.tick(false, 1030, 0), LitChange::GoDark);

    EXPECT_EQ(strip.tick(true, 2000, 88200), LitChange::LightUp);
    EXPECT_EQ(strip.marks().back(), (Mark{2000, 88200, Olive}));
    EXPECT_EQ(strip.tick(true, 2005, 88420), LitChange::None);  // still lit
    EXPECT_EQ(strip.marks().size(), 3u);
}

TEST(MarkStrips, KeyFrameTimesUse64BitArithmetic)
{
    EXPECT_EQ(keyFrameTimeMs(37, 2997, 100), 1234);  // truncated, not rounded
    EXPECT_EQ(keyFrameTimeMs(30000, 2997, 100), 1001001);  // 3e9 before the division
    EXPECT_EQ(keyFrameTimeMs(2147483647, 1, 2147483647), 2147483647);
    EXPECT_EQ(keyFrameTimeMs(-2147483647 - 1, 1, 2147483647), -2147483647 - 1);
    EXPECT_EQ(keyFrameTimeMs(2147483647, 2147483647, 1), 1000);
    EXPECT_FALSE(keyFrameTimeMs(10, 0, 100));
    EXPECT_FALSE(keyFrameTimeMs(10, 30, 0));
}

TEST(MarkStrips, KeyFramesWithoutSongSitAtTheirFrames)
{
    TimeLine timeLine;
    timeLine.setSelectedMark(30);
    MarkStrips strips;
    strips.strip(3).addMark(1, 1);
    const std::vector<int32_t> keyFrames{0, 30, 45, 60, 90};
    strips.rebuildKeyFrameMarks(timeLine, keyFrames, 30, 1, nullptr);
    EXPECT_EQ(timeLine.selectedMark(), -1);
    const std::vector<Mark> expected{
        {0, 0, Red}, {1000, 30, Red}, {1500, 45, Red}, {2000, 60, Red}, {3000, 90, Red}};
    EXPECT_EQ(strips.strip(3).marks(), expected);

    strips.rebuildKeyFrameMarks(timeLine, std::span(keyFrames).first(3), 0, 1, nullptr);
    const std::vector<Mark> timeless{{0, 0, Red}, {0, 30, Red}, {0, 45, Red}};
    EXPECT_EQ(strips.strip(3).marks(), timeless);
    EXPECT_TRUE(strips.buildCheckpointText(30, 1) == "CHECKPOINT\r\n{\r\n}\r\n");
}

TEST(MarkStrips, KeyFramesWithSongSitAtSampleFrames)
{
    test::TempDir dir;
    const auto song = loadSong(dir);
    ASSERT_TRUE(song);
    TimeLine timeLine;
    MarkStrips strips;
    const std::vector<int32_t> keyFrames{0, 30, 45};
    strips.rebuildKeyFrameMarks(timeLine, keyFrames, 30, 1, song.get());
    const std::vector<Mark> expected{{0, 0, Red}, {1000, 44100, Red}, {1500, 66150, Red}};
    EXPECT_EQ(strips.strip(3).marks(), expected);

    strips.rebuildKeyFrameMarks(timeLine, keyFrames, 30, 0, song.get());
    EXPECT_TRUE(strips.strip(3).marks().empty());
}

TEST(MarkStrips, ScenarioCheckpointsReturnByColour)
{
    test::TempDir dir;
    const auto song = loadSong(dir);
    ASSERT_TRUE(song);
    const std::vector<Checkpoint> checkpoints{
        {1000, 30, {0, 255, 0, 255}},
        {500, 15, {0, 255, 255, 0}},   // alpha does not take part
        {2000, 60, {255, 0, 0, 255}},  // any other colour goes to strip 2
        {250, 8, {255, 255, 255, 255}},
    };
    MarkStrips strips;
    strips.addCheckpoints(checkpoints, *song);
    EXPECT_EQ(strips.strip(0).marks(), (std::vector<Mark>{{500, 22050, Cyan}}));
    EXPECT_EQ(strips.strip(1).marks(), (std::vector<Mark>{{1000, 44100, Green}}));
    EXPECT_EQ(strips.strip(2).marks(), (std::vector<Mark>{{2000, 88200, Olive}, {250, 11025, Olive}}));
    EXPECT_TRUE(strips.strip(3).marks().empty());
    EXPECT_EQ(strips.buildCheckpointText(30, 1),
              "CHECKPOINT\r\n{\r\n"
              "\tCF\t8\t204\t204\t0\t# 250\r\n"
              "\tCF\t15\t0\t255\t255\t# 500\r\n"
              "\tCF\t30\t0\t255\t0\t# 1000\r\n"
              "\tCF\t60\t204\t204\t0\t# 2000\r\n"
              "}\r\n");
}
