// The scenario editor on large scenarios: an apply on one block of the generated 20,000-block
// scenario (copy, two links, dropped caches, key frames, range table; goal 200 ms), showing that
// scenario's tree (goal 100 ms) and the tree of a 40-level scenario in which every level names
// the next one twice (goal 100 ms).
#include "base/prompter.h"
#include "base/scenariopath.h"
#include "editor/editoricons.h"
#include "editor/sceneprop.h"
#include "editor/scenariodialog.h"
#include "editor/scenevirtual.h"
#include "scenario/model/scenario.h"
#include "scenario/reader/linker.h"
#include "scenario/reader/reader.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLineEdit>
#include <QTreeWidget>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>
#include <unistd.h>

namespace {

void ensureApplication()
{
    static std::unique_ptr<QApplication> app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "bench_editor";
        static char *argv[] = {name, nullptr};
        auto made = std::make_unique<QApplication>(argc, argv);
        vorn::initEditorIcons();
        return made;
    }();
}

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

// The generator of the reader's benchmark (bench/scenario/bench_reader.cpp).
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

// A scenario text written to a temporary file, read and linked, and the file removed again.
std::unique_ptr<vorn::Scenario> linkedScenario(const std::string &text, SilentPrompter &prompter)
{
    const auto path = std::filesystem::temp_directory_path() /
                      ("vorn-bench-editor-" + std::to_string(getpid()) + ".txt");
    std::ofstream(path, std::ios::binary) << text;
    auto scenario = std::make_unique<vorn::Scenario>();
    scenario->prompter = &prompter;
    const bool ok = vorn::load(*scenario, vorn::pathToSjis(path).value()) == 0 &&
                    vorn::link(*scenario) == 0;
    std::error_code error;
    std::filesystem::remove(path, error);
    return ok ? std::move(scenario) : nullptr;
}

vorn::Scenario *generated()
{
    static SilentPrompter prompter;
    static const std::unique_ptr<vorn::Scenario> scenario = linkedScenario(generateScenario(), prompter);
    return scenario.get();
}

std::string doublingText(int levels)
{
    std::string text = "SCREEN 64 48\nDRAW \"d\" { SIZE 8 8 }\n";
    text += "STILL \"l" + std::to_string(levels) + "\" { INPUT \"d\" FRAMES 5 }\n";
    for (int k = levels - 1; k >= 0; --k) {
        const std::string next = "\"l" + std::to_string(k + 1) + "\"";
        text += "MIX \"l" + std::to_string(k) + "\" { INPUT " + next + " INPUT " + next + " }\n";
    }
    return text + "MAIN { INPUT \"l0\" }\n";
}

// The apply of a STILL's frame count as the main view runs it: the page's apply (scratch copy,
// link, live link, dropped caches), then the key frames and the tree's ranges.
void BM_ApplyOnGeneratedScenario(benchmark::State &state)
{
    ensureApplication();
    vorn::Scenario *scenario = generated();
    if (!scenario) {
        state.SkipWithError("the generated scenario did not read");
        return;
    }
    SilentPrompter prompter;
    vorn::EditorServices services;
    services.prompter = &prompter;
    vorn::CSceneProp host(services);
    vorn::CScenarioDialog tree;
    tree.setScenario(scenario);
    tree.tree()->topLevelItem(0)->setExpanded(true);
    size_t keyFrames = 0;
    QObject::connect(&host, &vorn::CSceneProp::scenarioChanged, &tree, [&] {
        keyFrames = scenario->keyFrames().size();
        tree.rebuildRangeTable();
    });
    host.showBlock(scenario->findBlock("scene04000"));
    QLineEdit *frames = nullptr;
    for (QLineEdit *edit : host.currentPage()->findChildren<QLineEdit *>())
        if (edit->accessibleName() == QStringLiteral("フレーム数"))
            frames = edit;
    int32_t value = 60;
    for (auto _ : state) {
        frames->setText(QString::number(value ^= 1));
        if (host.applyCurrentPage() != 0) {
            state.SkipWithError("the apply was refused");
            break;
        }
    }
    state.counters["blocks"] = double(scenario->blocks.size());
    state.counters["keyFrames"] = double(keyFrames);
}
BENCHMARK(BM_ApplyOnGeneratedScenario)->Unit(benchmark::kMillisecond);

// Showing a scenario: the tree is built and MAIN and its first input are opened.
void showTree(benchmark::State &state, vorn::Scenario *scenario)
{
    ensureApplication();
    if (!scenario) {
        state.SkipWithError("the scenario did not read");
        return;
    }
    vorn::CScenarioDialog tree;
    for (auto _ : state) {
        tree.setScenario(scenario);
        QTreeWidgetItem *top = tree.tree()->topLevelItem(0);
        top->setExpanded(true);
        top->child(0)->setExpanded(true);
        benchmark::DoNotOptimize(tree.madeItems());
    }
    state.counters["items"] = double(tree.totalItems());
    state.counters["made"] = double(tree.madeItems());
}

void BM_TreeOfGeneratedScenario(benchmark::State &state)
{
    showTree(state, generated());
}
BENCHMARK(BM_TreeOfGeneratedScenario)->Unit(benchmark::kMillisecond);

void BM_TreeOfDoublingScenario(benchmark::State &state)
{
    static SilentPrompter prompter;
    static const auto scenario = linkedScenario(doublingText(40), prompter);
    showTree(state, scenario.get());
}
BENCHMARK(BM_TreeOfDoublingScenario)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
