// Reading a scenario file into a linked Scenario, and making a new one: the two ways the
// command line and the window get a scenario to work on.
#pragma once

#include "scenario/model/scenario.h"

#include <filesystem>
#include <memory>

namespace vorn {

class Prompter;

// Reads `file` (this machine's path; INCLUDEs and pictures resolve against the folder of the
// file that names them, never the working directory), then links and validates it. Errors and
// the size question go through `prompter`, which the scenario keeps and which must outlive it.
// None after the error was shown (a path that Shift-JIS cannot hold is reported as a file that
// cannot be loaded).
std::unique_ptr<Scenario> loadLinkedScenario(const std::filesystem::path &file, Prompter &prompter);

// A new scenario: 720 x 480, 2997 / 100 frames per second, preview scale 4, board break 1000,
// with its empty MAIN block, linked. None when it cannot be made (nothing is shown).
std::unique_ptr<Scenario> makeNewScenario(Prompter &prompter);

} // namespace vorn
