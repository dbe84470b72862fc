// vorn-scenario check: reads, links and validates a scenario; silent on success.
#include "cli/command.h"
#include "cli/scenarioload.h"

namespace vorn::cli {

namespace {

int runCheck(const std::vector<std::string> &args);

const Command CheckCommand{
    "check",
    "check FILE [--answer yes|no]",
    "Read FILE with its INCLUDEs and macros, link and validate it; print nothing on success.",
    runCheck,
};

const CommandRegistration registration(CheckCommand);

int runCheck(const std::vector<std::string> &args)
{
    ScenarioArguments parsed;
    if (const int status = parseScenarioArguments(CheckCommand, args, parsed, false))
        return status;
    StderrPrompter prompter(parsed.answer);
    return loadLinkedScenario(parsed.file, prompter) ? ExitOk : ExitRefused;
}

} // namespace

} // namespace vorn::cli
