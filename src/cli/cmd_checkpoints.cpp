// vorn-scenario checkpoints: the CHECKPOINT text the output command shows after a scenario was
// opened, with further marks added from the command line.
#include "cli/command.h"
#include "cli/scenarioload.h"
#include "timeline/markstrips.h"

#include <charconv>
#include <cstdio>

namespace vorn::cli {

namespace {

int runCheckpoints(const std::vector<std::string> &args);

const Command CheckpointsCommand{
    "checkpoints",
    "checkpoints FILE [--mark STRIP:MS]... [--answer yes|no]",
    "Print the CHECKPOINT text of FILE's checkpoints plus marks added to strips 0-2.",
    runCheckpoints,
};

const CommandRegistration registration(CheckpointsCommand);

struct AddedMark {
    int strip;
    int32_t ms;
};

bool parseNumber(std::string_view text, int32_t &value)
{
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

// "STRIP:MS" with STRIP 0, 1 or 2 and MS 0 or more.
bool parseMark(const std::string &text, AddedMark &mark)
{
    const size_t colon = text.find(':');
    if (colon == std::string::npos)
        return false;
    int32_t strip = 0;
    if (!parseNumber(std::string_view(text).substr(0, colon), strip) || strip < 0 ||
        strip >= MarkStrips::WrittenStripCount)
        return false;
    mark.strip = strip;
    // Song time starts at 0: a negative time would print a negative frame.
    return parseNumber(std::string_view(text).substr(colon + 1), mark.ms) && mark.ms >= 0;
}

int runCheckpoints(const std::vector<std::string> &args)
{
    ScenarioArguments parsed;
    if (const int status = parseScenarioArguments(CheckpointsCommand, args, parsed, true))
        return status;
    std::vector<AddedMark> marks;
    for (size_t i = 0; i < parsed.others.size(); ++i) {
        const std::string &arg = parsed.others[i];
        if (arg != "--mark")
            return usageError(CheckpointsCommand, "unexpected argument " + arg);
        AddedMark mark{};
        if (i + 1 >= parsed.others.size() || !parseMark(parsed.others[++i], mark))
            return usageError(CheckpointsCommand,
                              "--mark takes STRIP:MS with STRIP 0, 1 or 2 and MS 0 or more");
        marks.push_back(mark);
    }

    StderrPrompter prompter(parsed.answer);
    auto scenario = loadLinkedScenario(parsed.file, prompter);
    if (!scenario)
        return ExitRefused;

    // Without a song the positions are only for display; the text depends on the times.
    MarkStrips strips;
    for (const Checkpoint &checkpoint : scenario->checkpoints) {
        strips.strip(MarkStrips::stripForColour(checkpoint.colour))
            .addMark(checkpoint.time, checkpoint.time);
    }
    for (const AddedMark &mark : marks)
        strips.strip(mark.strip).addMark(mark.ms, mark.ms);

    const std::string text = strips.buildCheckpointText(scenario->frameRate, scenario->scale);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return ExitOk;
}

} // namespace

} // namespace vorn::cli
