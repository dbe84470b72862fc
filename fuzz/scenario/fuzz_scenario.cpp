// libFuzzer target: any scenario text is read and, when that succeeds, linked and validated;
// both either succeed silently or fail with at least one message, and never read outside the
// text.
//
// The text is read as a macro expansion would be (loadText), so no file is involved; names it
// includes or plays are resolved against an empty scratch folder. The prompter answers "no" to
// the size question, so an INCLUDE of a huge file is not read.
#include "base/prompter.h"
#include "base/scenariopath.h"
#include "scenario/model/scenario.h"
#include "scenario/reader/linker.h"
#include "scenario/reader/reader.h"
#include "scenario/reader/sourcetext.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
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
        result = vorn::link(scenario);
    }
    if ((result == 0) != (prompter.errors == 0))
        std::abort();  // a failure always says why
    return 0;
}
