// The scenario editor on large scenarios: an apply on one block of the generated 20,000-block
// scenario (copy, two links, dropped caches, key frames, range table; goal 200 ms), showing that
// scenario's tree (goal 100 ms) and the tree of a 40-level scenario in which every level names
// the next one twice (goal 100 ms).
#include "editor/editoricons.h"
#include "editor/sceneprop.h"
#include "editor/scenariodialog.h"
#include "editor/scenevirtual.h"
#include "scenario/model/scenario.h"
#include "support/generatedscenario.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLineEdit>
#include <QTreeWidget>

#include <memory>
#include <string>

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

using vorn::bench::generateScenario;
using vorn::bench::SilentPrompter;

std::unique_ptr<vorn::Scenario> linkedScenario(const std::string &text, SilentPrompter &prompter)
{
    return vorn::bench::linkedScenario(text, prompter, "vorn-bench-editor-");
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
