// Reading and linking a scenario for the command line.
#include "cli/scenarioload.h"

#include "scenario/reader/loadscenario.h"

namespace vorn::cli {

int parseScenarioArguments(const Command &command, const std::vector<std::string> &args,
                           ScenarioArguments &parsed, bool allowOthers)
{
    bool haveFile = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg == "--answer") {
            if (i + 1 >= args.size())
                return usageError(command, "--answer needs yes or no");
            const std::string &answer = args[++i];
            if (answer != "yes" && answer != "no")
                return usageError(command, "--answer takes yes or no");
            parsed.answer = answer == "yes";
        } else if (!haveFile && !(arg.size() > 1 && arg[0] == '-')) {
            parsed.file = arg;
            haveFile = true;
        } else if (allowOthers) {
            parsed.others.push_back(arg);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usageError(command, "unknown option " + arg);
        } else {
            return usageError(command, "more than one scenario given");
        }
    }
    if (!haveFile)
        return usageError(command, "no scenario given");
    return ExitOk;
}

std::unique_ptr<Scenario> loadLinkedScenario(const std::string &file, Prompter &prompter)
{
    return vorn::loadLinkedScenario(std::filesystem::path(file), prompter);
}

} // namespace vorn::cli
