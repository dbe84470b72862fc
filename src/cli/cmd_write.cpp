// vorn-scenario write: reads, links and validates a scenario, then saves it in the canonical
// layout.
#include "base/prompter.h"
#include "base/sjis.h"
#include "cli/command.h"
#include "scenario/model/scenario.h"
#include "scenario/model/scenariowriter.h"
#include "scenario/reader/linker.h"
#include "scenario/reader/reader.h"

#include <cstdio>

namespace vorn::cli {

namespace {

const char WriteFailedMessage[] = "シナリオの出力に失敗しました。";

int runWrite(const std::vector<std::string> &args);

const Command WriteCommand{
    "write",
    "write FILE OUT [--answer yes|no]",
    "Read, link and validate a scenario, then write it to OUT in the canonical layout.",
    runWrite,
};

const CommandRegistration registration(WriteCommand);

int runWrite(const std::vector<std::string> &args)
{
    std::vector<std::string> files;
    bool answer = true;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg == "--answer") {
            if (i + 1 >= args.size())
                return usageError(WriteCommand, "--answer needs yes or no");
            const std::string &value = args[++i];
            if (value != "yes" && value != "no")
                return usageError(WriteCommand, "--answer takes yes or no");
            answer = value == "yes";
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usageError(WriteCommand, "unknown option " + arg);
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() < 2)
        return usageError(WriteCommand, files.empty() ? "no scenario given" : "no output file given");
    if (files.size() > 2)
        return usageError(WriteCommand, "too many files given");

    // The reader works on Shift-JIS names, as a scenario's INCLUDE lines are written.
    const auto name = utf8ToSjis(files[0]);
    if (!name) {
        std::fprintf(stderr, "ファイル名 %s は Shift-JIS で表せないため開けません。\n",
                     files[0].c_str());
        return ExitRefused;
    }

    StderrPrompter prompter(answer);
    Scenario scenario;
    scenario.prompter = &prompter;
    if (load(scenario, *name) != 0 || link(scenario) != 0)
        return ExitRefused;
    if (writeScenario(scenario, std::filesystem::path(files[1])) != 0) {
        prompter.showError(WriteFailedMessage);
        return ExitRefused;
    }
    return ExitOk;
}

} // namespace

} // namespace vorn::cli
