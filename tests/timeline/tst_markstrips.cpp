// Mark strips: adding, deleting, hovering and flashing marks, checkpoints in and CHECKPOINT text out.
#include "timeline/markstrips.h"

#include "support/tempdir.h"
#include "support/wavclip.h"

#include <gtest/gtest.h>

#include <vector>

using namespace vorn;

namespace {
constexpr int32_t Max = 2147483647;

// A mark as strip k holds it.
Mark mark(int k, int32_t time, int32_t position)
{
    return {time, position, MarkStrips::StripColours[size_t(k)]};
}
} // namespace

// The CHECKPOINT text: the marks of the three written strips by time (equal times in strip
// order, signed times sorted as such), never the key frames of strip 3.
TEST(MarkStrips, TextOrdersMarksOfAllWrittenStripsByTime)
{
    const struct {
        std::vector<std::array<int32_t, 3>> marks;  // strip, time, position
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
        for (const auto &[k, time, position] : c.marks)
            strips.strip(k).addMark(time, position);
        EXPECT_EQ(strips.buildCheckpointText(c.rate, c.scale), std::string("CHECKPOINT\r\n{\r\n") + c.entries + "}\r\n");
    }
}

TEST(MarkStrips, DeleteRemovesOnlyTheFirstMarkAtTheHoveredPosition)
{
    MarkStrips strips;
    MarkStrip &strip = strips.strip(1);
    for (const auto &[time, position] : {std::pair{100, 700}, {200, 900}, {300, 700}})
        strip.addMark(time, position);
    EXPECT_FALSE(strip.removeHoveredMark());  // nothing hovered
    strip.setHoverPos(700);
    strips.strip(3).setHoverPos(900);
    EXPECT_EQ(strips.removeHoveredMark(), 1u << 1);  // the key-frame strip is left alone
    EXPECT_EQ(strip.marks(), (std::vector<Mark>{mark(1, 200, 900), mark(1, 300, 700)}));
    EXPECT_EQ(strip.hoverPos(), -1);
    EXPECT_EQ(strips.strip(3).hoverPos(), 900);

    // Clearing forgets marks, hover, the lit state and the selected mark.
    TimeLine timeLine;
    timeLine.setSelectedMark(700);
    strips.strip(0).tick(true, 1000, 700);
    strips.strip(0).setHoverPos(700);
    strips.clearAll(timeLine);
    for (int k = 0; k < MarkStrips::StripCount; ++k) {
        EXPECT_TRUE(strips.strip(k).marks().empty());
        EXPECT_EQ(strips.strip(k).hoverPos(), -1);
        EXPECT_FALSE(strips.strip(k).isLit());
    }
    EXPECT_EQ(timeLine.selectedMark(), -1);
}

// The first of the smallest distance, marks outside the visible stretch too, however far.
TEST(MarkStrips, NearestMarkIsFirstOfTheSmallestDistance)
{
    const StripView view{0, 1000, 80, 1000};  // one row per position
    const struct { std::vector<int32_t> positions; int32_t y; std::optional<size_t> nearest; } cases[] = {
        {{}, 100, std::nullopt}, {{108, 95}, 100, 1}, {{105, 95, 105}, 100, 0}, {{5000, Max}, 999, 0}};
    for (const auto &c : cases) {
        MarkStrip strip;
        for (const int32_t p : c.positions)
            strip.addMark(0, p);
        EXPECT_EQ(strip.nearestMark(view, c.y), c.nearest) << c.positions.size();
    }
}

TEST(MarkStrips, StripLightsJustBeforeAMarkAndWhenOneIsAdded)
{
    MarkStrip strip(MarkStrips::StripColours[2]);
    strip.addMark(1030, 0);
    // 30 ms ahead lights; exactly 50 ms ahead, at the playback time and far before (no overflow
    // in t - ms) do not.
    for (const auto &[t, ahead] : {std::pair{1000, true}, {980, false}, {1030, false}, {-Max - 1, false}})
        EXPECT_EQ(strip.hasMarkJustAhead(t), ahead) << t;

    strip.setHoverPos(0);
    EXPECT_EQ(strip.tick(false, 1000, 0), LitChange::LightUp);
    EXPECT_TRUE(strip.isLit());
    EXPECT_EQ(strip.hoverPos(), -1);
    EXPECT_EQ(strip.tick(false, 1010, 0), LitChange::None);
    EXPECT_EQ(strip.tick(false, 1030, 0), LitChange::GoDark);

    EXPECT_EQ(strip.tick(true, 2000, 88200), LitChange::LightUp);
    EXPECT_EQ(strip.marks().back(), mark(2, 2000, 88200));
    EXPECT_EQ(strip.tick(true, 2005, 88420), LitChange::None);  // still lit
    EXPECT_EQ(strip.marks().size(), 3u);
}

// Key frames sit at their times in 64-bit arithmetic, truncated: without a song on their video
// frames (time 0 where the rate cannot convert), with one on the time's sample frame (none
// where the rate cannot convert). Rebuilding forgets the selected mark and the old key frames.
// The scenario's checkpoints return to the strips by colour.
TEST(MarkStrips, KeyFramesSitAtTheirFramesAndCheckpointsReturnByColour)
{
    const std::pair<std::array<int32_t, 3>, std::optional<int32_t>> times[] = {
        {{37, 2997, 100}, 1234},  // truncated, not rounded
        {{30000, 2997, 100}, 1001001},  // 3e9 before the division
        {{Max, 1, Max}, Max}, {{-Max - 1, 1, Max}, -Max - 1}, {{Max, Max, 1}, 1000},
        {{10, 0, 100}, std::nullopt}, {{10, 30, 0}, std::nullopt}};
    for (const auto &[in, ms] : times)
        EXPECT_EQ(keyFrameTimeMs(in[0], in[1], in[2]), ms) << in[0] << " at " << in[1] << "/" << in[2];

    test::TempDir dir;
    const auto song = test::loadWav(dir.path() / "song.wav", test::wav16Bytes(2, 44100, 3 * 44100));
    ASSERT_TRUE(song);
    const std::vector<int32_t> keyFrames{0, 30, 45, 60, 90}, times30{0, 1000, 1500, 2000, 3000};
    const struct { int32_t rate, scale; const AudioClip *song; std::vector<int32_t> times, positions; } cases[] = {
        {30, 1, nullptr, times30, keyFrames}, {0, 1, nullptr, {0, 0, 0, 0, 0}, keyFrames},
        {30, 1, song.get(), times30, {0, 44100, 66150, 88200, 132300}}, {30, 0, song.get(), {}, {}}};
    MarkStrips strips;
    strips.strip(3).addMark(1, 1);
    for (const auto &c : cases) {
        TimeLine timeLine;
        timeLine.setSelectedMark(30);
        strips.rebuildKeyFrameMarks(timeLine, keyFrames, c.rate, c.scale, c.song);
        EXPECT_EQ(timeLine.selectedMark(), -1);
        std::vector<Mark> expected;
        for (size_t i = 0; i < c.times.size(); ++i)
            expected.push_back(mark(3, c.times[i], c.positions[i]));
        EXPECT_EQ(strips.strip(3).marks(), expected) << c.rate << "/" << c.scale;
        EXPECT_EQ(strips.buildCheckpointText(30, 1), "CHECKPOINT\r\n{\r\n}\r\n");
    }

    const std::vector<Checkpoint> checkpoints{
        {1000, 30, {0, 255, 0, 255}},
        {500, 15, {0, 255, 255, 0}},   // alpha does not take part
        {2000, 60, {255, 0, 0, 255}},  // any other colour goes to strip 2
        {250, 8, {255, 255, 255, 255}},
    };
    MarkStrips fromScenario;
    fromScenario.addCheckpoints(checkpoints, *song);
    EXPECT_EQ(fromScenario.strip(0).marks(), (std::vector<Mark>{mark(0, 500, 22050)}));
    EXPECT_EQ(fromScenario.strip(1).marks(), (std::vector<Mark>{mark(1, 1000, 44100)}));
    EXPECT_EQ(fromScenario.strip(2).marks(), (std::vector<Mark>{mark(2, 2000, 88200), mark(2, 250, 11025)}));
    EXPECT_TRUE(fromScenario.strip(3).marks().empty());
}
