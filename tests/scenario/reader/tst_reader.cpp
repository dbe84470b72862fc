// The text reader: global statements, values, INCLUDE, macros, messages with file and line.
#include "datatable.h"
#include "readertest.h"

#include "scenario/reader/loadscenario.h"
#include "scenario/reader/macro.h"
#include "scenario/reader/sourcetext.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace vorn::test {
namespace {

TEST(Reader, GlobalStatementsSetTheScenario)
{
    TempDir dir;
    auto loaded = loadString(dir,
                             "SCREEN 640 480\r\n"
                             "FRAMERATE # a comment, then the value on the next line\r\n"
                             "  2997\r\n"
                             "SCALE\t100\n"
                             "PREVIEWSCALE 2 BOARDBREAK 500\n"
                             "STARTFRAME (10*3)\n"
                             "FOLDER (640+160) (200+40)\n");
    ASSERT_EQ(loaded->result, 0) << loaded->lastError();
    const Scenario &s = loaded->scenario;
    EXPECT_EQ(s.screenWidth, 800);
    EXPECT_EQ(s.screenHeight, 240);
    EXPECT_EQ(s.frameRate, 2997);
    EXPECT_EQ(s.scale, 100);
    EXPECT_EQ(s.previewScale, 2);
    EXPECT_EQ(s.boardBreak, 500);
    EXPECT_EQ(s.startFrame, 30);
    EXPECT_TRUE(loaded->prompter.errors.empty());
    // The path is the first file's name; the directory is restored after a successful read.
    EXPECT_EQ(s.path, pathToSjis(dir.path() / "test.txt"));
    EXPECT_FALSE(s.currentDirectory);
}

TEST(Reader, LiteralsWrapAroundInsteadOfOverflowing)
{
    TempDir dir;
    auto loaded = loadString(dir, "SCREEN 4294967297 -4294967295\nSTARTFRAME -\n");
    ASSERT_EQ(loaded->result, 0) << loaded->lastError();
    EXPECT_EQ(loaded->scenario.screenWidth, 1);
    EXPECT_EQ(loaded->scenario.screenHeight, 1);
    EXPECT_EQ(loaded->scenario.startFrame, 0);  // a lone '-' is 0
}

// Every row of data/errors.tsv: a text refused with exactly one message, named with its line,
// or one that reads but does not link.
TEST(Reader, RefusedTextsGiveTheirOneMessage)
{
    TempDir dir;
    std::filesystem::copy_file(std::filesystem::path(VORN_TEST_DATA_DIR) / "scenario/allkinds.bmp",
                               dir.path() / "a.bmp");
    for (const Row &row : readTable("tests/scenario/reader/data/errors.tsv")) {
        ASSERT_GE(row.size(), 4u);
        SCOPED_TRACE(row[0] + ": " + row[2]);
        const int line = std::stoi(row[1]);
        RecordingPrompter prompter;
        EXPECT_FALSE(loadLinkedScenario(dir.write("test.txt", row[2]), prompter));
        EXPECT_EQ(prompter.errors,
                  std::vector<std::string>{
                      line > 0    ? readingError(row.size() > 4 ? row[4] : "test.txt", line, row[3])
                      : line == 0 ? linkingError(row[3])
                                  : row[3]});
    }
}

TEST(Reader, TwoMessagesWhereTheLanguageGivesTwo)
{
    TempDir dir;
    // An empty quoted string: the token reader's message, then the string reader's.
    auto empty = loadString(dir, "INCLUDE \"\"\n");
    EXPECT_EQ(empty->result, -1);
    EXPECT_EQ(empty->prompter.errors,
              (std::vector<std::string>{
                  readingError("test.txt", 1, "不明なエラーが発生しました。"),
                  readingError("test.txt", 1, "シナリオ解析時に問題が発生しました。")}));
    // A failed value in a variable definition: the value's message, then the definition's.
    auto variable = loadString(dir, "$(A) = (1/0)\n");
    EXPECT_EQ(variable->prompter.errors,
              (std::vector<std::string>{
                  readingError("test.txt", 1, "0 による割り算が発生しました。"),
                  readingError("test.txt", 1, "不正な記述があります。")}));
}

TEST(Reader, VariablesHoldValuesNewestFirst)
{
    TempDir dir;
    auto loaded = loadString(dir,
                             "$(A) = 5\n"
                             "$( B ) = ($(A)+1)\n"
                             "$(A) = 7\n"
                             "SCREEN $(A) $(B)\n"
                             "STARTFRAME (2*-3 + 10)\n");
    ASSERT_EQ(loaded->result, 0) << loaded->lastError();
    EXPECT_EQ(loaded->scenario.screenWidth, 7);
    EXPECT_EQ(loaded->scenario.screenHeight, 6);  // B kept the value, not the formula
    EXPECT_EQ(loaded->scenario.startFrame, 7);    // (2*0)-3+10
    ASSERT_EQ(loaded->scenario.variables.size(), 3u);
    ASSERT_TRUE(loaded->scenario.variables.find("A"));
    EXPECT_EQ(loaded->scenario.variables.find("A")->value, "7");

    // A bare reference reads only the reference; the rest is the next keyword.
    auto bare = loadString(dir, "$(A) = 5\nSCREEN $(A)*2 1\n");
    ASSERT_EQ(bare->prompter.errors.size(), 1u);
    EXPECT_EQ(bare->lastError(), readingError("test.txt", 2, "スクリーン高を正しく記述してください。"));
}

TEST(Reader, IncludeReadsRelativeToTheIncludingFile)
{
    TempDir dir;
    dir.write("sub/song.wav", "RIFF");
    dir.write("sub/inner.txt", "STARTFRAME 9\nAUDIO \"song.wav\"\n");
    dir.write("sub/part.txt", "FRAMERATE 24\nINCLUDE \"inner.txt\"\n");
    auto loaded = loadString(dir, "SCREEN 1 2\nINCLUDE \"sub/part.txt\"\nSCALE 3\n");
    ASSERT_EQ(loaded->result, 0) << loaded->lastError();
    EXPECT_EQ(loaded->scenario.frameRate, 24);
    EXPECT_EQ(loaded->scenario.startFrame, 9);
    EXPECT_EQ(loaded->scenario.scale, 3);
    EXPECT_EQ(loaded->scenario.audio, pathToSjis(dir.path() / "sub").value() + "\\song.wav");
    EXPECT_EQ(loaded->scenario.path, pathToSjis(dir.path() / "test.txt"));

    // An absolute name is kept as written.
    const SjisString song = pathToSjis(dir.path() / "sub" / "song.wav").value();
    auto absolute = loadString(dir, "AUDIO \"" + song + "\"\n", "absolute.txt");
    ASSERT_EQ(absolute->result, 0) << absolute->lastError();
    EXPECT_EQ(absolute->scenario.audio, song);
    // A folder is no song.
    auto folderSong = loadString(dir, "AUDIO \"sub\"\n", "folder.txt");
    EXPECT_EQ(folderSong->lastError(),
              readingError("folder.txt", 1, "音楽ファイルを開くことができません。"));

    // An error inside an included file names that file (without its folder) and its line. 表
    // is 0x95 0x5C in Shift-JIS: its trail byte is not a folder separator.
    dir.write("sub/表.txt", "\nSCREEN 1 1\nFRAMERATE x\n");
    auto bad = loadString(dir, "INCLUDE \"sub\\\x95\x5C.txt\"\n", "main.txt");
    ASSERT_EQ(bad->prompter.errors.size(), 1u);
    EXPECT_EQ(bad->lastError(), readingError("表.txt", 3, "フレームレート値を正しく記述してください。"));
    EXPECT_EQ(bad->scenario.screenWidth, 1);

    // A missing file: no file and line.
    auto missing = loadString(dir, "INCLUDE \"nothing.txt\"\n");
    EXPECT_EQ(missing->result, -1);
    EXPECT_EQ(missing->lastError(), linkingError("シナリオファイルのロードに失敗しました。"));
}

TEST(Reader, IncludesThatRecurseOrMultiplyStop)
{
    TempDir dir;
    dir.write("a.txt", "SCREEN 1 1\nINCLUDE \"b.txt\"\n");
    dir.write("b.txt", "\nINCLUDE \"a.txt\"\n");
    auto loaded = loadFile(dir.path() / "a.txt");
    EXPECT_EQ(loaded->result, -1);
    ASSERT_EQ(loaded->prompter.errors.size(), 1u);
    // 64 levels are read; the 65th INCLUDE is refused where it stands.
    EXPECT_EQ(loaded->lastError(), readingError("a.txt", 2, "INCLUDE の入れ子が深すぎます。"));

    // Each file includes the next one twice: 2^40 reads within the nesting bound.
    for (int i = 0; i < 40; ++i) {
        const std::string next = "INCLUDE \"f" + std::to_string(i + 1) + ".txt\"\n";
        dir.write("f" + std::to_string(i) + ".txt", next + next);
    }
    dir.write("f40.txt", "SCALE 1\n");
    auto multiplied = loadFile(dir.path() / "f0.txt");
    EXPECT_EQ(multiplied->result, -1);
    ASSERT_EQ(multiplied->prompter.errors.size(), 1u);
    EXPECT_NE(multiplied->lastError().find("行目 :\nINCLUDE で読み込むファイルの合計が大きすぎます。"),
              std::string::npos);

    // An included file past the byte budget (a sparse one) is refused before the size question.
    std::filesystem::resize_file(dir.write("huge.txt", ""), std::uintmax_t(300) << 20);
    auto huge = loadString(dir, "SCALE 1\nINCLUDE \"huge.txt\"\n", "main.txt");
    EXPECT_TRUE(huge->prompter.questions.empty());
    EXPECT_EQ(huge->prompter.errors,
              std::vector<std::string>{readingError(
                  "main.txt", 2, "INCLUDE で読み込むファイルの合計が大きすぎます。")});
}

TEST(Reader, MissingFileAndSizeQuestion)
{
    TempDir dir;
    auto loaded = std::make_unique<Loaded>();
    EXPECT_EQ(load(loaded->scenario, pathToSjis(dir.path() / "none.txt").value()), -1);
    EXPECT_EQ(loaded->lastError(), linkingError("シナリオファイルのロードに失敗しました。"));
    EXPECT_EQ(load(loaded->scenario, pathToSjis(dir.path()).value()), -1);  // a folder

    const size_t limit = 10u * 1024u * 1024u;
    std::string exact = "SCREEN 3 4\n";
    exact.resize(limit, ' ');
    auto atLimit = loadString(dir, exact, "exact.txt");
    EXPECT_EQ(atLimit->result, 0);
    EXPECT_TRUE(atLimit->prompter.questions.empty());

    std::string over = exact + "\n";
    const auto file = dir.write("big.txt", over);
    const SjisString name = pathToSjis(file).value();
    for (bool answer : {false, true}) {
        Loaded big;
        big.prompter.answer = answer;
        EXPECT_EQ(load(big.scenario, name), answer ? 0 : -1);
        ASSERT_EQ(big.prompter.questions.size(), 1u);
        EXPECT_EQ(big.prompter.questions[0],
                  name + "\nは、ファイルサイズが異常に大きいと思われます。続けますか？");
        EXPECT_TRUE(big.prompter.errors.empty());  // "no" stops without a message
        EXPECT_EQ(big.scenario.screenWidth, answer ? 3 : -1);
    }
}

TEST(Macro, ExpandsParametersAndCounter)
{
    TempDir dir;
    auto loaded = loadString(dir,
                             "MACRO SET($(W) $(H),$(N) )\n"
                             "SCREEN $(W) $(H)   # parameters anywhere\n"
                             "$($(N)$$) = ($(W)+$(H))\n"
                             "ENDMACRO\n"
                             "CALL SET(\"4\" \"5\",\"V\" )\n"
                             "CALL SET( \"10\"\n\"20\" \"V\" )\n"
                             "STARTFRAME ($(V0000)*100+$(V0001))\n");
    ASSERT_EQ(loaded->result, 0) << loaded->lastError();
    EXPECT_EQ(loaded->scenario.screenWidth, 10);
    EXPECT_EQ(loaded->scenario.screenHeight, 20);
    EXPECT_EQ(loaded->scenario.startFrame, 930);
    ASSERT_EQ(loaded->scenario.macros.size(), 1u);
    ASSERT_TRUE(loaded->scenario.macros.find("SET"));
    EXPECT_EQ(loaded->scenario.macros.find("SET")->expansionCount, 2);
}

TEST(Macro, RunawayExpansionStops)
{
    TempDir dir;
    // Each macro calls the one before twice: 2^30 expansions within the nesting bound.
    std::string text = "MACRO M0()\nSCALE 1\nENDMACRO\n";
    for (int i = 1; i <= 30; ++i) {
        text += "MACRO M" + std::to_string(i) + "()\nCALL M" + std::to_string(i - 1) +
                "() CALL M" + std::to_string(i - 1) + "()\nENDMACRO\n";
    }
    text += "CALL M30()\n";
    auto runaway = loadString(dir, text);
    EXPECT_EQ(runaway->result, -1);
    ASSERT_EQ(runaway->prompter.errors.size(), 1u);
    EXPECT_NE(runaway->lastError().find("マクロ展開の合計が大きすぎます。"), std::string::npos);
}

TEST(Macro, EachParameterPassSearchesWhatTheEarlierOnesMade)
{
    struct Case {
        std::string body;
        std::vector<MacroParameter> parameters;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"$(A) x $(B) $(V) $(A", {{"A", "1"}, {"B", "(2*3)"}}, "1 x (2*3) $(V) $(A"},
        {"$(A)", {{"A", "$(B)"}, {"B", "b"}}, "b"},          // a later pass sees the value
        {"$(B)", {{"A", "a"}, {"B", "$(A)"}}, "$(A)"},       // an earlier one does not
        {"$(A)", {{"A", "[$(A)]"}}, "[$(A)]"},               // nor does its own pass
        {"$(A)", {{"A", "$(A)1"}, {"A", "2"}}, "21"},        // a name given twice: two passes
        {"$(X$(A)Y)", {{"A", "Q"}, {"XQY", "z"}}, "z"},      // a replacement completes a name
        {"$$(A)(X)", {{"A", ""}, {"X", "x"}}, "x"},          // an empty value joins "$" and "("
        {"$$(A)", {{"A", "(B)"}, {"B", "b"}}, "b"},
        {"$((A)) $($(N)$$)", {{"(A)", "v"}, {"N", "V"}}, "v $(V0007)"},
        {"pic$$ $(A)", {{"A", "$$"}}, "pic0007 0007"},
        // A body over half the bound of a pass may still double: 3 MiB and a 2 MiB value.
        {"$(A)" + std::string(3 << 20, 'x'), {{"A", "$(B)"}, {"B", std::string(2 << 20, 'y')}},
         std::string(2 << 20, 'y') + std::string(3 << 20, 'x')},
    };
    for (const Case &c : cases) {
        MacroDefinition macro{"M", c.parameters, c.body, 7};
        ExpansionBudget budget{64u << 20, 64u << 20};
        const auto expanded = expandMacro(macro, budget);
        EXPECT_TRUE(expanded == c.expected) << c.body.substr(0, 40) << " gave "
                                            << expanded.value_or("none").substr(0, 40);
        EXPECT_EQ(macro.expansionCount, 8);
    }
}

TEST(Reader, OnlyRegularFilesAreRead)
{
    TempDir dir;
    const auto fifo = dir.path() / "fifo.txt";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // A FIFO without a writer would block the open; the others read as empty.
    for (const std::string name : {"fifo.txt", "/dev/null", "/proc/self/status", "."}) {
        auto included = loadString(dir, "SCREEN 1 1\nINCLUDE \"" + name + "\"\n", "main.txt");
        EXPECT_EQ(included->result, -1) << name;
        EXPECT_EQ(included->prompter.errors,
                  std::vector<std::string>{linkingError("シナリオファイルのロードに失敗しました。")})
            << name;
    }
    auto direct = loadFile(fifo);
    EXPECT_EQ(direct->lastError(), linkingError("シナリオファイルのロードに失敗しました。"));
}


} // namespace
} // namespace vorn::test
