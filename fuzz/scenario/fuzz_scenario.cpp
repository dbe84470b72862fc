// libFuzzer target: any scenario text is read and, when that succeeds, linked and validated;
// both either succeed silently or fail with at least one message, and never read outside the
// text. A scenario that links then has its first, middle and last frame rendered and handed
// back, and, when it is short, its key frames compared with MAIN's frame-by-frame answer.
//
// The text is read as a macro expansion would be (loadText), so no file is involved; names it
// includes or plays are resolved against an empty scratch folder. The prompter answers "no" to
// the size question, so an INCLUDE of a huge file is not read. There is no QGuiApplication, so
// TEXT blocks report that they cannot draw: the rest of the frame is still composed.
#include "base/prompter.h"
#include "base/scenariopath.h"
#include "scenario/model/blocks.h"
#include "scenario/model/scenario.h"
#include "scenario/reader/linker.h"
#include "scenario/reader/reader.h"
#include "scenario/reader/sourcetext.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>
#include <unistd.h>

namespace {

class CountingPrompter final : public vorn::Prompter {
public:
    void showError(std::string_view) override { ++errors; }
    bool askYesNo(std::string_view) override { return false; }
    int errors = 0;
};

std::string g_scratch;

void removeScratch()
{
    std::error_code error;
    std::filesystem::remove_all(g_scratch, error);
}

// An empty folder of this process, removed at exit.
const vorn::SjisString &scratchDirectory()
{
    static const vorn::SjisString directory = [] {
        g_scratch = (std::filesystem::temp_directory_path() / "vorn-fuzz-scenario-XXXXXX").string();
        if (!mkdtemp(g_scratch.data()))
            std::abort();
        std::atexit(removeScratch);
        return vorn::pathToSjis(g_scratch).value();
    }();
    return directory;
}

// The fuzzer looks for faults, not for large pictures: screens and drawn pictures are capped at
// a few dozen pixels before linking, so that every input renders quickly.
constexpr int32_t Cap = 40;

void capSizes(vorn::Scenario &scenario)
{
    scenario.screenWidth = std::min(scenario.screenWidth, Cap);
    scenario.screenHeight = std::min(scenario.screenHeight, Cap);
    const auto cap = [](auto &size) {
        size.width = std::min(size.width, Cap);
        size.height = std::min(size.height, Cap);
    };
    for (auto &block : scenario.blocks) {
        if (auto *draw = dynamic_cast<vorn::DrawBlock *>(block.get()))
            cap(draw->size);
        else if (auto *text = dynamic_cast<vorn::TextBlock *>(block.get()))
            cap(text->size);
    }
}

void renderSomeFrames(vorn::Scenario &scenario)
{
    const int32_t total = scenario.totalFrames;
    for (const int32_t frame : {0, total / 2, total - 1}) {
        if (frame < 0 || frame >= total)
            continue;
        scenario.release(scenario.render(frame), frame);
    }
}

void checkKeyFrames(vorn::Scenario &scenario)
{
    constexpr int32_t MostFramesAsked = 4096;
    vorn::Block *main = scenario.mainInput.block;
    if (!main || scenario.totalFrames > MostFramesAsked)
        return;
    std::vector<int32_t> expected;
    for (int32_t frame = 0; frame < scenario.totalFrames; ++frame)
        if (main->isKeyFrame(frame))
            expected.push_back(frame);
    if (scenario.keyFrames() != expected)
        std::abort();  // the one walk must agree with asking frame by frame
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    CountingPrompter prompter;
    vorn::Scenario scenario;
    scenario.prompter = &prompter;
    scenario.currentDirectory = scratchDirectory();
    const vorn::SourceText text(std::string(reinterpret_cast<const char *>(data), size),
                                std::nullopt, "fuzz");
    int32_t result = vorn::loadText(scenario, text);
    if (result == 0) {
        if (prompter.errors != 0)
            std::abort();  // success must be silent
        capSizes(scenario);
        result = vorn::link(scenario);
    }
    if ((result == 0) != (prompter.errors == 0))
        std::abort();  // a failure always says why
    if (result == 0) {
        checkKeyFrames(scenario);
        renderSomeFrames(scenario);
    }
    return 0;
}
