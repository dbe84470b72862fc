// Label tracks: marks out to label text and back unchanged, and bad lines refused by number.
#include "timeline/labelfile.h"

#include "timeline/markstrips.h"

#include "support/datatable.h"
#include "support/tempdir.h"
#include "support/wavclip.h"

#include <gtest/gtest.h>

using namespace vorn;

// Marks as taps and beat fills make them (a position and its time) come back exactly, in each
// strip's time order; the text is sorted by time with strips in order at equal times.
TEST(LabelFile, MarksRoundTripAndBadLinesAreRefusedWithTheirNumber)
{
    test::TempDir dir;
    const auto song = test::loadWav(dir.path() / "song.wav", test::wav16Bytes(2, 44100, 3 * 44100));
    ASSERT_TRUE(song);
    MarkStrips strips;
    const std::pair<int, int32_t> added[] = {{2, 44100}, {0, 22050}, {1, 1}, {0, 44100}, {2, 123457}, {1, 0}};
    for (const auto &[k, position] : added)
        strips.strip(k).addMark(song->sampleFramesToMs(position), position);
    strips.strip(1).splice(0, 2, std::vector<Mark>{strips.strip(1).marks()[1], strips.strip(1).marks()[0]});
    const std::string text = writeLabelTrack(strips, *song);
    EXPECT_EQ(text.substr(0, 75), "0.000000\t0.000000\tstrip1\n"
                                  "0.000023\t0.000023\tstrip1\n"
                                  "0.500000\t0.500000\tstrip0\n");
    const auto path = dir.path() / "marks.txt";
    ASSERT_EQ(writeLabelFile(path, strips, *song), 0);
    const LabelTrack track = readLabelFile(path, *song);
    EXPECT_EQ(track.line, 0);
    EXPECT_EQ(track.error, "");
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(track.marks[size_t(k)], strips.strip(k).marks()) << "strip " << k;

    // The rows of data/labels.tsv: bad lines are refused with their number.
    for (const test::Row &row : test::readTable("tests/timeline/data/labels.tsv")) {
        SCOPED_TRACE(row[0]);
        const LabelTrack track = readLabelTrack(row[0], *song);
        EXPECT_EQ(track.line, std::stoi(row[1]));
        EXPECT_EQ(track.error.empty(), row[1] == "0");
        EXPECT_EQ(track.marks[0].size() + track.marks[1].size() + track.marks[2].size(), std::stoul(row[2]));
    }
    EXPECT_EQ(readLabelTrack("2.5\t3\tstrip2\n", *song).marks[2],
              (std::vector<Mark>{{2500, 110250, MarkStrips::StripColours[2]}}));

    // Files that cannot be read say so without a line.
    for (const auto &path : {dir.path() / "missing.txt", dir.path()}) {
        const LabelTrack track = readLabelFile(path, *song);
        EXPECT_EQ(track.line, 0);
        EXPECT_FALSE(track.error.empty());
    }
}
