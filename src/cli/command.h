// The subcommands of vorn-scenario register themselves here; main() dispatches by name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vorn::cli {

// Exit statuses of the command-line contract.
enum Exit : int { ExitOk = 0, ExitRefused = 1, ExitUsage = 2 };

struct Command {
    const char *name;
    const char *usage;    // one line: "wav SONG.wav [--video-ms MS]"
    const char *summary;  // one sentence
    // args excludes the program and subcommand names. Returns an Exit value.
    int (*run)(const std::vector<std::string> &args);
};

// A static CommandRegistration in each command's file adds it to the list.
struct CommandRegistration {
    explicit CommandRegistration(const Command &command);
};

const std::vector<Command> &commands();

// Prints "usage: vorn-scenario <usage>" to stderr and returns ExitUsage.
int usageError(const Command &command, std::string_view problem);
// True when args hold --help or -h; the command then prints its usage and exits 0.
bool wantsHelp(const std::vector<std::string> &args);
void printUsage(const Command &command, bool toStderr);

} // namespace vorn::cli
