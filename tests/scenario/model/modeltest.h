// Helpers of the model tests: a prompter that records, a sink that records, hand linking, the
// cases of the data files.
#pragma once

#include "base/linesink.h"
#include "base/scenariopath.h"
#include "base/sjis.h"
#include "scenario/model/blockinput.h"
#include "scenario/model/blocks.h"
#include "scenario/model/scenario.h"
#include "scenario/model/scenariowriter.h"
#include "scenario/reader/linker.h"
#include "scenario/reader/reader.h"
#include "support/recordingprompter.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace vorn::test {

class RecordingSink final : public LineSink {
public:
    int32_t line(std::string_view bytes) override
    {
        lines.emplace_back(bytes);
        return 0;
    }
    std::vector<std::string> lines;
};

inline const std::filesystem::path AllKinds = std::filesystem::path(VORN_TEST_DATA_DIR) / "scenario/allkinds.txt";

inline std::string readFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Reads and links a scenario file as the program does: the reader's result, else the linker's.
inline int32_t loadLinked(Scenario &scenario, const std::filesystem::path &file)
{
    return load(scenario, pathToSjis(file).value()) == 0 ? link(scenario) : -1;
}

// The lines of the whole scenario file.
inline std::vector<std::string> fileLines(const Scenario &scenario)
{
    RecordingSink sink;
    EXPECT_EQ(writeScenarioLines(scenario, "name", "date", sink), 0);
    return sink.lines;
}

// Appends a block of type T named `name` to the scenario and returns it.
template <typename T, typename... Args>
T *addBlock(Scenario &scenario, std::string name, Args &&...args)
{
    auto block = std::make_unique<T>(std::forward<Args>(args)...);
    block->name = std::move(name);
    block->scenario = &scenario;
    T *raw = block.get();
    scenario.blocks.push_back(std::move(block));
    return raw;
}

// A STILL of `frames` frames: a source of known length for the length and key-frame rules.
inline StillBlock *addStill(Scenario &scenario, std::string name, int32_t frames)
{
    auto *still = addBlock<StillBlock>(scenario, std::move(name));
    still->frames = frames;
    return still;
}

// Adds an input naming `target` to `block`, linked by hand, and returns it.
inline BlockInput *addInput(Scenario &scenario, Block &block, Block *target, int32_t mode = InputShown)
{
    auto &input = block.inputs.emplace_back(std::make_unique<BlockInput>(target->name.value_or(""), mode));
    input->scenario = &scenario;
    input->block = target;
    target->refCount++;
    return input.get();
}

// Calls `each` with the cases of data/NAME: "=== what", a scenario text, "---", then what is
// expected, up to the next "=== " line. Gives the number of cases.
inline int forEachCase(const std::string &name,
                       const std::function<void(const std::string &text, const std::string &expected)> &each)
{
    std::ifstream in(std::filesystem::path(VORN_SOURCE_DIR) / "tests/scenario/model/data" / name);
    const std::string file{std::istreambuf_iterator<char>(in), {}};
    int cases = 0;
    for (size_t at = file.find("\n=== "); at != std::string::npos; ++cases) {
        const size_t text = file.find('\n', at + 1) + 1, split = file.find("\n---\n", text);
        SCOPED_TRACE(file.substr(at + 5, text - at - 6));
        at = file.find("\n=== ", split);
        std::string expected = file.substr(split + 5, at == std::string::npos ? at : at + 1 - split - 5);
        while (expected.size() > 1 && expected.compare(expected.size() - 2, 2, "\n\n") == 0)
            expected.pop_back();  // the blank lines between cases
        each(file.substr(text, split + 1 - text), expected);
    }
    return cases;
}

} // namespace vorn::test
