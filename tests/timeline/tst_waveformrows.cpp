// The waveform strip's row walk over a real WAV file, and its centre lines.
#include "timeline/waveformrows.h"

#include "support/tempdir.h"
#include "support/wavclip.h"

#include <gtest/gtest.h>

using namespace vorn;

namespace {
// A walk as {channels, samples per row, step, rows}; a row as {y, xFrom, xTo of channel 0, of 1}.
std::array<int32_t, 4> shape(const WaveformRows &w)
{
    return {w.channelCount, w.samplesPerRow, w.step, int32_t(w.rows.size())};
}
std::array<int32_t, 5> flat(const WaveformRow &r) { return {r.y, r.xFrom[0], r.xTo[0], r.xFrom[1], r.xTo[1]}; }
} // namespace

// 300 rows of 1,000 frames on a 300-pixel strip, reading every tenth frame: frames that are a
// multiple of ten hold the row's loudness (row n + 1, times 100), every other frame a value that
// would show if it were read.
TEST(WaveformRows, RowsOfAThousandFramesReadEveryTenthFrame)
{
    test::TempDir dir;
    const int32_t top = 20000;
    auto sample = [&](int channel, int32_t f) {
        if (f < top || f % 10 != 0)
            return int16_t(channel == 0 ? -30000 : 30000);
        return int16_t((channel == 0 ? 100 : -100) * ((f - top) / 1000 + 1));
    };
    const auto song = test::loadWav(dir.path() / "rows.wav", test::wav16Bytes(2, 44100, top + 300000, sample));
    ASSERT_TRUE(song);
    const WaveformRows walk = waveformRows(*song, StripView{top, 300000, 200, 300});
    ASSERT_EQ(shape(walk), (std::array{2, 1000, 10, 300}));
    // 100 reads of 100 (n + 1): mean 10 (n + 1), times width 200 and step 10, / 20000.
    for (int n = 0; n < 300; ++n)
        EXPECT_EQ(flat(walk.rows[size_t(n)]), (std::array{n, 50 + n + 1, 50, 150, 150 - (n + 1)}));
}

// A span that does not divide into rows leaves a short last row one pixel past the strip, whose
// reads stop at the end of the visible stretch.
TEST(WaveformRows, LastRowStopsAtTheEndOfTheStretch)
{
    test::TempDir dir;
    const auto song = test::loadWav(dir.path() / "mono.wav", test::wav16Bytes(1, 22050, 70000, [](int, int32_t f) {
        return int16_t(f < 1005 ? 2000 : 30000);
    }));
    ASSERT_TRUE(song);
    const WaveformRows walk = waveformRows(*song, StripView{0, 1005, 200, 100});
    EXPECT_EQ(waveformCentreLines(walk.channelCount, 200), (std::vector<int32_t>{100}));
    EXPECT_EQ(waveformCentreLines(0, 200), (std::vector<int32_t>{50, 150}));  // no song
    ASSERT_EQ(shape(walk), (std::array{1, 10, 1, 101}));
    EXPECT_EQ(flat(walk.rows[0]), (std::array{0, 100 + 20, 100, 0, 0}));  // mean 2000 * 200 / 20000
    EXPECT_EQ(flat(walk.rows.back()), (std::array{100, 100 + 10, 100, 0, 0}));  // five frames of 2000 over ten
}

TEST(WaveformRows, NothingToWalkGivesNoRows)
{
    EXPECT_TRUE(waveformRows(AudioClip(), StripView{0, 1000, 200, 100}).rows.empty());

    test::TempDir dir;
    const auto song = test::loadWav(dir.path() / "quiet.wav", test::wav16Bytes(2, 44100, 40000));
    ASSERT_TRUE(song);
    for (const StripView &view : {StripView{0, 1000, 200, 0}, StripView{0, 0, 200, 100}, StripView{-10, 1000, 200, 100}})
        EXPECT_TRUE(waveformRows(*song, view).rows.empty()) << view.top << ", " << view.span << ", " << view.height;
    EXPECT_EQ(waveformRows(*song, StripView{0, 1, 200, 100}).rows.size(), 1u);  // one frame in view

    // A span shorter than the strip: one frame per row, silence draws a dot on each centre.
    const WaveformRows walk = waveformRows(*song, StripView{0, 50, 200, 100});
    ASSERT_EQ(walk.rows.size(), 50u);
    EXPECT_EQ(flat(walk.rows[49]), (std::array{98, 50, 50, 150, 150}));
}
