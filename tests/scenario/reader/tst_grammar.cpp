// Block grammar tests beyond the refused texts of data/errors.tsv: what keywords set beyond the
// written lines, and blocks that end with the text, read through the reader as users reach it.
#include "readertest.h"

#include "base/sjis.h"
#include "imaging/shapes.h"
#include "scenario/model/blocks.h"
#include "scenario/reader/sourcetext.h"

namespace vorn::test {
namespace {

// The error text as the reader composes it for this test's texts.
std::string composed(int line, std::string_view message)
{
    return readingError("grammar.txt", line, message);
}

// A text read on a screen of the given size (no file: blocks ending with the text are seen).
struct Read : Loaded {
    explicit Read(std::string_view text, int32_t screenWidth = 640, int32_t screenHeight = 480)
    {
        scenario.screenWidth = screenWidth;
        scenario.screenHeight = screenHeight;
        result = loadText(scenario, SourceText(std::string(text), std::nullopt, "grammar.txt"));
    }

    template <typename T>
    T &block(size_t index)
    {
        return dynamic_cast<T &>(*scenario.blocks.at(index));
    }
};

// ---------------------------------------------------------------------------------------------
// What the keywords store, beyond the written lines (the model's read-then-write test
// checks those for every kind).

TEST(GrammarFields, textStringsJoinWithCrLf)
{
    // 表 and ソ end in the backslash byte 0x5C; the pair that follows them is still a line break
    // and the characters stay whole.
    const SjisString hyou = *utf8ToSjis("表");
    const SjisString so = *utf8ToSjis("ソ");
    const std::vector<std::pair<std::string, SjisString>> cases = {
        {"STRING \"A\"\nSTRING \"B\"", "A\r\nB"},
        {"STRING \"A\\\\B\"", "A\r\nB"},
        {"STRING \"x\\\\\\y\"", "x\r\n\\y"},  // pairs are taken from the left
        {"STRING \"" + hyou + "\\\\" + so + "\\" + so + "\"", hyou + "\r\n" + so + "\\" + so},
    };
    for (const auto &[lines, expected] : cases) {
        Read read("TEXT \"t\" {\nSIZE 10 20\n" + lines + "\nFONT \"Face\" 7 9\n}\n");
        ASSERT_EQ(read.result, 0) << lines;
        EXPECT_EQ(read.block<TextBlock>(0).string, expected) << lines;
    }
}

TEST(GrammarFields, filmLengthFollowsScreenAsRead)
{
    // 640 / 16 = 40 units, 13 per input after the first.
    Read read("FILM \"f\" {\nINPUT \"a\"\nINPUT \"b\"\nINPUT \"c\"\nLEFT\nCOLOR 1 2 3\nBGCOLOR 4 5 6\nFRAMES 9\n}\n"
              "FILM \"g\" {\nINPUT \"a\"\nINPUT \"b\"\nUP\nFRAMES 2\n}\n"
              "SCREEN 320 240\n"
              "FILM \"h\" {\nINPUT \"a\"\nINPUT \"b\"\nRIGHT\nFRAMES 2\n}\n",
              640, 479);
    ASSERT_EQ(read.result, 0) << read.lastError();
    auto &left = read.block<FilmBlock>(0);
    EXPECT_EQ(left.direction, DirectionLeft);
    EXPECT_EQ(left.inputCount, 3);
    EXPECT_EQ(left.filmLength, 1040);
    EXPECT_EQ(left.color, (Colour{1, 2, 3, 0}));
    EXPECT_EQ(left.bgColor, (Colour{4, 5, 6, 255}));
    // UP uses the height, rounded down to sixteenths: 479 >> 4 = 29.
    EXPECT_EQ(read.block<FilmBlock>(1).filmLength, 29 * 13);
    // Read after SCREEN 320 240: the earlier blocks keep their lengths.
    EXPECT_EQ(read.block<FilmBlock>(2).filmLength, 20 * 13);
}

TEST(GrammarFields, filmLengthStaysInRange)
{
    const char *film = "FILM \"f\" {\nINPUT \"a\"\nINPUT \"b\"\nINPUT \"c\"\nINPUT \"d\"\nRIGHT\nFRAMES 2\n}\n";
    Read huge(film, INT32_MAX, 10);
    ASSERT_EQ(huge.result, 0);
    EXPECT_EQ(huge.block<FilmBlock>(0).filmLength, INT32_MAX);
    // Before any SCREEN line the width is -1: no scroll, never a negative one.
    Read unknown(film, -1, -1);
    ASSERT_EQ(unknown.result, 0);
    EXPECT_EQ(unknown.block<FilmBlock>(0).filmLength, 0);
}

// A background colour is opaque (the region picker shows it as the blank screen).
TEST(GrammarFields, backgroundColourIsOpaque)
{
    Read read("STILL \"s\" {\nINPUT \"a\"\nBGCOLOR 7 8 9\nFRAMES 1\n}\n");
    ASSERT_EQ(read.result, 0);
    EXPECT_EQ(read.block<StillBlock>(0).bgColor, (Colour{7, 8, 9, 255}));
}

TEST(GrammarFields, checkpointEntries)
{
    Read read("CHECKPOINT {\n\tCF\t37\t0\t255\t0\t# 1234\n\tCT 1234\nCF 5 204 204 0 }\n"
              "CHECKPOINT\n{\nCT 0 1 2 3\nCF -\n}\n");
    ASSERT_EQ(read.result, 0) << read.lastError();
    const std::vector<Checkpoint> expected = {
        {-1, 37, {0, 255, 0, 255}},
        {1234, -1, {255, 255, 255, 255}},
        {-1, 5, {204, 204, 0, 255}},
        {0, -1, {1, 2, 3, 255}},
        {-1, 0, {255, 255, 255, 255}},  // a lone '-' is 0
    };
    EXPECT_EQ(read.scenario.checkpoints, expected);
}

TEST(GrammarFields, checkpointRecordsBeforeAFailureStay)
{
    Read read("CHECKPOINT {\nCF 1\nCT x\n}\n");
    EXPECT_EQ(read.prompter.errors, std::vector<std::string>{composed(3, "チェックポイントを正しく記述してください。")});
    EXPECT_EQ(read.scenario.checkpoints, (std::vector<Checkpoint>{{-1, 1, {255, 255, 255, 255}}}));
}

// ---------------------------------------------------------------------------------------------
// Keyword limits and the end of the text.

TEST(GrammarFrame, blocksEndingWithTheTextSkipClosingChecks)
{
    // No closing brace and no byte after the last value: accepted as they stand (the way a
    // macro body's last block ends).
    Read image("IMAGE \"a\" {\nSEPIA\nFILE \"x\"");
    EXPECT_EQ(image.result, 0);
    EXPECT_EQ(image.block<ImageBlock>(0).file, SjisString("x"));

    Read text("TEXT \"t\" {\nSTRING \"x\"");
    ASSERT_EQ(text.result, 0);
    EXPECT_EQ(text.block<TextBlock>(0).font, utf8ToSjis("ＭＳ ゴシック"));

    Read film("FILM \"f\" {\nDOWN\nINPUT \"a\"\nINPUT \"b\"", 640, 480);
    ASSERT_EQ(film.result, 0);
    EXPECT_EQ(film.block<FilmBlock>(0).inputCount, 2);
    EXPECT_EQ(film.block<FilmBlock>(0).filmLength, 30 * 13);

    Read fade("FADEOUT \"f\" {\nINPUT \"a\"");
    ASSERT_EQ(fade.result, 0);
    EXPECT_EQ(fade.block<FadeBlock>(0).fadeMode, FadeBlock::ModeOut);

    Read main("MAIN {\nINPUT \"a\"");
    ASSERT_EQ(main.result, 0);
    EXPECT_EQ(main.scenario.mainInput.block, main.scenario.blocks[0].get());

    // A brace may end the text (a keyword may not: data/errors.tsv).
    Read checkpoints("CHECKPOINT {\nCF 3 }\nCHECKPOINT {");
    EXPECT_EQ(checkpoints.result, 0);
    EXPECT_EQ(checkpoints.scenario.checkpoints.size(), 1u);
}

// Points are kept newest first, whether the shape closes or the text ends inside it; a RECT the
// text ends in uses only the points read.
TEST(GrammarFrame, shapePointsAreKeptNewestFirst)
{
    const struct {
        const char *text;
        std::vector<ShapePoint> points;
    } rows[] = {
        {"DRAW \"d\" {\nSIZE 9 9\nLINE {\nPOINT 1 2\nPOINT 3 4\nPOINT 5 6\n}\n}\n", {{5, 6}, {3, 4}, {1, 2}}},
        {"DRAW \"d\" {\nSIZE 9 9\nPOLYGON {\nPOINT 1 1\nPOINT 2 1\nPOINT 2 2\nPOINT 1 (3)", {{1, 3}, {2, 2}, {2, 1}, {1, 1}}},
        {"DRAW \"d\" {\nSIZE 5 5\nRECT {\nFILL\nPOINT 7 (8)", std::vector<ShapePoint>(4, ShapePoint{7, 8})},
        {"DRAW \"d\" {\nSIZE 5 5\nRECT {", {}},
    };
    for (const auto &row : rows) {
        Read read(row.text);
        ASSERT_EQ(read.result, 0) << row.text;
        ASSERT_EQ(read.block<DrawBlock>(0).shapes.size(), 1u);
        auto *line = dynamic_cast<ShapeLine *>(read.block<DrawBlock>(0).shapes[0].get());
        ASSERT_NE(line, nullptr);
        EXPECT_EQ(line->points, row.points) << row.text;
        EXPECT_EQ(line->count, int32_t(row.points.size()));
    }
}

TEST(GrammarFrame, shiftJisNamesAreBytes)
{
    // 表 ends in 0x5C, a backslash byte; names are never decoded, and messages decode keywords.
    const SjisString name = *utf8ToSjis("表示");
    const SjisString word = *utf8ToSjis("画像");
    Read read("STILL \"" + name + "\" {\nINPUT \"" + name + "\"\nFRAMES 2\n}\nSTILL \"b\" {\n" + word + "\n}\n");
    EXPECT_EQ(read.result, -1);
    ASSERT_EQ(read.scenario.blocks.size(), 1u);
    EXPECT_EQ(read.scenario.blocks[0]->name, name);
    EXPECT_EQ(read.scenario.blocks[0]->inputs[0]->name, name);
    ASSERT_EQ(read.prompter.errors.size(), 1u);
    EXPECT_EQ(read.prompter.errors[0], composed(6, "STILL ブロック内では、画像 の記述はできません。"));
}

} // namespace
} // namespace vorn::test
