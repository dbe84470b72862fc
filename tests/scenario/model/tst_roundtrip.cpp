// Read, write, read again: the saved file reads back into the same scenario, and each kind's
// lines are written as they were read.
#include "modeltest.h"
#include "support/tempdir.h"

#include "base/scenariopath.h"
#include "scenario/model/scenariowriter.h"
#include "scenario/reader/linker.h"
#include "scenario/reader/reader.h"
#include "scenario/reader/sourcetext.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace vorn {
namespace {

using Lines = std::vector<std::string>;

class RoundTripTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::filesystem::path data = std::filesystem::path(VORN_TEST_DATA_DIR) / "scenario";
        for (const char *name : {"allkinds.txt", "allkinds.bmp"})
            std::filesystem::copy_file(data / name, directory / name);
    }

    std::unique_ptr<Scenario> read(const std::string &name)
    {
        auto scenario = std::make_unique<Scenario>();
        scenario->prompter = &prompter;
        const auto path = pathToSjis(directory / name);
        if (!path || load(*scenario, *path) != 0 || link(*scenario) != 0)
            return nullptr;
        return scenario;
    }

    static Lines lines(const Scenario &scenario)
    {
        test::RecordingSink sink;
        EXPECT_EQ(writeScenarioLines(scenario, "name", "date", sink), 0);
        return sink.lines;
    }

    test::TempDir m_temp;
    const std::filesystem::path directory = m_temp.path();
    test::RecordingPrompter prompter;
};

TEST_F(RoundTripTest, EveryKindReadsBackTheSame)
{
    auto first = read("allkinds.txt");
    ASSERT_TRUE(first) << (prompter.errors.empty() ? "" : prompter.errors[0]);
    ASSERT_EQ(writeScenario(*first, directory / "second.txt"), 0);
    auto second = read("second.txt");
    ASSERT_TRUE(second) << (prompter.errors.empty() ? "" : prompter.errors[0]);

    // The sample holds every kind, so each kind's lines are read back here.
    std::set<BlockKind> kinds;
    for (const auto &block : first->blocks)
        kinds.insert(block->kind);
    EXPECT_EQ(kinds.size(), 21u);  // twenty kinds and MAIN
    EXPECT_GT(first->totalFrames, 0);
    EXPECT_EQ(second->totalFrames, first->totalFrames);
    ASSERT_EQ(second->blocks.size(), first->blocks.size());
    for (size_t i = 0; i < first->blocks.size(); ++i)
        EXPECT_EQ(second->blocks[i]->frameCountCache, first->blocks[i]->frameCountCache) << i;
    // Checkpoints are written by frame: the time is worked out again from it.
    ASSERT_EQ(second->checkpoints.size(), first->checkpoints.size());
    for (size_t i = 0; i < first->checkpoints.size(); ++i) {
        EXPECT_EQ(second->checkpoints[i].frame, first->checkpoints[i].frame);
        EXPECT_EQ(second->checkpoints[i].colour, first->checkpoints[i].colour);
    }
    EXPECT_EQ(second->keyFrames(), first->keyFrames());

    // Shapes keep their points in order across a save, so every generation has the same
    // lines, and writing again gives the same bytes.
    EXPECT_EQ(lines(*second), lines(*first));
    ASSERT_EQ(writeScenario(*second, directory / "third.txt"), 0);
    auto third = read("third.txt");
    ASSERT_TRUE(third);
    EXPECT_EQ(lines(*third), lines(*first));
}

// Each kind's text, read and written straight back: what every keyword stores and how each
// field is written, in one pass. Lines are the block's header and body (the blank line before,
// the braces and the RefCount comment are checked once for every block).
TEST(ReadThenWrite, EachKindWritesWhatWasRead)
{
    const struct {
        std::string text;
        std::string written;
    } rows[] = {
        // Options given twice count once; a BLOCK_FRAME names its input.
        {"IMAGE \"pic\" {\nFILE \"dir\\\x95\x5C.jpg\"\nSEPIA\nSEPIA\nMONO\nNEGA\nDISCOLOR\n"
         "HIGHPASS\nRED\nGREEN\nBLUE\nCLIP 1 2 30 40\nPHOTO_FRAME 100\nANGLE (10*3)\n"
         "THROUGH_COLOR 1 2 3\n}\n"
         "IMAGE \"still\" {\nBLOCK_FRAME \"src\" 7\n}\n",
         "IMAGE\t\"pic\"\n\tFILE\t\t\"dir\\\x95\x5C.jpg\"\n\tSEPIA\n\tMONO\n\tNEGA\n\tDISCOLOR\n"
         "\tHIGHPASS\n\tRED\n\tGREEN\n\tBLUE\n\tPHOTO_FRAME\t100\n\tCLIP\t\t1\t2\t30\t40\n"
         "\tANGLE\t\t30\n\tTHROUGH_COLOR\t1\t2\t3\n"
         "IMAGE\t\"still\"\n\tBLOCK_FRAME\t\"src\"\t7\n"},
        // An empty line (two backslashes, then the next STRING) is written back as it was read.
        {"TEXT \"t\" {\nSIZE 5 6\nSTRING \"one\"\nSTRING \"two\"\nSTRING \"three\"\n}\n"
         "TEXT \"u\" {\nSIZE 320 60\nSTRING \"s\"\nALIGN RIGHT\nVALIGN BOTTOM\nCOLOR 1 2 3 4\n"
         "ANGLE -15\nFRAME_OFFSET 3\nFILE \"p.jpg\"\nFONT \"\x82\x6C\x82\x72 \x83\x53\" 7 9\n}\n"
         "TEXT \"v\" {\nSIZE 1 1\nSTRING \"x\\\\\"\nSTRING \"y\"\nALIGN LEFT\nVALIGN TOP\n}\n",
         "TEXT\t\"t\"\n\tSIZE\t\t5\t6\n"
         "\tFONT\t\t\"\x82\x6C\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4E\"\t20\t40\n"
         "\tSTRING\t\t\"one\"\n\tSTRING\t\t\"two\"\n\tSTRING\t\t\"three\"\n"
         "\tCOLOR\t\t255\t255\t255\t255\n\tALIGN\t\tCENTER\n\tVALIGN\t\tCENTER\n"
         "TEXT\t\"u\"\n\tSIZE\t\t320\t60\n\tFILE\t\t\"p.jpg\"\n\tFRAME_OFFSET\t3\n"
         "\tFONT\t\t\"\x82\x6C\x82\x72 \x83\x53\"\t7\t9\n\tSTRING\t\t\"s\"\n\tCOLOR\t\t1\t2\t3\t4\n"
         "\tALIGN\t\tRIGHT\n\tVALIGN\t\tBOTTOM\n\tANGLE\t\t-15\n"
         "TEXT\t\"v\"\n\tSIZE\t\t1\t1\n"
         "\tFONT\t\t\"\x82\x6C\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4E\"\t20\t40\n"
         "\tSTRING\t\t\"x\\\\\"\n\tSTRING\t\t\"y\"\n\tCOLOR\t\t255\t255\t255\t255\n"
         "\tALIGN\t\tLEFT\n\tVALIGN\t\tTOP\n"},
        // Shapes keep their order; a RECT is a polygon of its four corners; the last REGION
        // wins and its corners are not put in order.
        {"DRAW \"d\" {\nSIZE 200 100\nCOLOR 9 8 7 6\n"
         "LINE {\nPOINT 1 2\nPOINT 3 4\nPOINT 5 6\nWIDTH 3\n}\n"
         "RECT {\nPOINT 10 20\nPOINT 110 70\nFILL\nWIDTH 2\n}\n"
         "POLYGON {\nPOINT 0 0\nPOINT 9 0\nPOINT 9 9\n}\n"
         "ELLIPSE {\nREGION 1 2 3 4\nREGION 50 40 30 20\nFILL\nANGLE 45\nWIDTH 5\n}\n"
         "ELLIPSE {\nREGION -5 6 70 80\n}\n}\n",
         "DRAW\t\"d\"\n\tSIZE\t\t200\t100\n\tCOLOR\t\t9\t8\t7\t6\n\n\tLINE\n\t{\n\t\tPOINT\t1\t2\n"
         "\t\tPOINT\t3\t4\n\t\tPOINT\t5\t6\n\t\tWIDTH\t3\n\t}\n\n\tPOLYGON\n\t{\n"
         "\t\tPOINT\t10\t20\n\t\tPOINT\t110\t20\n\t\tPOINT\t110\t70\n\t\tPOINT\t10\t70\n"
         "\t\tWIDTH\t2\n\t\tFILL\n\t}\n\n\tPOLYGON\n\t{\n\t\tPOINT\t0\t0\n\t\tPOINT\t9\t0\n"
         "\t\tPOINT\t9\t9\n\t\tWIDTH\t1\n\t}\n\n\tELLIPSE\n\t{\n\t\tREGION\t50\t40\t30\t20\n"
         "\t\tWIDTH\t5\n\t\tFILL\n\t\tANGLE\t45\n\t}\n"
         "\n\tELLIPSE\n\t{\n\t\tREGION\t-5\t6\t70\t80\n\t\tWIDTH\t1\n\t\tANGLE\t0\n\t}\n"},
        // A rectangle may follow on the next line or start with an expression or a variable; a
        // keyword line after the name means no rectangle, and none is written.
        {"$(w) = 63\nSTILL \"s\" {\nINPUT \"a\"\n  (0) 1 $(w) 47\nMAX_CUT\nINPUT \"b\"\nMAX_CUT\n"
         "INPUT \"c\" $(w) 0 $(w) 0\nINPUT \"d\" -5 -5 5 5\nBGCOLOR 1 2 3\nFRAMES 1\n}\n",
         "STILL\t\"s\"\n\tINPUT\t\t\"a\"\t0\t1\t63\t47\tMAX_CUT\n\tINPUT\t\t\"b\"\tMAX_CUT\n"
         "\tINPUT\t\t\"c\"\t63\t0\t63\t0\n\tINPUT\t\t\"d\"\t-5\t-5\t5\t5\n\tBGCOLOR\t\t1\t2\t3\n"
         "\tFRAMES\t\t1\n"},
        // ROTATE writes its first input only.
        {"ROTATE \"r\" {\nINPUT \"a\" 0 0 9 9\nCENTER 5 -6\nANGLE 90 -90\nBGIMAGE \"bg\"\n"
         "FRAMES 2\n}\n"
         "ROTATE \"q\" {\nINPUT \"a\"\nINPUT \"b\"\nFRAMES 5\n}\n",
         "ROTATE\t\"r\"\n\tINPUT\t\t\"a\"\t0\t0\t9\t9\n\tCENTER\t\t5\t-6\n\tANGLE\t\t90\t-90\n"
         "\tBGCOLOR\t\t0\t0\t0\n\tBGIMAGE\t\t\"bg\"\n\tFRAMES\t\t2\n"
         "ROTATE\t\"q\"\n\tINPUT\t\t\"a\"\n\tANGLE\t\t0\t360\n\tBGCOLOR\t\t0\t0\t0\n"
         "\tFRAMES\t\t5\n"},
        // Each of the ACTION family writes its own rectangles; without SRC_START / SRC_END no
        // zero rectangle is written.
        {"ACTION \"a\" {\nINPUT \"x\"\nSRC_START 0 0 1 1\nSRC_END 0 0 2 2\nDST_START 0 0 3 3\n"
         "DST_END 0 0 4 4\nDSP_START 0 0 5 5\nDSP_END 0 0 6 6\nAFTERIMAGE 2\nBGCOLOR 7 7 7\n"
         "BGIMAGE \"bg\"\nKEEP_ASPECT\nFRAMES 2\n}\n"
         "ZOOM \"z\" {\nINPUT \"x\"\nSRC_START 1 1 1 1\nSRC_END 2 2 2 2\nFRAMES 3\n}\n"
         "ZOOM \"w\" {\nINPUT \"x\"\nFRAMES 3\n}\n"
         "SLIDE \"s\" {\nINPUT \"x\"\nDST_START 1 1 1 1\nDST_END 2 2 2 2\nFRAMES 4\n}\n"
         "FOCUS \"f\" {\nINPUT \"x\"\nDSP_START 3 3 3 3\nDSP_END 4 4 4 4\nFRAMES 5\n}\n",
         "ACTION\t\"a\"\n\tINPUT\t\t\"x\"\n\tSRC_START\t0\t0\t1\t1\n\tSRC_END\t\t0\t0\t2\t2\n"
         "\tDST_START\t0\t0\t3\t3\n\tDST_END\t\t0\t0\t4\t4\n\tDSP_START\t0\t0\t5\t5\n"
         "\tDSP_END\t\t0\t0\t6\t6\n\tKEEP_ASPECT\n\tAFTERIMAGE\t\t2\n\tBGCOLOR\t\t7\t7\t7\n"
         "\tBGIMAGE\t\t\"bg\"\n\tFRAMES\t\t2\n"
         "ZOOM\t\"z\"\n\tINPUT\t\t\"x\"\n\tSRC_START\t1\t1\t1\t1\n\tSRC_END\t\t2\t2\t2\t2\n"
         "\tBGCOLOR\t\t0\t0\t0\n\tFRAMES\t\t3\n"
         "ZOOM\t\"w\"\n\tINPUT\t\t\"x\"\n\tBGCOLOR\t\t0\t0\t0\n\tFRAMES\t\t3\n"
         "SLIDE\t\"s\"\n\tINPUT\t\t\"x\"\n\tDST_START\t1\t1\t1\t1\n\tDST_END\t\t2\t2\t2\t2\n"
         "\tBGCOLOR\t\t0\t0\t0\n\tFRAMES\t\t4\n"
         "FOCUS\t\"f\"\n\tINPUT\t\t\"x\"\n\tDSP_START\t3\t3\t3\t3\n\tDSP_END\t\t4\t4\t4\t4\n"
         "\tKEEP_ASPECT\n\tBGCOLOR\t\t0\t0\t0\n\tFRAMES\t\t5\n"},
        {"FILM \"f\" {\nINPUT \"a\"\nINPUT \"b\"\nINPUT \"c\"\nLEFT\nCOLOR 1 2 3\nBGCOLOR 4 5 6\n"
         "FRAMES 9\n}\n"
         "FILM \"g\" {\nINPUT \"a\"\nINPUT \"b\"\nRIGHT\nFRAMES 2\n}\n"
         "FILM \"h\" {\nINPUT \"a\"\nINPUT \"b\"\nUP\nFRAMES 2\n}\n"
         "FILM \"i\" {\nINPUT \"a\"\nINPUT \"b\"\nDOWN\nFRAMES 2\n}\n",
         "FILM\t\"f\"\n\tINPUT\t\t\"a\"\n\tINPUT\t\t\"b\"\n\tINPUT\t\t\"c\"\n\tLEFT\n"
         "\tCOLOR\t\t1\t2\t3\n\tBGCOLOR\t\t4\t5\t6\n\tFRAMES\t\t9\n"
         "FILM\t\"g\"\n\tINPUT\t\t\"a\"\n\tINPUT\t\t\"b\"\n\tRIGHT\n\tCOLOR\t\t80\t24\t0\n"
         "\tBGCOLOR\t\t0\t0\t0\n\tFRAMES\t\t2\n"
         "FILM\t\"h\"\n\tINPUT\t\t\"a\"\n\tINPUT\t\t\"b\"\n\tUP\n\tCOLOR\t\t80\t24\t0\n"
         "\tBGCOLOR\t\t0\t0\t0\n\tFRAMES\t\t2\n"
         "FILM\t\"i\"\n\tINPUT\t\t\"a\"\n\tINPUT\t\t\"b\"\n\tDOWN\n\tCOLOR\t\t80\t24\t0\n"
         "\tBGCOLOR\t\t0\t0\t0\n\tFRAMES\t\t2\n"},
        // FADEIN and FADEOUT fix their mode; FADE takes it from a line, or has none.
        {"FADE \"a\" {\nINPUT \"x\"\nINOUT\nCOLOR 1 2 3\nFRAMES 2\n}\n"
         "FADEIN \"b\" {\nINPUT \"x\"\nOUT\nFRAMES 2\n}\n"
         "FADEOUT \"c\" {\nINPUT \"x\"\nFRAMES 2\n}\n"
         "FADEINOUT \"d\" {\nINPUT \"x\"\nIN\nFRAMES 2\n}\n"
         "FADE \"e\" {\nINPUT \"x\"\nFRAMES 2\n}\n"
         "CROSSFADE \"f\" {\nINPUT \"x\"\nINPUT \"y\"\nFRAMES 20\n}\n",
         "FADE\t\"a\"\n\tINPUT\t\t\"x\"\n\tINOUT\n\tCOLOR\t\t1\t2\t3\n\tFRAMES\t\t2\n"
         "FADE\t\"b\"\n\tINPUT\t\t\"x\"\n\tIN\n\tCOLOR\t\t0\t0\t0\n\tFRAMES\t\t2\n"
         "FADE\t\"c\"\n\tINPUT\t\t\"x\"\n\tOUT\n\tCOLOR\t\t0\t0\t0\n\tFRAMES\t\t2\n"
         "FADE\t\"d\"\n\tINPUT\t\t\"x\"\n\tINOUT\n\tCOLOR\t\t0\t0\t0\n\tFRAMES\t\t2\n"
         "FADE\t\"e\"\n\tINPUT\t\t\"x\"\n\tCOLOR\t\t0\t0\t0\n\tFRAMES\t\t2\n"
         "CROSSFADE\t\"f\"\n\tINPUT\t\t\"x\"\n\tINPUT\t\t\"y\"\n\tFRAMES\t\t20\n"},
        {"EXPAND \"f\" {\nINPUT \"x\"\nOUT\nRIGHT\n}\n"
         "EXPANDIN \"g\" {\n!INPUT \"x\"\nOUT\nUP\n}\n"
         "EXPANDOUT \"h\" {\nINPUT \"x\"\nIN\nDOWN\n}\n"
         "EXPAND \"i\" {\nINPUT \"x\"\nIN\nLEFT\n}\n",
         "EXPAND\t\"f\"\n\tINPUT\t\t\"x\"\n\tOUT\n\tRIGHT\n"
         "EXPAND\t\"g\"\n\t!INPUT\t\t\"x\"\n\tIN\n\tUP\n"
         "EXPAND\t\"h\"\n\tINPUT\t\t\"x\"\n\tOUT\n\tDOWN\n"
         "EXPAND\t\"i\"\n\tINPUT\t\t\"x\"\n\tIN\n\tLEFT\n"},
        // MIX writes no BGCOLOR line.
        {"MIX \"m\" {\nINPUT \"a\" 0 0 9 9\nOFFSET 4\nOR\nINPUT \"b\"\nINPUT \"c\"\nOR\nOFFSET 6\n"
         "BGIMAGE \"bg\"\nBGCOLOR 1 1 1\n}\n"
         "MIX \"n\" {\nINPUT \"a\"\n}\n"
         "SERIES \"s\" {\nINPUT \"a\"\n!INPUT \"b\"\n}\n"
         "MAIN {\nINPUT \"s\"\n!INPUT \"c\"\nALINK_VOLUME_ALPHA\n}\n",
         "MIX\t\"m\"\n\tINPUT\t\t\"a\"\t0\t0\t9\t9\tOFFSET\t4\n\tINPUT\t\t\"b\"\tOFFSET\t0\n"
         "\tINPUT\t\t\"c\"\tOFFSET\t6\n\tOR\n\tBGIMAGE\t\t\"bg\"\n"
         "MIX\t\"n\"\n\tINPUT\t\t\"a\"\tOFFSET\t0\n"
         "SERIES\t\"s\"\n\tINPUT\t\t\"a\"\n\t!INPUT\t\t\"b\"\n"
         "MAIN\n\tINPUT\t\t\"s\"\n\t!INPUT\t\t\"c\"\t\tALINK_VOLUME_ALPHA\n"},
        // The last START counts; defaults are written as they are.
        {"SHAKE \"s\" {\n!INPUT \"a\"\n}\n"
         "MOSAIC \"m\" {\nINPUT \"a\"\nSIZE_START 2\nSIZE_END 9\nTGT_START 1 2 3 4\n"
         "TGT_END 0 0 5 5\nTGT_END 1 1 6 6\n}\n"
         "MOSAIC \"n\" {\nINPUT \"a\"\nSIZE_START 1\nSIZE_END 16\n}\n"
         "CUT \"c\" {\nINPUT \"a\"\nSTART 9\nSTART 4\nEND 2\nSKIP 3\n}\n"
         "CUT \"d\" {\nINPUT \"a\"\n}\n"
         "ALPHA \"al\" {\nINPUT \"a\"\nSTART 0\nEND 128\n}\n"
         "ALPHA \"am\" {\nINPUT \"a\"\n}\n"
         "SHADE \"sh\" {\nINPUT \"a\"\nSTART 3\nEND 1\n}\n",
         "SHAKE\t\"s\"\n\t!INPUT\t\t\"a\"\n"
         "MOSAIC\t\"m\"\n\tINPUT\t\t\"a\"\n\tSIZE_START\t2\n\tSIZE_END\t9\n"
         "\tTGT_START\t1\t2\t3\t4\n\tTGT_END\t\t1\t1\t6\t6\n"
         "MOSAIC\t\"n\"\n\tINPUT\t\t\"a\"\n\tSIZE_START\t1\n\tSIZE_END\t16\n"
         "CUT\t\"c\"\n\tINPUT\t\t\"a\"\n\tSKIP\t\t3\n\tSTART\t\t4\n\tEND\t\t2\n"
         "CUT\t\"d\"\n\tINPUT\t\t\"a\"\n"
         "ALPHA\t\"al\"\n\tINPUT\t\t\"a\"\n\tSTART\t\t0\n\tEND\t\t128\n"
         "ALPHA\t\"am\"\n\tINPUT\t\t\"a\"\n\tSTART\t\t255\n\tEND\t\t255\n"
         "SHADE\t\"sh\"\n\tINPUT\t\t\"a\"\n\tSTART\t\t3\n\tEND\t\t1\n"},
    };
    for (const auto &row : rows) {
        Scenario scenario;
        test::RecordingPrompter prompter;
        scenario.prompter = &prompter;
        scenario.screenWidth = 640;
        scenario.screenHeight = 480;
        ASSERT_EQ(loadText(scenario, SourceText(row.text, std::nullopt, "t.txt")), 0)
            << row.text << (prompter.errors.empty() ? "" : prompter.errors[0]);
        std::string written;
        for (const auto &block : scenario.blocks) {
            const Lines lines = test::writtenLines(*block);
            ASSERT_GE(lines.size(), 5u);
            EXPECT_EQ(lines[0], "");
            EXPECT_EQ(lines[2], "{");
            EXPECT_EQ(lines[3], "\t# RefCount = 0");
            EXPECT_EQ(lines.back(), "}");
            written += lines[1] + "\n";
            for (size_t i = 4; i + 1 < lines.size(); ++i)
                written += lines[i] + "\n";
        }
        EXPECT_EQ(written, row.written) << row.text;
    }
}

} // namespace
} // namespace vorn
