// The waveform strip's row walk over a real WAV file, and its centre lines.
#include "timeline/waveformrows.h"

#include "support/tempdir.h"
#include "support/wavclip.h"

#include <gtest/gtest.h>

using namespace vorn;

// 300 rows of 1,000 frames on a 300-pixel strip, reading every tenth frame: frames that are a
// multiple of ten hold the row's loudness (row n + 1, times 100), every other frame a value that
// would show if it were read.
TEST(WaveformRows, RowsOfAThousandFramesReadEveryTenthFrame)
{
    test::TempDir dir;
    const int32_t top = 20000;
    const auto song = test::loadWav16(dir.path() / "rows.wav", 2, 44100, top + 300000,
                                      [](int channel, int32_t f) {
                                          if (f < top || f % 10 != 0)
                                              return int16_t(channel == 0 ? -30000 : 30000);
                                          const int32_t row = (f - top) / 1000;
                                          return int16_t((channel == 0 ? 100 : -100) * (row + 1));
                                      });
    ASSERT_TRUE(song);
    const WaveformRows walk = waveformRows(*song, StripView{top, 300000, 200, 300});
    EXPECT_EQ(walk.channelCount, 2);
    EXPECT_EQ(walk.samplesPerRow, 1000);
    EXPECT_EQ(walk.step, 10);
    ASSERT_EQ(walk.rows.size(), 300u);
    for (int n = 0; n < 300; ++n) {
        SCOPED_TRACE(n);
        const WaveformRow &row = walk.rows[size_t(n)];
        EXPECT_EQ(row.y, n);
        // 100 reads of 100 (n + 1): mean 10 (n + 1), times width 200 and step 10, / 20000.
        EXPECT_EQ(row.xFrom[0], 50 + n + 1);
        EXPECT_EQ(row.xTo[0], 50);
        EXPECT_EQ(row.xFrom[1], 150);
        EXPECT_EQ(row.xTo[1], 150 - (n + 1));
    }
}

// A span that does not divide into rows leaves a short last row one pixel past the strip, whose
// reads stop at the end of the visible stretch.
TEST(WaveformRows, LastRowStopsAtTheEndOfTheStretch)
{
    test::TempDir dir;
    const auto song = test::loadWav16(dir.path() / "mono.wav", 1, 22050, 70000,
                                      [](int, int32_t f) { return int16_t(f < 1005 ? 2000 : 30000); });
    ASSERT_TRUE(song);
    const WaveformRows walk = waveformRows(*song, StripView{0, 1005, 200, 100});
    EXPECT_EQ(walk.channelCount, 1);
    EXPECT_EQ(waveformCentreLines(walk.channelCount, 200), (std::vector<int32_t>{100}));
    EXPECT_EQ(waveformCentreLines(0, 200), (std::vector<int32_t>{50, 150}));  // no song
    EXPECT_EQ(walk.samplesPerRow, 10);
    EXPECT_EQ(walk.step, 1);
    ASSERT_EQ(walk.rows.size(), 101u);
    EXPECT_EQ(walk.rows[0].y, 0);
    EXPECT_EQ(walk.rows[0].xFrom[0], 100 + 20);  // mean 2000 * 200 / 20000
    EXPECT_EQ(walk.rows[0].xTo[0], 100);
    const WaveformRow &last = walk.rows.back();
    EXPECT_EQ(last.y, 100);
    EXPECT_EQ(last.xFrom[0], 100 + 10);  // five frames of 2000 over a ten-frame row
    EXPECT_EQ(last.xTo[0], 100);
}

TEST(WaveformRows, NothingToWalkGivesNoRows)
{
    AudioClip unloaded;
    EXPECT_TRUE(waveformRows(unloaded, StripView{0, 1000, 200, 100}).rows.empty());

    test::TempDir dir;
    const auto song = test::loadWav16(dir.path() / "quiet.wav", 2, 44100, 40000);
    ASSERT_TRUE(song);
    EXPECT_TRUE(waveformRows(*song, StripView{0, 1000, 200, 0}).rows.empty());
    EXPECT_TRUE(waveformRows(*song, StripView{0, 0, 200, 100}).rows.empty());
    EXPECT_TRUE(waveformRows(*song, StripView{-10, 1000, 200, 100}).rows.empty());
    EXPECT_EQ(waveformRows(*song, StripView{0, 1, 200, 100}).rows.size(), 1u);  // one frame in view

    // A span shorter than the strip: one frame per row, silence draws a dot on each centre.
    const WaveformRows walk = waveformRows(*song, StripView{0, 50, 200, 100});
    ASSERT_EQ(walk.rows.size(), 50u);
    EXPECT_EQ(walk.rows[49].y, 98);
    EXPECT_EQ(walk.rows[49].xFrom, (std::array<int32_t, 2>{50, 150}));
    EXPECT_EQ(walk.rows[49].xTo, (std::array<int32_t, 2>{50, 150}));
}
