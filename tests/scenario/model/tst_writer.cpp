// The scenario file writer: lines of every kind, the header, the whole file and safe saving.
#include "modeltest.h"
#include "support/tempdir.h"

#include "imaging/shapes.h"
#include "scenario/model/linewriter.h"
#include "scenario/model/scenariowriter.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include <sys/resource.h>
#include <unistd.h>

namespace vorn {
namespace {

using test::addBlock;
using test::addInput;
using test::addStill;
using Lines = std::vector<std::string>;

Lines operator+(Lines a, const Lines &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::string Rule(80, '#');

Lines linesOf(const Block &block)
{
    return test::writtenLines(block);
}

// The lines between the RefCount comment and the closing brace, after checking the frame.
Lines bodyOf(const Block &block, const std::string &header)
{
    Lines lines = linesOf(block);
    EXPECT_GE(lines.size(), 5u);
    if (lines.size() < 5)
        return {};
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1], header);
    EXPECT_EQ(lines[2], "{");
    EXPECT_EQ(lines[3], "\t# RefCount = " + std::to_string(block.refCount));
    EXPECT_EQ(lines.back(), "}");
    return Lines(lines.begin() + 4, lines.end() - 1);
}

std::string readFile(const std::filesystem::path &path)
{
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

std::string crlf(const Lines &lines)
{
    std::string text;
    for (const auto &line : lines)
        text += line + "\r\n";
    return text;
}

class EnvironmentVariable {
public:
    EnvironmentVariable(const char *name, const char *value) : m_name(name)
    {
        if (const char *old = std::getenv(name))
            m_old = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~EnvironmentVariable()
    {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }

private:
    const char *m_name;
    std::optional<std::string> m_old;
};

class WriterTest : public ::testing::Test {
protected:
    // Files in the directory other than `keep`: temporary files must not be left behind.
    std::vector<std::string> strayFiles(const std::string &keep) const
    {
        std::vector<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(directory))
            if (entry.path().filename() != keep)
                names.push_back(entry.path().filename().string());
        return names;
    }

    test::TempDir m_temp;
    const std::filesystem::path directory = m_temp.path();
    Scenario scenario;
};

TEST(HeaderTest, Date)
{
    std::tm time{};
    time.tm_year = 2024 - 1900;
    time.tm_mon = 4;
    time.tm_mday = 6;
    time.tm_wday = 1;
    time.tm_hour = 7;
    time.tm_min = 8;
    time.tm_sec = 9;
    EXPECT_EQ(formatHeaderDate(time), "2024/05/06(Mon) 07:08:09");

    // SOURCE_DATE_EPOCH in UTC; without it, or when it is no number, the local time.
    const std::string any = R"(\d{4}/\d{2}/\d{2}\((Sun|Mon|Tue|Wed|Thu|Fri|Sat)\) \d{2}:\d{2}:\d{2})";
    const struct {
        const char *epoch;
        std::string date;  // a regular expression
    } cases[] = {
        {"0", R"(1970/01/01\(Thu\) 00:00:00)"},
        {"1700000000", R"(2023/11/14\(Tue\) 22:13:20)"},
        // The last second whose year an int tm_year holds: the year itself is past INT_MAX.
        {"67768036191676799", R"(2147485547/12/31\(Wed\) 23:59:59)"},
        {"not a number", any},
        {nullptr, any},
    };
    for (const auto &c : cases) {
        EnvironmentVariable epoch("SOURCE_DATE_EPOCH", c.epoch);
        const std::string date = scenarioHeaderDate();
        EXPECT_TRUE(std::regex_match(date, std::regex(c.date))) << date;
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
    test::RecordingSink sink;
    ASSERT_EQ(writeScenarioLines(scenario, std::string("a\nb\tc\0\x95\x5C", 8), "DATE", sink), 0);
    ASSERT_GE(sink.lines.size(), 4u);
    EXPECT_EQ(sink.lines[2], "#     Vorn version \t: 1??2?");
    EXPECT_EQ(sink.lines[3], "#     File name \t: \"a?b?c?\x95\x5C\"");
}

// The whole layout, saved to a file: a new scenario (no version, song or checkpoints) and one
// with every setting.
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
    const auto header = [](const std::string &more, const std::string &frames, const std::string &time) {
        return Lines{Rule, "# Vorn Scenario file - 1970/01/01(Thu) 00:00:00 "} +
               (more.empty() ? Lines{} : Lines{more}) +
               Lines{"#     File name \t: \"out.txt\"", "#     Total frames \t: " + frames,
                     "#     Total time \t: " + time + " [sec]", Rule, ""};
    };
    const struct {
        const char *what;
        std::function<void(Scenario &)> make;
        Lines expected;
    } cases[] = {
        {"new", [](Scenario &s) { ASSERT_EQ(s.createMain(), 0); },
         header("", "0", "0.000") +
             Lines{"SCREEN\t\t-1\t-1", "FRAMERATE\t30", "SCALE\t\t1", "PREVIEWSCALE\t4",
                   "BOARDBREAK\t1000", "STARTFRAME\t0", "", Rule, "", "MAIN", "{",
                   "\t# RefCount = 0", "}", "", Rule}},
        {"full", fullSettings,
         header("#     Vorn version \t: 2.5", "300", "10.000") +
             Lines{"SCREEN\t\t640\t480", "AUDIO\t\t\"/music/\x89\xB9.wav\"", "FRAMERATE\t30",
                   "SCALE\t\t1", "PREVIEWSCALE\t2", "BOARDBREAK\t10", "STARTFRAME\t3", "", Rule,
                   "", "STILL\t\"s\"", "{", "\t# RefCount = 0", "\tBGCOLOR\t\t0\t0\t0",
                   "\tFRAMES\t\t300", "}", "", Rule, "", "CHECKPOINT", "{",
                   "\tCF\t37\t0\t255\t0", "\tCT\t1234\t1\t2\t3", "}", "", Rule}},
    };
    EnvironmentVariable epoch("SOURCE_DATE_EPOCH", "0");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Scenario s;
        c.make(s);
        const auto target = directory / "out.txt";
        ASSERT_EQ(writeScenario(s, target), 0);
        std::string expected = crlf(c.expected);
        // The header names the file as it was given.
        const std::string given = "\"" + target.string() + "\"";
        expected.replace(expected.find("\"out.txt\""), 9, given);
        EXPECT_EQ(readFile(target), expected);
        EXPECT_TRUE(strayFiles("out.txt").empty());
    }
}

// The reader blanks every '#' to the end of its line and ends a quoted value at a TAB, '"', '}'
// or line break: a line that holds one anywhere else would not read back as written.
TEST(ReadBackTest, Lines)
{
    const struct {
        std::string line;
        bool readsBack;
    } cases[] = {
        {"", true},
        {Rule, true},
        {"#     File name \t: \"a#b\"}\"", true},  // a comment holds anything on its line
        {"\t# RefCount = 2", true},
        {"\tCF\t37\t0\t255\t0", true},
        {"IMAGE\t\"pic\"", true},
        {"\tINPUT\t\t\"a b\"\t\tALINK_VOLUME_ALPHA", true},
        {"\tFONT\t\t\"\x82\x6C\x82\x72 \x83\x53\"\t20\t40", true},
        {"\tSTRING\t\t\"A\\\\\"", true},
        {std::string("\tFILE\t\t\"a\0b\"", 12), true},  // NUL is an ordinary byte to the reader
        {"AUDIO\t\t\"/tmp/a#b\\song.wav\"", false},
        {"\tINPUT\t\t\"\"", false},                 // an empty value is refused
        {"\tINPUT\t\t\"a\tb\"", false},             // TAB
        {"\tINPUT\t\t\"a}b\"", false},              // '}'
        {"\tFONT\t\t\"\x83\x7D\"\t20\t40", false},  // マ: its second byte is '}'
        {"\tINPUT\t\t\"a\"b\"", false},             // a quote of its own
        {"\tINPUT\t\t\"a\"\t\"b\"", false},         // ... even where it looks like two values
        {"\tINPUT\t\t\"a\" \"b\"", false},
        {"\tSTRING\t\t\"a\nb\"", false},            // line breaks
        {"\tSTRING\t\t\"a\rb\"", false},
        {"\tCF\t1\t2\t3\t4\r", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(readsBack(c.line), c.readsBack) << c.line;
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
        {[](Scenario &s) {
             auto *image = addBlock<ImageBlock>(s, "i");
             image->file = "x}.jpg";
         }, "\tFILE\t\t\"x}.jpg\""},
        {[](Scenario &s) {
             addBlock<TextBlock>(s, "t");  // no font: an empty FONT value
         }, "\tFONT\t\t\"\"\t20\t40"},
        {[](Scenario &s) {
             auto *text = addBlock<TextBlock>(s, "t");
             text->font = "VL Gothic";
             text->string = "one\ttwo";
         }, "\tSTRING\t\t\"one\ttwo\""},
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
        EXPECT_TRUE(strayFiles("show.txt").empty());
    }
    EXPECT_EQ(unreadableLineMessage("AUDIO\t\t\"a#b\""),
              "次の行は読み込み直すと別の内容になるため書き出せません"
              "（値に # \" } タブ 改行 は使えず、空の値も書けません）:\nAUDIO  \"a#b\"");
}

TEST(BlockLinesTest, Image)
{
    Scenario scenario;
    ImageBlock image;
    image.name = "pic";
    image.refCount = 2;
    image.file = "dir\\\x95\x5C.jpg";
    EXPECT_EQ(bodyOf(image, "IMAGE\t\"pic\""), (Lines{"\tFILE\t\t\"dir\\\x95\x5C.jpg\""}));

    image.file.reset();
    auto *source = addStill(scenario, "src", 9);
    addInput(scenario, image, source);
    image.blockFrame = 4;
    image.options = 0xFFF;
    image.photoFrame = 12;
    image.clip = {1, 2, 30, 40};
    image.angle = -15;
    image.color = {10, 20, 30, 0};
    EXPECT_EQ(bodyOf(image, "IMAGE\t\"pic\""),
              (Lines{"\tBLOCK_FRAME\t\"src\"\t4", "\tSEPIA", "\tMONO", "\tNEGA", "\tDISCOLOR",
                     "\tHIGHPASS", "\tRED", "\tGREEN", "\tBLUE", "\tPHOTO_FRAME\t12",
                     "\tCLIP\t\t1\t2\t30\t40", "\tANGLE\t\t-15", "\tTHROUGH_COLOR\t10\t20\t30"}));
}

TEST(BlockLinesTest, TextWritesOneStringLinePerLine)
{
    TextBlock text;
    text.name = "t";
    text.size = {320, 60};
    text.font = "\x82\x6C\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4E";  // ＭＳ ゴシック
    text.string = "one\r\ntwo\r\nthree";
    text.angle = 30;  // without the ANGLE option: not drawn, not written
    EXPECT_EQ(bodyOf(text, "TEXT\t\"t\""),
              (Lines{"\tSIZE\t\t320\t60",
                     "\tFONT\t\t\"\x82\x6C\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4E\"\t20\t40",
                     "\tSTRING\t\t\"one\"", "\tSTRING\t\t\"two\"", "\tSTRING\t\t\"three\"",
                     "\tCOLOR\t\t255\t255\t255\t255", "\tALIGN\t\tCENTER", "\tVALIGN\t\tCENTER"}));

    text.file = "photo.jpg";
    text.frameOffset = 3;
    text.string = "solo";
    text.color = {1, 2, 3, 4};
    text.align = TextBlock::AlignLeft;
    text.valign = TextBlock::VAlignBottom;
    EXPECT_EQ(bodyOf(text, "TEXT\t\"t\""),
              (Lines{"\tSIZE\t\t320\t60", "\tFILE\t\t\"photo.jpg\"", "\tFRAME_OFFSET\t3",
                     "\tFONT\t\t\"\x82\x6C\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4E\"\t20\t40",
                     "\tSTRING\t\t\"solo\"", "\tCOLOR\t\t1\t2\t3\t4", "\tALIGN\t\tLEFT",
                     "\tVALIGN\t\tBOTTOM"}));
    text.align = TextBlock::AlignRight;
    text.valign = TextBlock::VAlignTop;
    const Lines body = bodyOf(text, "TEXT\t\"t\"");
    EXPECT_EQ(body[body.size() - 2], "\tALIGN\t\tRIGHT");
    EXPECT_EQ(body.back(), "\tVALIGN\t\tTOP");
    // A rotated TEXT keeps its angle when saved.
    text.options = TextBlock::Angle;
    EXPECT_EQ(bodyOf(text, "TEXT\t\"t\"").back(), "\tANGLE\t\t30");
}

TEST(BlockLinesTest, TextEmptyLinesStayInsideAString)
{
    // An empty quoted string does not read back, so a line break next to an empty line is
    // written as the two backslashes that the reader turns into CR LF.
    const auto strings = [](std::string value) {
        TextBlock text;
        text.string = std::move(value);
        Lines found;
        for (const auto &line : linesOf(text))
            if (line.rfind("\tSTRING", 0) == 0)
                found.push_back(line.substr(9));
        return found;
    };
    EXPECT_EQ(strings("A\r\n\r\nB"), (Lines{"\"A\\\\\"", "\"B\""}));
    EXPECT_EQ(strings("\r\nB"), (Lines{"\"\\\\B\""}));
    EXPECT_EQ(strings("A\r\n"), (Lines{"\"A\\\\\""}));
    EXPECT_EQ(strings("\r\n"), (Lines{"\"\\\\\""}));
    TextBlock none;
    EXPECT_EQ(bodyOf(none, "TEXT\t\"\"").size(), 5u);  // no STRING line without a string
}

TEST(BlockLinesTest, DrawWithShapes)
{
    DrawBlock draw;
    draw.name = "d";
    draw.size = {100, 50};
    draw.color = {255, 0, 0, 128};
    auto line = std::make_unique<ShapeLine>();
    line->addPoint(1, 2);
    line->addPoint(3, 4);
    line->width = 2;
    auto ellipse = std::make_unique<ShapeEllipse>();
    ellipse->left = 5;
    ellipse->top = 6;
    ellipse->right = 7;
    ellipse->bottom = 8;
    ellipse->fill = 1;
    ellipse->angle = 45;
    draw.shapes.push_back(std::move(line));
    draw.shapes.push_back(std::move(ellipse));
    EXPECT_EQ(bodyOf(draw, "DRAW\t\"d\""),
              (Lines{"\tSIZE\t\t100\t50", "\tCOLOR\t\t255\t0\t0\t128", "", "\tLINE", "\t{",
                     "\t\tPOINT\t1\t2", "\t\tPOINT\t3\t4", "\t\tWIDTH\t2", "\t}", "",
                     "\tELLIPSE", "\t{", "\t\tREGION\t5\t6\t7\t8", "\t\tWIDTH\t1", "\t\tFILL",
                     "\t\tANGLE\t45", "\t}"}));

    // A copied DRAW owns shapes of its own.
    Scenario scenario;
    scenario.blocks.push_back(std::make_unique<DrawBlock>(draw));
    auto copy = Scenario::copyOf(scenario);
    ASSERT_TRUE(copy);
    const auto &copied = dynamic_cast<const DrawBlock &>(*copy->blocks[0]);
    ASSERT_EQ(copied.shapes.size(), 2u);
    EXPECT_NE(copied.shapes[0].get(), draw.shapes[0].get());
    EXPECT_EQ(linesOf(copied), linesOf(draw));
}

TEST(BlockLinesTest, MotionKinds)
{
    Scenario scenario;
    auto *source = addStill(scenario, "src", 10);
    auto *plate = addStill(scenario, "plate", 10);

    StillBlock still;
    still.name = "st";
    addInput(scenario, still, source)->setRect(0, 0, 319, 239);
    auto *cut = addInput(scenario, still, source);
    cut->setRect(320, 0, 639, 239);
    cut->cutMode = MaxCut;
    still.bgColor = {1, 2, 3, 255};
    still.frames = 30;
    EXPECT_EQ(bodyOf(still, "STILL\t\"st\""),
              (Lines{"\tINPUT\t\t\"src\"\t0\t0\t319\t239", "\tINPUT\t\t\"src\"\t320\t0\t639\t239\tMAX_CUT",
                     "\tBGCOLOR\t\t1\t2\t3", "\tFRAMES\t\t30"}));

    RotateBlock rotate;
    rotate.name = "r";
    addInput(scenario, rotate, source)->setRect(0, 0, 9, 9);
    addInput(scenario, rotate, plate);  // only the first input is written
    rotate.frames = 5;
    EXPECT_EQ(bodyOf(rotate, "ROTATE\t\"r\""),
              (Lines{"\tINPUT\t\t\"src\"\t0\t0\t9\t9", "\tANGLE\t\t0\t360", "\tBGCOLOR\t\t0\t0\t0",
                     "\tFRAMES\t\t5"}));
    rotate.hasCenter = true;
    rotate.centerX = 320;
    rotate.centerY = 240;
    rotate.bgImage = std::make_unique<BlockInput>("plate");
    EXPECT_EQ(bodyOf(rotate, "ROTATE\t\"r\""),
              (Lines{"\tINPUT\t\t\"src\"\t0\t0\t9\t9", "\tCENTER\t\t320\t240",
                     "\tANGLE\t\t0\t360", "\tBGCOLOR\t\t0\t0\t0", "\tBGIMAGE\t\t\"plate\"",
                     "\tFRAMES\t\t5"}));

    FilmBlock film;
    film.name = "f";
    addInput(scenario, film, source);
    addInput(scenario, film, plate);
    film.direction = DirectionRight;
    film.frames = 60;
    EXPECT_EQ(bodyOf(film, "FILM\t\"f\""),
              (Lines{"\tINPUT\t\t\"src\"", "\tINPUT\t\t\"plate\"", "\tRIGHT", "\tCOLOR\t\t80\t24\t0",
                     "\tBGCOLOR\t\t0\t0\t0", "\tFRAMES\t\t60"}));
    film.direction = 3;  // not a direction: no line
    EXPECT_EQ(bodyOf(film, "FILM\t\"f\"").size(), 5u);
}

TEST(BlockLinesTest, InputsWithoutRectangleWriteNone)
{
    // Before linking an input may have no rectangle: writing zeros would read back as a
    // one-pixel rectangle instead of the full screen.
    StillBlock still;
    still.name = "s";
    still.inputs.push_back(std::make_unique<BlockInput>("a"));
    still.inputs.back()->cutMode = MaxCut;
    still.frames = 2;
    EXPECT_EQ(bodyOf(still, "STILL\t\"s\""),
              (Lines{"\tINPUT\t\t\"a\"\tMAX_CUT", "\tBGCOLOR\t\t0\t0\t0", "\tFRAMES\t\t2"}));
    MixBlock mix;
    mix.name = "m";
    mix.inputs.push_back(std::make_unique<BlockInput>("a"));
    mix.inputs.back()->offset = 4;
    EXPECT_EQ(bodyOf(mix, "MIX\t\"m\""), (Lines{"\tINPUT\t\t\"a\"\tOFFSET\t4"}));
    RotateBlock rotate;
    rotate.name = "r";
    rotate.inputs.push_back(std::make_unique<BlockInput>("a"));
    rotate.frames = 2;
    EXPECT_EQ(bodyOf(rotate, "ROTATE\t\"r\"")[0], "\tINPUT\t\t\"a\"");
}

TEST(BlockLinesTest, ActionFamilyWritesItsOwnRectangles)
{
    Scenario scenario;
    auto *source = addStill(scenario, "src", 10);
    const auto make = [&](BlockKind kind) {
        auto block = std::make_unique<ActionBlock>(kind);
        block->name = "a";
        addInput(scenario, *block, source);
        block->hasSrcStart = true;
        block->srcStart = {1, 1, 2, 2};
        block->hasSrcEnd = true;
        block->srcEnd = {3, 3, 4, 4};
        block->dstStart = {5, 5, 6, 6};
        block->dstEnd = {7, 7, 8, 8};
        block->dspStart = {9, 9, 10, 10};
        block->dspEnd = {11, 11, 12, 12};
        block->frames = 20;
        return block;
    };
    auto action = make(BlockKind::Action);
    action->afterimage = 3;
    action->keepAspect = true;
    action->bgColor = {4, 5, 6, 255};
    action->bgImage = std::make_unique<BlockInput>("bg");
    EXPECT_EQ(bodyOf(*action, "ACTION\t\"a\""),
              (Lines{"\tINPUT\t\t\"src\"", "\tSRC_START\t1\t1\t2\t2", "\tSRC_END\t\t3\t3\t4\t4",
                     "\tDST_START\t5\t5\t6\t6", "\tDST_END\t\t7\t7\t8\t8",
                     "\tDSP_START\t9\t9\t10\t10", "\tDSP_END\t\t11\t11\t12\t12", "\tKEEP_ASPECT",
                     "\tAFTERIMAGE\t\t3", "\tBGCOLOR\t\t4\t5\t6", "\tBGIMAGE\t\t\"bg\"",
                     "\tFRAMES\t\t20"}));
    EXPECT_EQ(bodyOf(*make(BlockKind::Zoom), "ZOOM\t\"a\""),
              (Lines{"\tINPUT\t\t\"src\"", "\tSRC_START\t1\t1\t2\t2", "\tSRC_END\t\t3\t3\t4\t4",
                     "\tBGCOLOR\t\t0\t0\t0", "\tFRAMES\t\t20"}));
    EXPECT_EQ(bodyOf(*make(BlockKind::Slide), "SLIDE\t\"a\""),
              (Lines{"\tINPUT\t\t\"src\"", "\tDST_START\t5\t5\t6\t6", "\tDST_END\t\t7\t7\t8\t8",
                     "\tBGCOLOR\t\t0\t0\t0", "\tFRAMES\t\t20"}));
    EXPECT_EQ(bodyOf(*make(BlockKind::Focus), "FOCUS\t\"a\""),
              (Lines{"\tINPUT\t\t\"src\"", "\tDSP_START\t9\t9\t10\t10",
                     "\tDSP_END\t\t11\t11\t12\t12", "\tKEEP_ASPECT", "\tBGCOLOR\t\t0\t0\t0",
                     "\tFRAMES\t\t20"}));
    // Without SRC_START / SRC_END the whole picture is used: no zero rectangle is written.
    auto whole = make(BlockKind::Zoom);
    whole->hasSrcStart = false;
    whole->hasSrcEnd = false;
    EXPECT_EQ(bodyOf(*whole, "ZOOM\t\"a\""),
              (Lines{"\tINPUT\t\t\"src\"", "\tBGCOLOR\t\t0\t0\t0", "\tFRAMES\t\t20"}));
}

TEST(BlockLinesTest, CombiningKinds)
{
    Scenario scenario;
    auto *a = addStill(scenario, "a", 100);
    auto *b = addStill(scenario, "b", 80);

    FadeBlock fade;
    fade.name = "fd";
    addInput(scenario, fade, a);
    fade.bgColor = {9, 8, 7, 255};
    fade.frames = 10;
    const std::vector<std::pair<int32_t, std::string>> modes = {
        {FadeBlock::ModeIn, "\tIN"}, {FadeBlock::ModeOut, "\tOUT"}, {FadeBlock::ModeInOut, "\tINOUT"}};
    for (const auto &[mode, word] : modes) {
        fade.fadeMode = mode;
        EXPECT_EQ(bodyOf(fade, "FADE\t\"fd\""),
                  (Lines{"\tINPUT\t\t\"a\"", word, "\tCOLOR\t\t9\t8\t7", "\tFRAMES\t\t10"}));
    }
    fade.fadeMode = 0;
    EXPECT_EQ(bodyOf(fade, "FADE\t\"fd\"").size(), 3u);

    CrossfadeBlock cross;
    cross.name = "cf";
    addInput(scenario, cross, a);
    addInput(scenario, cross, b);
    cross.frames = 20;
    EXPECT_EQ(bodyOf(cross, "CROSSFADE\t\"cf\""),
              (Lines{"\tINPUT\t\t\"a\"", "\tINPUT\t\t\"b\"", "\tFRAMES\t\t20"}));

    MixBlock mix;
    mix.name = "mx";
    auto *first = addInput(scenario, mix, a);
    first->setRect(0, 0, 639, 479);
    first->offset = 30;
    addInput(scenario, mix, b)->setRect(10, 10, 100, 100);
    mix.bgColor = {1, 1, 1, 255};  // MIX has no BGCOLOR line
    EXPECT_EQ(bodyOf(mix, "MIX\t\"mx\""),
              (Lines{"\tINPUT\t\t\"a\"\t0\t0\t639\t479\tOFFSET\t30",
                     "\tINPUT\t\t\"b\"\t10\t10\t100\t100\tOFFSET\t0"}));
    mix.mixMode = MixBlock::ModeOr;
    mix.bgImage = std::make_unique<BlockInput>("bg");
    const Lines body = bodyOf(mix, "MIX\t\"mx\"");
    ASSERT_EQ(body.size(), 4u);
    EXPECT_EQ(body[2], "\tOR");
    EXPECT_EQ(body[3], "\tBGIMAGE\t\t\"bg\"");

    SeriesBlock series;
    series.name = "sr";
    series.refCount = 1;
    addInput(scenario, series, a);
    addInput(scenario, series, b, InputBlank);
    EXPECT_EQ(bodyOf(series, "SERIES\t\"sr\""),
              (Lines{"\tINPUT\t\t\"a\"", "\t!INPUT\t\t\"b\""}));

    SeriesBlock main(BlockKind::Main);
    main.name = " ";
    addInput(scenario, main, a)->linkVolumeAlpha = true;
    addInput(scenario, main, b);
    EXPECT_EQ(bodyOf(main, "MAIN"),
              (Lines{"\tINPUT\t\t\"a\"\t\tALINK_VOLUME_ALPHA", "\tINPUT\t\t\"b\""}));
}

TEST(BlockLinesTest, PerFrameEffects)
{
    Scenario scenario;
    auto *a = addStill(scenario, "a", 100);

    ShakeBlock shake;
    shake.name = "sh";
    addInput(scenario, shake, a);
    EXPECT_EQ(bodyOf(shake, "SHAKE\t\"sh\""), (Lines{"\tINPUT\t\t\"a\""}));

    MosaicBlock mosaic;
    mosaic.name = "m";
    addInput(scenario, mosaic, a);
    mosaic.sizeStart = 1;
    mosaic.sizeEnd = 16;
    mosaic.tgtStart = {1, 2, 3, 4};  // filled by linking, not given: not written
    EXPECT_EQ(bodyOf(mosaic, "MOSAIC\t\"m\""),
              (Lines{"\tINPUT\t\t\"a\"", "\tSIZE_START\t1", "\tSIZE_END\t16"}));
    mosaic.hasTgtStart = true;
    mosaic.hasTgtEnd = true;
    mosaic.tgtEnd = {5, 6, 7, 8};
    EXPECT_EQ(bodyOf(mosaic, "MOSAIC\t\"m\""),
              (Lines{"\tINPUT\t\t\"a\"", "\tSIZE_START\t1", "\tSIZE_END\t16",
                     "\tTGT_START\t1\t2\t3\t4", "\tTGT_END\t\t5\t6\t7\t8"}));

    ExpandBlock expand;
    expand.name = "e";
    addInput(scenario, expand, a, InputBlank);
    expand.expandIn = 1;
    expand.direction = DirectionUp;
    EXPECT_EQ(bodyOf(expand, "EXPAND\t\"e\""), (Lines{"\t!INPUT\t\t\"a\"", "\tIN", "\tUP"}));
    expand.expandIn = 2;
    expand.direction = DirectionLeft;
    EXPECT_EQ(bodyOf(expand, "EXPAND\t\"e\""), (Lines{"\t!INPUT\t\t\"a\"", "\tOUT", "\tLEFT"}));

    CutBlock cut;
    cut.name = "c";
    addInput(scenario, cut, a);
    EXPECT_EQ(bodyOf(cut, "CUT\t\"c\""), (Lines{"\tINPUT\t\t\"a\""}));  // the defaults
    cut.skip = 2;
    cut.start = 10;
    cut.end = 0;
    EXPECT_EQ(bodyOf(cut, "CUT\t\"c\""),
              (Lines{"\tINPUT\t\t\"a\"", "\tSKIP\t\t2", "\tSTART\t\t10", "\tEND\t\t0"}));

    AlphaBlock alpha;
    alpha.name = "al";
    addInput(scenario, alpha, a);
    EXPECT_EQ(bodyOf(alpha, "ALPHA\t\"al\""),
              (Lines{"\tINPUT\t\t\"a\"", "\tSTART\t\t255", "\tEND\t\t255"}));
    ShadeBlock shade;
    shade.name = "sd";
    addInput(scenario, shade, a);
    shade.end = 4;
    EXPECT_EQ(bodyOf(shade, "SHADE\t\"sd\""),
              (Lines{"\tINPUT\t\t\"a\"", "\tSTART\t\t0", "\tEND\t\t4"}));
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
    EXPECT_TRUE(strayFiles("big.txt").empty());
    // Without the limit the same scenario saves.
    EXPECT_EQ(writeScenario(scenario, target), 0);
    EXPECT_GT(readFile(target).size(), 512u);
}

TEST_F(WriterTest, LineWriterEndsLinesWithCrLfAndRefusesAfterAFailure)
{
    const auto target = directory / "lines.txt";
    {
        LineWriter writer;
        ASSERT_EQ(writer.open(target), 0);
        EXPECT_EQ(writer.line("a\tb"), 0);
        EXPECT_EQ(writer.line(""), 0);
        EXPECT_EQ(writer.line(std::string_view("n\0l", 3)), 0);
        EXPECT_FALSE(std::filesystem::exists(target));  // nothing replaced before close
        EXPECT_EQ(writer.close(), 0);
    }
    EXPECT_EQ(readFile(target), std::string("a\tb\r\n\r\nn\0l\r\n", 12));
    {
        // Dropped without close: the target keeps the first version.
        LineWriter writer;
        ASSERT_EQ(writer.open(target), 0);
        EXPECT_EQ(writer.line("second"), 0);
    }
    EXPECT_EQ(readFile(target), std::string("a\tb\r\n\r\nn\0l\r\n", 12));
    EXPECT_TRUE(strayFiles("lines.txt").empty());

    LineWriter closed;  // never opened: every line and the close fail
    EXPECT_FALSE(closed.isOpen());
    EXPECT_EQ(closed.line("x"), -1);
    EXPECT_TRUE(closed.failed());
    EXPECT_EQ(closed.close(), -1);
}

} // namespace
} // namespace vorn
