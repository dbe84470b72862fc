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

Lines lines(const Scenario &scenario)
{
    test::RecordingSink sink;
    EXPECT_EQ(writeScenarioLines(scenario, "name", "date", sink), 0);
    return sink.lines;
}

// The sample holds every kind: each kind's lines are read back. Shapes keep their points in
// order across a save, so every generation writes the same lines (checkpoints by frame, and
// their time worked out again from it), has the same length and the same key frames.
TEST(RoundTripTest, EveryKindReadsBackTheSame)
{
    const test::TempDir dir;
    std::filesystem::copy(std::filesystem::path(VORN_TEST_DATA_DIR) / "scenario", dir.path());
    test::RecordingPrompter prompter;
    std::vector<std::unique_ptr<Scenario>> generations;
    for (const char *name : {"allkinds.txt", "second.txt", "third.txt"}) {
        auto scenario = std::make_unique<Scenario>();
        scenario->prompter = &prompter;
        ASSERT_EQ(load(*scenario, pathToSjis(dir.path() / name).value()), 0) << prompter.lastError();
        ASSERT_EQ(link(*scenario), 0) << prompter.lastError();
        if (!generations.empty()) {
            EXPECT_EQ(lines(*scenario), lines(*generations[0]));
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
