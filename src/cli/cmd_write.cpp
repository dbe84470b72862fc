// vorn-scenario write: reads, links and validates a scenario, then saves it in the canonical
// layout.
#include "base/prompter.h"
#include "cli/command.h"
#include "cli/scenarioload.h"
#include "scenario/model/scenario.h"
#include "scenario/model/scenariowriter.h"

namespace vorn::cli {

namespace {

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
    ScenarioArguments parsed;
    if (int status = parseScenarioArguments(WriteCommand, args, parsed, true); status != ExitOk)
        return status;
    for (const auto &other : parsed.others)
        if (other.size() > 1 && other[0] == '-')
            return usageError(WriteCommand, "unknown option " + other);
    if (parsed.others.empty())
        return usageError(WriteCommand, "no output file given");
    if (parsed.others.size() > 1)
        return usageError(WriteCommand, "more than one output file given");

    StderrPrompter prompter(parsed.answer);
    auto scenario = loadLinkedScenario(parsed.file, prompter);
    if (!scenario)
        return ExitRefused;
    // The header's "File name" line holds OUT as given.
    SjisString unreadable;
    SaveFailure why;
    if (writeScenario(*scenario, std::filesystem::path(parsed.others.front()), &unreadable, &why) != 0) {
        // Below the usual message: the value the reader could not read back, or the path and
        // the system's reason.
        prompter.showError(saveFailedMessage(unreadable, why));
        return ExitRefused;
    }
    return ExitOk;
}

} // namespace

} // namespace vorn::cli
