// The scenario file writer: the header, the whole file, text lines, values that would not read
// back, safe saving; read, write, read again: the saved file reads back into the same scenario,
// and each kind's lines are written as they were read.
#include "modeltest.h"
#include "support/datatable.h"

#include "scenario/model/linewriter.h"
#include "scenario/reader/sourcetext.h"

#include <csignal>
#include <regex>
#include <set>

#include <sys/resource.h>

namespace vorn::test {
namespace {

// Sets SOURCE_DATE_EPOCH for the header's date (nullptr: unset).
void setEpoch(const char *value)
{
    value ? ::setenv("SOURCE_DATE_EPOCH", value, 1) : ::unsetenv("SOURCE_DATE_EPOCH");
}

// Temporary files are left behind by no save: that is the atomic-save helper's test.
class WriterTest : public ::testing::Test {
protected:
    TempDir m_temp;
    const std::filesystem::path directory = m_temp.path();
    Scenario scenario;
};

TEST(HeaderTest, Date)
{
    const std::tm time{.tm_sec = 9, .tm_min = 8, .tm_hour = 7, .tm_mday = 6, .tm_mon = 4,
                       .tm_year = 2024 - 1900, .tm_wday = 1, .tm_yday = 0, .tm_isdst = 0,
                       .tm_gmtoff = 0, .tm_zone = nullptr};
    EXPECT_EQ(formatHeaderDate(time), "2024/05/06(Mon) 07:08:09");

    // SOURCE_DATE_EPOCH in UTC; without it, or when it is no number, the local time.
    const std::string any = R"(\d{4}/\d{2}/\d{2}\((Sun|Mon|Tue|Wed|Thu|Fri|Sat)\) \d{2}:\d{2}:\d{2})";
    const std::pair<const char *, std::string> cases[] = {  // SOURCE_DATE_EPOCH, a regular expression
        {"0", R"(1970/01/01\(Thu\) 00:00:00)"},
        {"1700000000", R"(2023/11/14\(Tue\) 22:13:20)"},
        // The last second whose year an int tm_year holds: the year itself is past INT_MAX.
        {"67768036191676799", R"(2147485547/12/31\(Wed\) 23:59:59)"},
        {"not a number", any},
        {nullptr, any},
    };
    for (const auto &[epoch, pattern] : cases) {
        setEpoch(epoch);
        const std::string date = scenarioHeaderDate();
        EXPECT_TRUE(std::regex_match(date, std::regex(pattern))) << date;
    }
}

TEST(HeaderTest, TotalTime)
{
    const struct {
        int32_t frames, scale, rate;
        const char *text;
    } cases[] = {
        {300, 1, 30, "10.000"}, {0, 1, 30, "0.000"}, {100, 100, 2997, "3.337"},
        {1, 1, 3, "0.333"}, {2, 1, 3, "0.667"},
        {300, 1, 0, "0.000"}, {300, 0, 0, "0.000"},  // no frame rate: never "inf" or "nan"
        {INT32_MAX, INT32_MAX, 1, "4611686014132420608.000"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(formatTotalTime(c.frames, c.scale, c.rate), c.text) << c.frames << " " << c.rate;
}

// The header's texts in Shift-JIS, one comment line each: control bytes become '?'.
TEST(HeaderTest, TextsStayOnTheirLines)
{
    EXPECT_EQ(headerFileName("/tmp/out.txt"), "/tmp/out.txt");
    EXPECT_EQ(headerFileName("/tmp/表.txt"), "/tmp/\x95\x5C.txt");
    EXPECT_EQ(headerFileName("/tmp/a\xF0\x9F\x98\x80.txt"), "/tmp/a?.txt");  // no CP932 form

    Scenario scenario;
    scenario.version = "1\r\n2\x7F";
    RecordingSink sink;
    ASSERT_EQ(writeScenarioLines(scenario, std::string("a\nb\tc\0\x95\x5C", 8), "DATE", sink), 0);
    ASSERT_GE(sink.lines.size(), 4u);
    EXPECT_EQ(sink.lines[2], "#     Vorn version \t: 1??2?");
    EXPECT_EQ(sink.lines[3], "#     File name \t: \"a?b?c?\x95\x5C\"");
}

// The whole layout, saved to a file: a new scenario (no version, song or checkpoints) and one
// with every setting, as in data/written/ (whose header names the file "out.txt").
TEST_F(WriterTest, WholeFile)
{
    const auto fullSettings = [](Scenario &s) {
        s.version = "2.5";
        s.audio = "/music/\x89\xB9.wav";  // 音
        s.screenWidth = 640;
        s.screenHeight = 480;
        s.frameRate = 30;
        s.scale = 1;
        s.previewScale = 2;
        s.boardBreak = 10;
        s.startFrame = 3;
        s.totalFrames = 300;
        s.checkpoints.push_back({1233, 37, {0, 255, 0, 255}});
        s.checkpoints.push_back({1234, -1, {1, 2, 3, 255}});  // frame unknown: keeps time
        addStill(s, "s", 300);
    };
    const std::pair<const char *, std::function<void(Scenario &)>> cases[] = {
        {"new.txt", [](Scenario &s) { ASSERT_EQ(s.createMain(), 0); }},
        {"full.txt", fullSettings},
    };
    setEpoch("0");
    for (const auto &[name, make] : cases) {
        SCOPED_TRACE(name);
        Scenario s;
        make(s);
        const auto target = directory / "out.txt";
        ASSERT_EQ(writeScenario(s, target), 0);
        std::string expected = readFile(std::filesystem::path(VORN_SOURCE_DIR) / "tests/scenario/model/data/written" / name);
        // The header names the file as it was given.
        expected.replace(expected.find("\"out.txt\""), 9, "\"" + target.string() + "\"");
        EXPECT_EQ(readFile(target), expected);
    }
}

// The lines of data/readback.tsv, and whether each reads back as written.
TEST(ReadBackTest, Lines)
{
    for (const Row &row : readTable("tests/scenario/model/data/readback.tsv"))
        EXPECT_EQ(readsBack(row.at(1)), row[0] == "yes") << row[1];
}

// Every quoted value of the layout is checked: a save that would write one that does not read
// back is refused, names the line, and leaves the old file.
TEST_F(WriterTest, ValueThatWouldNotReadBackRefusesTheSave)
{
    const auto target = directory / "show.txt";
    const struct {
        std::function<void(Scenario &)> make;
        std::string line;
    } cases[] = {
        {[](Scenario &s) { s.audio = "/tmp/a#b\\song.wav"; }, "AUDIO\t\t\"/tmp/a#b\\song.wav\""},
        {[](Scenario &s) { addStill(s, "a\"b", 1); }, "STILL\t\"a\"b\""},
        {[](Scenario &s) { addBlock<ImageBlock>(s, "i")->file = "x}.jpg"; }, "\tFILE\t\t\"x}.jpg\""},
        {[](Scenario &s) { addBlock<TextBlock>(s, "t"); }, "\tFONT\t\t\"\"\t20\t40"},  // no font: empty
        {[](Scenario &s) { auto *t = addBlock<TextBlock>(s, "t"); t->font = "VL Gothic"; t->string = "one\ttwo"; },
         "\tSTRING\t\t\"one\ttwo\""},
    };
    for (const auto &c : cases) {
        Scenario s;
        ASSERT_EQ(s.createMain(), 0);
        c.make(s);
        std::ofstream(target, std::ios::trunc) << "old";
        SjisString line;
        EXPECT_EQ(writeScenario(s, target, &line), -1) << c.line;
        EXPECT_EQ(line, c.line);
        EXPECT_EQ(readFile(target), "old");
    }
    EXPECT_EQ(unreadableLineMessage("AUDIO\t\t\"a#b\""),
              "次の行は読み込み直すと別の内容になるため書き出せません"
              "（値に # \" } タブ 改行 は使えず、空の値も書けません）:\nAUDIO  \"a#b\"");
}

TEST_F(WriterTest, WriteErrorMidwayLeavesTheOldFile)
{
    for (int i = 0; i < 50; ++i)
        addStill(scenario, "block" + std::to_string(i), 10);
    const auto target = directory / "big.txt";
    const std::string old(64, 'x');
    std::ofstream(target) << old;

    // Files may grow to 512 bytes only: the scenario is longer, so a write fails part way.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 512;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const int32_t result = writeScenario(scenario, target);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(result, -1);
    EXPECT_EQ(readFile(target), old);
    // Without the limit the same scenario saves.
    EXPECT_EQ(writeScenario(scenario, target), 0);
    EXPECT_GT(readFile(target).size(), 512u);
}

TEST_F(WriterTest, LineWriterEndsLinesWithCrLfAndRefusesAfterAFailure)
{
    const auto target = directory / "lines.txt";
    LineWriter writer;
    ASSERT_EQ(writer.open(target), 0);
    EXPECT_EQ(writer.line("a\tb"), 0);
    EXPECT_EQ(writer.line(""), 0);
    EXPECT_EQ(writer.line(std::string_view("n\0l", 3)), 0);
    EXPECT_EQ(writer.close(), 0);
    EXPECT_EQ(readFile(target), std::string("a\tb\r\n\r\nn\0l\r\n", 12));

    LineWriter closed;  // never opened: every line and the close fail
    EXPECT_FALSE(closed.isOpen());
    EXPECT_EQ(closed.line("x"), -1);
    EXPECT_TRUE(closed.failed());
    EXPECT_EQ(closed.close(), -1);
}

// The sample holds every kind: each kind's lines are read back. Shapes keep their points in
// order across a save, so every generation writes the same lines (checkpoints by frame, and
// their time worked out again from it), has the same length and the same key frames.
TEST(RoundTripTest, EveryKindReadsBackTheSame)
{
    const TempDir dir;
    std::filesystem::copy(std::filesystem::path(VORN_TEST_DATA_DIR) / "scenario", dir.path());
    RecordingPrompter prompter;
    std::vector<std::unique_ptr<Scenario>> generations;
    for (const char *name : {"allkinds.txt", "second.txt", "third.txt"}) {
        auto scenario = std::make_unique<Scenario>();
        scenario->prompter = &prompter;
        ASSERT_EQ(loadLinked(*scenario, dir.path() / name), 0) << prompter.lastError();
        if (!generations.empty()) {
            EXPECT_EQ(fileLines(*scenario), fileLines(*generations[0]));
            EXPECT_EQ(scenario->totalFrames, generations[0]->totalFrames);
            EXPECT_EQ(scenario->keyFrames(), generations[0]->keyFrames());
        }
        EXPECT_EQ(writeScenario(*scenario, dir.path() / (generations.empty() ? "second.txt" : "third.txt")), 0);
        generations.push_back(std::move(scenario));
    }
    std::set<BlockKind> kinds;
    for (const auto &block : generations[0]->blocks)
        kinds.insert(block->kind);
    EXPECT_EQ(kinds.size(), 21u);  // twenty kinds and MAIN
    EXPECT_GT(generations[0]->totalFrames, 0);
}

// Each kind's text, read and written straight back: the cases of data/readwrite.txt.
TEST(ReadThenWrite, EachKindWritesWhatWasRead)
{
    const int cases = forEachCase("readwrite.txt", [](const std::string &text, const std::string &expected) {
        Scenario scenario;
        RecordingPrompter prompter;
        scenario.prompter = &prompter;
        scenario.screenWidth = 640;
        scenario.screenHeight = 480;
        ASSERT_EQ(loadText(scenario, SourceText(utf8ToSjis(text).value(), std::nullopt, "t.txt")), 0)
            << prompter.lastError();
        std::string written;
        for (const auto &block : scenario.blocks) {
            // Without the framing ("", name, "{", RefCount ... "}"): the whole-file test has it.
            RecordingSink sink;
            ASSERT_EQ(block->write(sink), 0);
            const std::vector<std::string> &lines = sink.lines;
            ASSERT_GE(lines.size(), 5u);
            written += lines[1] + "\n";
            for (size_t i = 4; i + 1 < lines.size(); ++i)
                written += lines[i] + "\n";
        }
        EXPECT_EQ(sjisToUtf8(written), expected);
    });
    EXPECT_EQ(cases, 12);
}

} // namespace
} // namespace vorn::test
