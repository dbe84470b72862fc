// vorn-scenario video: reads, links and validates a scenario and writes a draft MP4 of its
// frames with its song.
#include "base/prompter.h"
#include "cli/command.h"
#include "cli/scenarioload.h"
#include "export/videoexport.h"
#include "scenario/model/scenario.h"

#include <atomic>
#include <charconv>
#include <csignal>
#include <string>

namespace vorn::cli {

namespace {

int runVideo(const std::vector<std::string> &args);

const Command VideoCommand{
    "video",
    "video FILE OUT.mp4 [--size WxH] [--from FRAME] [--to FRAME] [--threads N] [--answer yes|no]",
    "Read, link and validate a scenario and write its frames with its song as an H.264/AAC MP4.",
    runVideo,
};

const CommandRegistration registration(VideoCommand);

// Ctrl+C or a kill ends the export as a cancel does: the temporary file goes, OUT stays as it was.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onInterrupt(int)
{
    interrupted.store(true);
}

bool readInt(const std::string &text, int32_t &value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

int runVideo(const std::vector<std::string> &args)
{
    ScenarioArguments parsed;
    if (int status = parseScenarioArguments(VideoCommand, args, parsed, true); status != ExitOk)
        return status;
    VideoExportOptions options;
    std::string out;
    for (size_t i = 0; i < parsed.others.size(); ++i) {
        const std::string &arg = parsed.others[i];
        const bool takesValue =
            arg == "--size" || arg == "--from" || arg == "--to" || arg == "--threads";
        if (takesValue) {
            if (i + 1 >= parsed.others.size())
                return usageError(VideoCommand, arg + " needs a value");
            const std::string &value = parsed.others[++i];
            bool ok = false;
            if (arg == "--size") {
                const size_t x = value.find('x');
                ok = x != std::string::npos && readInt(value.substr(0, x), options.width) &&
                     readInt(value.substr(x + 1), options.height) && options.width > 0 &&
                     options.height > 0;
            } else if (arg == "--from") {
                ok = readInt(value, options.firstFrame) && options.firstFrame >= 0;
            } else if (arg == "--to") {
                ok = readInt(value, options.lastFrame) && options.lastFrame >= 0;
            } else {
                ok = readInt(value, options.threads) && options.threads >= 1 &&
                     options.threads <= MaxVideoThreads;
            }
            if (!ok)
                return usageError(VideoCommand, "bad value for " + arg + ": " + value);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usageError(VideoCommand, "unknown option " + arg);
        } else if (out.empty()) {
            out = arg;
        } else {
            return usageError(VideoCommand, "too many arguments");
        }
    }
    if (out.empty())
        return usageError(VideoCommand, "OUT.mp4 is needed");

    StderrPrompter prompter(parsed.answer);
    auto scenario = loadLinkedScenario(parsed.file, prompter);
    if (!scenario)
        return ExitRefused;
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    VideoExportControl control;
    control.cancel = &interrupted;
    const VideoExportResult result =
        exportVideo(*scenario, std::filesystem::path(out), options, control);
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    for (const std::string &message : result.messages)
        prompter.showError(message);
    if (result.status == VideoExportStatus::Cancelled)
        prompter.showError("動画の書き出しを中止しました。");
    return result.status == VideoExportStatus::Written && result.messages.empty() ? ExitOk
                                                                                  : ExitRefused;
}

} // namespace

} // namespace vorn::cli
