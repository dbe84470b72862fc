// The text reader: global statements, values, INCLUDE, macros, messages with file and line.
#include "support/datatable.h"
#include "readertest.h"

#include "scenario/reader/loadscenario.h"
#include "scenario/reader/macro.h"
#include "scenario/reader/sourcetext.h"

#include <sys/stat.h>

namespace vorn::test {
namespace {

std::vector<int32_t> settings(const Scenario &s)
{
    return {s.screenWidth, s.screenHeight, s.frameRate, s.scale, s.previewScale, s.boardBreak, s.startFrame};
}

// A new scenario: 720 x 480 at 29.97 frames a second, MAIN alone, linked.
TEST(Reader, NewScenario)
{
    RecordingPrompter prompter;
    const auto s = makeNewScenario(prompter);
    ASSERT_TRUE(s && s->blocks.size() == 1 && s->mainInput.block);
    EXPECT_EQ(settings(*s), (std::vector<int32_t>{720, 480, 2997, 100, 4, 1000, 0}));
}

// Every row of data/reads.tsv: a text that reads, and the settings it gives.
TEST(Reader, TextsGiveTheirSettings)
{
    TempDir dir;
    for (const Row &row : readTable("tests/scenario/reader/data/reads.tsv")) {
        auto loaded = loadString(dir, row.at(0));
        ASSERT_EQ(loaded->result, 0) << row[0] << loaded->lastError();
        const Scenario &s = loaded->scenario;
        std::vector<int32_t> expected;
        for (size_t i = 1; i < row.size(); ++i)
            expected.push_back(std::stoi(row[i]));
        EXPECT_EQ(settings(s), expected) << row[0];
        EXPECT_TRUE(loaded->prompter.errors.empty());
        // The path is the first file's name; the directory is restored after a successful read.
        EXPECT_EQ(s.path, pathToSjis(dir.path() / "test.txt"));
        EXPECT_FALSE(s.currentDirectory);
    }
}

// Every row of data/errors.tsv: a text refused with its messages, named with their line, or one
// that reads but does not link.
TEST(Reader, RefusedTextsGiveTheirMessages)
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
        std::vector<std::string> expected;
        for (size_t at = 0, bar = 0; bar != std::string::npos; at = bar + 4) {
            const std::string message = row[3].substr(at, (bar = row[3].find(" || ", at)) - at);
            expected.push_back(line > 0    ? readingError(row.size() > 4 ? row[4] : "test.txt", line, message)
                               : line == 0 ? linkingError(message)
                                           : message);
        }
        EXPECT_EQ(prompter.errors, expected);
    }
}

TEST(Reader, IncludeReadsRelativeToTheIncludingFile)
{
    TempDir dir;
    dir.write("sub/song.wav", "RIFF");
    dir.write("sub/inner.txt", "STARTFRAME 9\nAUDIO \"song.wav\"\n");
    dir.write("sub/part.txt", "FRAMERATE 24\nINCLUDE \"inner.txt\"\n");
    auto loaded = loadString(dir, "SCREEN 1 2\nINCLUDE \"sub/part.txt\"\nSCALE 3\n");
    ASSERT_EQ(loaded->result, 0) << loaded->lastError();
    const Scenario &s = loaded->scenario;
    EXPECT_EQ((std::vector<int32_t>{s.frameRate, s.startFrame, s.scale}), (std::vector<int32_t>{24, 9, 3}));
    EXPECT_EQ(s.audio, pathToSjis(dir.path() / "sub").value() + "\\song.wav");

    // An absolute name is kept as written.
    const SjisString song = pathToSjis(dir.path() / "sub" / "song.wav").value();
    auto absolute = loadString(dir, "AUDIO \"" + song + "\"\n", "absolute.txt");
    ASSERT_EQ(absolute->result, 0) << absolute->lastError();
    EXPECT_EQ(absolute->scenario.audio, song);
    // An error inside an included file names that file (without its folder) and its line. 表
    // is 0x95 0x5C in Shift-JIS: its trail byte is not a folder separator.
    dir.write("sub/表.txt", "\nSCREEN 1 1\nFRAMERATE x\n");
    auto bad = loadString(dir, "INCLUDE \"sub\\\x95\x5C.txt\"\n", "main.txt");
    ASSERT_EQ(bad->prompter.errors.size(), 1u);
    EXPECT_EQ(bad->lastError(), readingError("表.txt", 3, "フレームレート値を正しく記述してください。"));
    EXPECT_EQ(bad->scenario.screenWidth, 1);
}

TEST(Reader, IncludesThatRecurseOrMultiplyStop)
{
    TempDir dir;
    // Each file includes the next one twice: 2^40 reads within the nesting bound.
    for (int i = 0; i < 40; ++i) {
        const std::string next = "INCLUDE \"f" + std::to_string(i + 1) + ".txt\"\n";
        dir.write("f" + std::to_string(i) + ".txt", next + next);
    }
    dir.write("f40.txt", "SCALE 1\n");
    auto multiplied = loadFile(dir.path() / "f0.txt");
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
    ASSERT_EQ(runaway->prompter.errors.size(), 1u);
    EXPECT_NE(runaway->lastError().find("マクロ展開の合計が大きすぎます。"), std::string::npos);
}

TEST(Macro, EachParameterPassSearchesWhatTheEarlierOnesMade)
{
    const struct {
        std::string body;
        std::vector<MacroParameter> parameters;
        std::string expected;
    } cases[] = {
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
    for (const auto &c : cases) {
        MacroDefinition macro{"M", c.parameters, c.body, 7};
        ExpansionBudget budget{64u << 20, 64u << 20};
        const auto expanded = expandMacro(macro, budget);
        EXPECT_TRUE(expanded == c.expected) << c.body.substr(0, 40) << " gave "
                                            << expanded.value_or("none").substr(0, 40);
        EXPECT_EQ(macro.expansionCount, 8);
    }
}

// A FIFO without a writer would block the open (other files that are no regular files are rows of
// data/errors.tsv).
TEST(Reader, OnlyRegularFilesAreRead)
{
    TempDir dir;
    const auto fifo = dir.path() / "fifo.txt";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::vector<std::string> failed{linkingError("シナリオファイルのロードに失敗しました。")};
    EXPECT_EQ(loadString(dir, "SCREEN 1 1\nINCLUDE \"fifo.txt\"\n", "main.txt")->prompter.errors, failed);
    EXPECT_EQ(loadFile(fifo)->prompter.errors, failed);
}

} // namespace
} // namespace vorn::test
