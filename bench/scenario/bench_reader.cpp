// Reading and linking a generated scenario of about 10 MiB and 20,000 blocks that uses macros,
// variables and expressions (goal: 0.5 s for read + link), a polygon of 600,000 POINT lines
// (goal: 1 s for read + link, what `check` does), and the key frames of scenarios (goals: 50 ms
// for the generated one, 100 ms for a 12 KB file of 1,000 long inputs).
#include "base/scenariopath.h"
#include "scenario/model/scenario.h"
#include "scenario/reader/linker.h"
#include "scenario/reader/reader.h"
#include "support/generatedscenario.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>
#include <unistd.h>

namespace {

using vorn::bench::generateScenario;
using vorn::bench::SilentPrompter;

// The generated file, written once and removed when the program ends.
struct GeneratedFile {
    std::filesystem::path path;
    GeneratedFile()
        : path(std::filesystem::temp_directory_path() /
               ("vorn-bench-reader-" + std::to_string(getpid()) + ".txt"))
    {
        std::ofstream(path, std::ios::binary) << generateScenario();
    }
    ~GeneratedFile()
    {
        std::error_code error;
        std::filesystem::remove(path, error);
    }
};

const std::filesystem::path &scenarioFile()
{
    static const GeneratedFile file;
    return file.path;
}

void BM_ReadAndLink(benchmark::State &state)
{
    const vorn::SjisString name = vorn::pathToSjis(scenarioFile()).value();
    size_t blocks = 0;
    for (auto _ : state) {
        SilentPrompter prompter;
        vorn::Scenario scenario;
        scenario.prompter = &prompter;
        if (vorn::load(scenario, name) != 0 || vorn::link(scenario) != 0) {
            state.SkipWithError("the generated scenario did not read");
            break;
        }
        blocks = scenario.blocks.size();
        benchmark::DoNotOptimize(scenario.totalFrames);
    }
    state.counters["blocks"] = double(blocks);
    state.counters["MiB"] = double(std::filesystem::file_size(scenarioFile())) / (1024.0 * 1024.0);
    state.SetBytesProcessed(int64_t(state.iterations()) *
                            int64_t(std::filesystem::file_size(scenarioFile())));
}
BENCHMARK(BM_ReadAndLink)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// A DRAW block whose polygon has `state.range(0)` points, written once; read and linked per
// iteration. Reading must stay linear in the points.
void BM_ReadPointHeavy(benchmark::State &state)
{
    const auto points = int32_t(state.range(0));
    std::string text = "SCREEN 64 48\r\nDRAW \"d\"\r\n{\r\n\tSIZE\t64\t48\r\n\tPOLYGON\r\n\t{\r\n";
    for (int32_t i = 0; i < points; ++i)
        text += "\t\tPOINT\t" + std::to_string(i % 64) + "\t" + std::to_string(i / 64 % 48) + "\r\n";
    text += "\t}\r\n}\r\nSTILL \"s\" { INPUT \"d\" FRAMES 10 }\r\nMAIN { INPUT \"s\" }\r\n";
    const auto path = std::filesystem::temp_directory_path() /
                      ("vorn-bench-points-" + std::to_string(getpid()) + ".txt");
    std::ofstream(path, std::ios::binary) << text;
    const vorn::SjisString name = vorn::pathToSjis(path).value();
    for (auto _ : state) {
        SilentPrompter prompter;
        vorn::Scenario scenario;
        scenario.prompter = &prompter;
        if (vorn::load(scenario, name) != 0 || vorn::link(scenario) != 0) {
            state.SkipWithError("the point-heavy scenario did not read");
            break;
        }
        benchmark::DoNotOptimize(scenario.totalFrames);
    }
    std::error_code error;
    std::filesystem::remove(path, error);
    state.counters["MiB"] = double(text.size()) / (1024.0 * 1024.0);
    state.SetComplexityN(points);
}
BENCHMARK(BM_ReadPointHeavy)
    ->Arg(75000)->Arg(150000)->Arg(300000)->Arg(600000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// The key frames of a scenario text, read and linked once before the timing.
void keyFramesOf(benchmark::State &state, const std::string &text)
{
    SilentPrompter prompter;
    const auto scenario = vorn::bench::linkedScenario(text, prompter, "vorn-bench-keyframes-");
    if (!scenario) {
        state.SkipWithError("the scenario did not read");
        return;
    }
    size_t count = 0;
    for (auto _ : state) {
        const std::vector<int32_t> frames = scenario->keyFrames();
        count = frames.size();
        benchmark::DoNotOptimize(frames.data());
    }
    state.counters["keyFrames"] = double(count);
    state.counters["totalFrames"] = double(scenario->totalFrames);
}

void BM_KeyFramesOfTheGenerated(benchmark::State &state)
{
    std::ifstream in(scenarioFile(), std::ios::binary);
    keyFramesOf(state, std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}
BENCHMARK(BM_KeyFramesOfTheGenerated)->Unit(benchmark::kMillisecond);

// MAIN with 1,000 inputs of one STILL of 2,000,000 frames: about 12 KB of text.
void BM_KeyFramesOfLongInputs(benchmark::State &state)
{
    std::string text = "SCREEN 64 48\r\nDRAW \"d\" { SIZE 8 8 }\r\n"
                       "STILL \"s\" { INPUT \"d\" FRAMES 2000000 }\r\nMAIN\r\n{\r\n";
    for (int i = 0; i < 1000; ++i)
        text += "\tINPUT\t\"s\"\r\n";
    text += "}\r\n";
    state.counters["bytes"] = double(text.size());
    keyFramesOf(state, text);
}
BENCHMARK(BM_KeyFramesOfLongInputs)->Unit(benchmark::kMillisecond);

// A MIX of 20,000 inputs of one STILL, each 100 frames later than the one before.
void BM_KeyFramesOfOffsetInputs(benchmark::State &state)
{
    std::string text = "SCREEN 64 48\r\nDRAW \"d\" { SIZE 8 8 }\r\n"
                       "ROTATE \"r\" { INPUT \"d\" FRAMES 1000 }\r\nMIX \"m\"\r\n{\r\n";
    for (int i = 0; i < 20000; ++i)
        text += "\tINPUT\t\"r\"\r\n\tOFFSET\t" + std::to_string(i * 100) + "\r\n";
    text += "}\r\nMAIN { INPUT \"m\" }\r\n";
    keyFramesOf(state, text);
}
BENCHMARK(BM_KeyFramesOfOffsetInputs)->Unit(benchmark::kMillisecond);

} // namespace
