// vorn-scenario info: reads, links and validates a scenario and prints its summary as JSON.
#include "cli/command.h"
#include "cli/json.h"
#include "cli/scenarioload.h"
#include "base/scenariopath.h"

#include <cstdio>

namespace vorn::cli {

namespace {

int runInfo(const std::vector<std::string> &args);

const Command InfoCommand{
    "info",
    "info FILE [--answer yes|no]",
    "Read, link and validate FILE, then print its settings, blocks and checkpoints as JSON.",
    runInfo,
};

const CommandRegistration registration(InfoCommand);

void optionalText(JsonWriter &json, const std::optional<SjisString> &text)
{
    if (text)
        json.value(sjisToUtf8(*text));
    else
        json.null();
}

int runInfo(const std::vector<std::string> &args)
{
    ScenarioArguments parsed;
    if (const int status = parseScenarioArguments(InfoCommand, args, parsed, false))
        return status;
    StderrPrompter prompter(parsed.answer);
    auto scenario = loadLinkedScenario(parsed.file, prompter);
    if (!scenario)
        return ExitRefused;
    const Scenario &s = *scenario;

    JsonWriter json;
    json.beginObject();
    json.key("path");
    optionalText(json, s.path);
    // The model keeps the song as the scenario names it (directory, a backslash, the name);
    // scripts want the path of this machine.
    json.key("audio");
    if (const auto song = s.audio ? resolveScenarioName(*s.audio, {}) : std::nullopt)
        json.value(song->lexically_normal().string());
    else
        optionalText(json, s.audio);
    json.key("screenWidth").value(int64_t(s.screenWidth));
    json.key("screenHeight").value(int64_t(s.screenHeight));
    json.key("frameRate").value(int64_t(s.frameRate));
    json.key("scale").value(int64_t(s.scale));
    json.key("previewScale").value(int64_t(s.previewScale));
    json.key("boardBreak").value(int64_t(s.boardBreak));
    json.key("startFrame").value(int64_t(s.startFrame));
    json.key("totalFrames").value(int64_t(s.totalFrames));

    json.key("keyFrames").beginArray();
    for (const int32_t frame : s.keyFrames())
        json.value(int64_t(frame));
    json.endArray();

    json.key("blocks").beginArray();
    for (const auto &block : s.blocks) {
        json.beginObject();
        json.key("kind").value(kindKeyword(block->kind));
        json.key("name").value(block->name ? sjisToUtf8(*block->name) : std::string());
        json.key("frameCount").value(int64_t(block->frameCount()));
        json.key("refCount").value(int64_t(block->refCount));
        json.endObject();
    }
    json.endArray();

    json.key("checkpoints").beginArray();
    for (const Checkpoint &checkpoint : s.checkpoints) {
        json.beginObject();
        json.key("time").value(int64_t(checkpoint.time));
        json.key("frame").value(int64_t(checkpoint.frame));
        json.key("color").beginArray();
        json.value(int64_t(checkpoint.colour.red))
            .value(int64_t(checkpoint.colour.green))
            .value(int64_t(checkpoint.colour.blue))
            .value(int64_t(checkpoint.colour.alpha));
        json.endArray();
        json.endObject();
    }
    json.endArray();
    json.endObject();
    std::printf("%s\n", json.text().c_str());
    return ExitOk;
}

} // namespace

} // namespace vorn::cli
