// Reading and linking a scenario for the subcommands that take a FILE and --answer yes|no.
#pragma once

#include "base/prompter.h"
#include "cli/command.h"
#include "scenario/model/scenario.h"

#include <memory>
#include <string>
#include <vector>

namespace vorn::cli {

// FILE and the size question's answer, parsed from a subcommand's arguments.
struct ScenarioArguments {
    std::string file;            // as given (this machine's path, UTF-8)
    bool answer = true;          // --answer yes|no
    std::vector<std::string> others;  // arguments this parser does not know, in order
};

// Takes --answer yes|no and the first positional argument as FILE; everything else goes to
// `others`. 0, or the usage error's exit status after printing it.
int parseScenarioArguments(const Command &command, const std::vector<std::string> &args,
                           ScenarioArguments &parsed, bool allowOthers);

// Reads FILE (with its INCLUDEs and macros) and links and validates it, errors and the size
// question going through `prompter`: the same reading as the window's (loadscenario.h). None
// after the error was shown. The scenario keeps a pointer to `prompter`, which must outlive it.
std::unique_ptr<Scenario> loadLinkedScenario(const std::string &file, Prompter &prompter);

} // namespace vorn::cli
