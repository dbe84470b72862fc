// What the reader's budgets cost: scenarios that would expand or include without end stop with
// their message. Goal: reading and linking (as `check` does) the macro whose 34 arguments each
// name the next parameter twice fails within 100 ms. Beside it, for scale, a macro of 20,000
// parameters over a 700 KB body, and files that each include the next one twice.
#include "base/prompter.h"
#include "base/scenariopath.h"
#include "scenario/model/scenario.h"
#include "scenario/reader/linker.h"
#include "scenario/reader/reader.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

class RecordingPrompter final : public vorn::Prompter {
public:
    void showError(std::string_view text) override { last = text; }
    bool askYesNo(std::string_view) override { return true; }
    std::string last;
};

// A folder of generated files, removed when the program ends.
struct Folder {
    std::filesystem::path path = std::filesystem::temp_directory_path() /
                                 ("vorn-bench-limits-" + std::to_string(getpid()));
    Folder() { std::filesystem::create_directories(path); }
    ~Folder()
    {
        std::error_code error;
        std::filesystem::remove_all(path, error);
    }
    vorn::SjisString write(const std::string &name, const std::string &text) const
    {
        std::ofstream(path / name, std::ios::binary) << text;
        return vorn::pathToSjis(path / name).value();
    }
};

const Folder &folder()
{
    static const Folder f;
    return f;
}

std::string doublingMacro()
{
    std::string parameters;
    std::string arguments;
    for (int i = 0; i < 34; ++i) {
        parameters += "$(P" + std::to_string(i) + ") ";
        const std::string next = "$(P" + std::to_string(i + 1) + ")";
        arguments += "\"" + next + next + "\" ";
    }
    return "MACRO B(" + parameters + ")\n$(P0)\nENDMACRO\nCALL B(" + arguments + ")\n";
}

std::string wideMacro()
{
    std::string parameters;
    std::string arguments;
    std::string body;
    for (int i = 0; i < 20000; ++i) {
        parameters += "$(P" + std::to_string(i) + ") ";
        arguments += "\"" + std::to_string(i) + "\" ";
    }
    for (int i = 0; body.size() < 700000; ++i)
        body += "$(V" + std::to_string(i) + ") = ($(P" + std::to_string(i % 20000) + ")+1)\n";
    return "MACRO W(" + parameters + ")\n" + body + "ENDMACRO\nCALL W(" + arguments + ")\n";
}

// Reads and, when that succeeds, links; the run is an error unless the outcome is as expected.
void readAndLink(benchmark::State &state, const vorn::SjisString &name, bool expectRead,
                 std::string_view expectedMessage)
{
    for (auto _ : state) {
        RecordingPrompter prompter;
        vorn::Scenario scenario;
        scenario.prompter = &prompter;
        const int32_t read = vorn::load(scenario, name);
        if (read == 0)
            vorn::link(scenario);
        if ((read == 0) != expectRead ||
            prompter.last.find(expectedMessage) == std::string::npos) {
            state.SkipWithError(("unexpected outcome: " + prompter.last).c_str());
            break;
        }
    }
}

void BM_DoublingMacroFails(benchmark::State &state)
{
    readAndLink(state, folder().write("doubling.txt", doublingMacro()), false,
                "マクロ展開の合計が大きすぎます。");
}
BENCHMARK(BM_DoublingMacroFails)->Unit(benchmark::kMillisecond);

// Reads; linking then refuses the scenario for its missing screen size.
void BM_WideMacroReads(benchmark::State &state)
{
    readAndLink(state, folder().write("wide.txt", wideMacro()), true, "");
}
BENCHMARK(BM_WideMacroReads)->Unit(benchmark::kMillisecond);

void BM_MultiplyingIncludesFail(benchmark::State &state)
{
    for (int i = 0; i < 40; ++i) {
        const std::string next = "INCLUDE \"f" + std::to_string(i + 1) + ".txt\"\n";
        folder().write("f" + std::to_string(i) + ".txt", next + next);
    }
    folder().write("f40.txt", "SCALE 1\n");
    readAndLink(state, vorn::pathToSjis(folder().path / "f0.txt").value(), false,
                "INCLUDE で読み込むファイルの合計が大きすぎます。");
}
BENCHMARK(BM_MultiplyingIncludesFail)->Unit(benchmark::kMillisecond);

} // namespace
