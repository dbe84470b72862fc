// Read, write, read again: the saved file reads back into the same scenario.
#include "modeltest.h"
#include "support/tempdir.h"

#include "base/scenariopath.h"
#include "scenario/model/scenariowriter.h"
#include "scenario/reader/linker.h"
#include "scenario/reader/reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include <unistd.h>

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

TEST_F(RoundTripTest, TextLinesAndBlankInputsSurvive)
{
    {
        std::ofstream file(directory / "small.txt", std::ios::binary);
        file << "SCREEN 32 24\n"
                "TEXT \"t\" { SIZE 32 24 STRING \"A\\\\\" STRING \"B\" }\n"
                "STILL \"s\" { INPUT \"t\" FRAMES 3 }\n"
                "CUT \"c\" { !INPUT \"s\" START 2 END 0 }\n"
                "MAIN { INPUT \"s\" !INPUT \"c\" }\n";
    }
    auto first = read("small.txt");
    ASSERT_TRUE(first) << (prompter.errors.empty() ? "" : prompter.errors[0]);
    const auto &text = dynamic_cast<const TextBlock &>(*first->findBlock("t"));
    ASSERT_EQ(text.string, "A\r\n\r\nB");
    ASSERT_EQ(writeScenario(*first, directory / "again.txt"), 0);
    auto second = read("again.txt");
    ASSERT_TRUE(second) << (prompter.errors.empty() ? "" : prompter.errors[0]);
    EXPECT_EQ(dynamic_cast<const TextBlock &>(*second->findBlock("t")).string, "A\r\n\r\nB");
    EXPECT_EQ(second->findBlock("c")->inputs[0]->inputMode, InputBlank);
    EXPECT_EQ(second->mainInput.block->inputs[1]->inputMode, InputBlank);
    EXPECT_EQ(lines(*second), lines(*first));
}

TEST_F(RoundTripTest, UnlinkedScenarioSavesWhatWasRead)
{
    {
        std::ofstream file(directory / "plain.txt", std::ios::binary);
        file << "SCREEN 32 24\n"
                "IMAGE \"i\" { FILE \"allkinds.bmp\" }\n"
                "STILL \"s\" { INPUT \"i\" MAX_CUT FRAMES 3 }\n"
                "TEXT \"t\" { SIZE 8 8 STRING \"x\" ANGLE 30 }\n"
                "MAIN { INPUT \"s\" }\n";
    }
    // Saved straight after reading, before linking fills in the screen rectangles.
    Scenario read;
    read.prompter = &prompter;
    ASSERT_EQ(load(read, *pathToSjis(directory / "plain.txt")), 0);
    ASSERT_EQ(writeScenario(read, directory / "saved.txt"), 0);
    auto saved = this->read("saved.txt");
    ASSERT_TRUE(saved) << (prompter.errors.empty() ? "" : prompter.errors[0]);
    const BlockInput &input = *saved->findBlock("s")->inputs[0];
    EXPECT_EQ(input.rect, (Rect{0, 0, 31, 23}));
    EXPECT_EQ(input.cutMode, MaxCut);
    const auto &text = dynamic_cast<const TextBlock &>(*saved->findBlock("t"));
    EXPECT_EQ(text.options, TextBlock::Angle);
    EXPECT_EQ(text.angle, 30);
}

} // namespace
} // namespace vorn
