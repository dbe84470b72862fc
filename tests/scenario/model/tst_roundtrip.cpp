// Read, write, read again: the saved file reads back into the same scenario, and each kind's
// lines are written as they were read.
#include "modeltest.h"
#include "support/tempdir.h"

#include "base/scenariopath.h"
#include "base/sjis.h"
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

// Each kind's text, read and written straight back: the cases of data/readwrite.txt.
TEST(ReadThenWrite, EachKindWritesWhatWasRead)
{
    const int cases = test::forEachCase("readwrite.txt", [](const std::string &text, const std::string &expected) {
        Scenario scenario;
        test::RecordingPrompter prompter;
        scenario.prompter = &prompter;
        scenario.screenWidth = 640;
        scenario.screenHeight = 480;
        ASSERT_EQ(loadText(scenario, SourceText(utf8ToSjis(text).value(), std::nullopt, "t.txt")), 0)
            << prompter.lastError();
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
        EXPECT_EQ(sjisToUtf8(written), expected);
    });
    EXPECT_EQ(cases, 12);
}

} // namespace
} // namespace vorn
