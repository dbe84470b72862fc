// Reading and linking a generated scenario of about 10 MiB and 20,000 blocks that uses macros,
// variables and expressions (goal: 0.5 s for read + link), and the key frames of scenarios
// (goals: 50 ms for the generated one, 100 ms for a 12 KB file of 1,000 long inputs).
#include "base/prompter.h"
#include "base/scenariopath.h"
#include "scenario/model/scenario.h"
#include "scenario/reader/linker.h"
#include "scenario/reader/reader.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>
#include <unistd.h>

namespace {

class SilentPrompter final : public vorn::Prompter {
public:
    void showError(std::string_view text) override
    {
        std::fprintf(stderr, "%.*s\n", int(text.size()), text.data());
        failed = true;
    }
    bool askYesNo(std::string_view) override { return true; }
    bool failed = false;
};

constexpr size_t TargetBytes = 10u * 1024u * 1024u;  // read without the size question

// 8,000 blocks written out and 6,000 macro calls of two blocks each: 20,000 blocks, grouped
// by SERIES blocks of 100 inputs under MAIN.
std::string generateScenario()
{
    std::string text;
    text.reserve(TargetBytes);
    text += "# Generated benchmark scenario\r\n"
            "SCREEN 640 480\r\nFRAMERATE 2997\r\nSCALE 100\r\n"
            "$(W) = 640\r\n$(H) = 480\r\n$(LEN) = (30*2)\r\n"
            "DRAW \"canvas\"\r\n{\r\n\tSIZE\t$(W) $(H)\r\n\tCOLOR\t255 255 255 255\r\n"
            "\tRECT\r\n\t{\r\n\t\tPOINT\t10 10\r\n\t\tPOINT\t(640-10) (480-10)\r\n\t\tFILL\r\n\t}\r\n}\r\n"
            "MACRO SCENE($(NAME) $(FRAMES) )\r\n"
            "STILL \"$(NAME)\"   # the held picture\r\n"
            "{\r\n\tINPUT\t\"canvas\"\t(0) (0) ($(W)-1) ($(H)-1)\r\n\tFRAMES\t$(FRAMES)\r\n}\r\n"
            "FADEIN \"$(NAME)$$\"\r\n{\r\n\tINPUT\t\"$(NAME)\"\r\n\tCOLOR\t0 0 0\r\n"
            "\tFRAMES\t(($(FRAMES)+1)/2)\r\n}\r\n"
            "ENDMACRO\r\n";
    std::vector<std::string> leaves;
    const int written = 8000;
    const int calls = 6000;
    char line[512];
    for (int i = 0; i < written; ++i) {
        std::snprintf(line, sizeof line,
                      "\r\n# Scene %05d: a still picture with a framed input, written out by hand so\r\n"
                      "# that the file reads like a long real scenario, comments and all.\r\n"
                      "STILL \"scene%05d\"\r\n{\r\n"
                      "\tINPUT\t\"canvas\"\t(%d*2) (%d/4) ($(W)-1-%d) ($(H)-1)\r\n"
                      "\tINPUT\t\"canvas\"\r\n\tMAX_CUT\r\n"
                      "\tBGCOLOR\t%d %d %d\r\n"
                      "\tFRAMES\t($(LEN)+%d)\r\n}\r\n",
                      i, i, i % 100, i % 400, i % 50, i % 256, (i * 7) % 256, (i * 13) % 256, i % 30);
        text += line;
        leaves.push_back("scene" + std::to_string(100000 + i).substr(1));
    }
    for (int i = 0; i < calls; ++i) {
        std::snprintf(line, sizeof line, "CALL SCENE(\"m%05d\" \"(%d+10)\" )\r\n", i, i % 40);
        text += line;
        std::snprintf(line, sizeof line, "m%05d%04d", i, i);
        leaves.push_back(line);
    }
    std::string main = "\r\nMAIN\r\n{\r\n";
    for (size_t start = 0, group = 0; start < leaves.size(); start += 100, ++group) {
        std::string series = "\r\nSERIES \"group" + std::to_string(group) + "\"\r\n{\r\n";
        for (size_t k = start; k < leaves.size() && k < start + 100; ++k)
            series += "\tINPUT\t\"" + leaves[k] + "\"\r\n";
        series += "}\r\n";
        text += series;
        main += "\tINPUT\t\"group" + std::to_string(group) + "\"\r\n";
    }
    text += main + "}\r\n";
    // Pad with comment lines up to the size that is read without asking.
    const std::string pad = "# padding to the generated size ............................................\r\n";
    while (text.size() + pad.size() <= TargetBytes)
        text += pad;
    return text;
}

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

// A scenario file written to a temporary file, read and linked, and removed again.
std::unique_ptr<vorn::Scenario> linkedScenario(const std::string &text, SilentPrompter &prompter)
{
    const auto path = std::filesystem::temp_directory_path() /
                      ("vorn-bench-keyframes-" + std::to_string(getpid()) + ".txt");
    std::ofstream(path, std::ios::binary) << text;
    auto scenario = std::make_unique<vorn::Scenario>();
    scenario->prompter = &prompter;
    const bool ok = vorn::load(*scenario, vorn::pathToSjis(path).value()) == 0 &&
                    vorn::link(*scenario) == 0;
    std::error_code error;
    std::filesystem::remove(path, error);
    return ok ? std::move(scenario) : nullptr;
}

void keyFramesOf(benchmark::State &state, const vorn::Scenario *scenario)
{
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
    SilentPrompter prompter;
    const std::string text = [] {
        std::ifstream in(scenarioFile(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }();
    const auto scenario = linkedScenario(text, prompter);
    keyFramesOf(state, scenario.get());
}
BENCHMARK(BM_KeyFramesOfTheGenerated)->Unit(benchmark::kMillisecond);

// MAIN with 1,000 inputs of one STILL of 2,000,000 frames: about 12 KB of text.
void BM_KeyFramesOfLongInputs(benchmark::State &state)
{
    SilentPrompter prompter;
    std::string text = "SCREEN 64 48\r\nDRAW \"d\" { SIZE 8 8 }\r\n"
                       "STILL \"s\" { INPUT \"d\" FRAMES 2000000 }\r\nMAIN\r\n{\r\n";
    for (int i = 0; i < 1000; ++i)
        text += "\tINPUT\t\"s\"\r\n";
    text += "}\r\n";
    state.counters["bytes"] = double(text.size());
    const auto scenario = linkedScenario(text, prompter);
    keyFramesOf(state, scenario.get());
}
BENCHMARK(BM_KeyFramesOfLongInputs)->Unit(benchmark::kMillisecond);

// A MIX of 20,000 inputs of one STILL, each 100 frames later than the one before.
void BM_KeyFramesOfOffsetInputs(benchmark::State &state)
{
    SilentPrompter prompter;
    std::string text = "SCREEN 64 48\r\nDRAW \"d\" { SIZE 8 8 }\r\n"
                       "ROTATE \"r\" { INPUT \"d\" FRAMES 1000 }\r\nMIX \"m\"\r\n{\r\n";
    for (int i = 0; i < 20000; ++i)
        text += "\tINPUT\t\"r\"\r\n\tOFFSET\t" + std::to_string(i * 100) + "\r\n";
    text += "}\r\nMAIN { INPUT \"m\" }\r\n";
    const auto scenario = linkedScenario(text, prompter);
    keyFramesOf(state, scenario.get());
}
BENCHMARK(BM_KeyFramesOfOffsetInputs)->Unit(benchmark::kMillisecond);

} // namespace
