// vorn-scenario beats: loads a song as the playback engine does and prints its tempo and beats.
#include "audio/audioclip.h"
#include "audio/beattracker.h"
#include "cli/command.h"
#include "cli/json.h"

#include <charconv>
#include <cstdio>

namespace vorn::cli {

namespace {

const char LoadFailedMessage[] = "オーディオ処理の初期化に失敗しました。";

int runBeats(const std::vector<std::string> &args);

const Command BeatsCommand{
    "beats",
    "beats SONG.wav",
    "Load a song as the player does, find its beats and print the tempo, the confidence (0 to 1: "
    "low means better tapped by hand) and the beats (song milliseconds) as JSON.",
    runBeats,
};

const CommandRegistration registration(BeatsCommand);

int runBeats(const std::vector<std::string> &args)
{
    std::string song;
    for (const std::string &arg : args) {
        if (arg.size() > 1 && arg[0] == '-')
            return usageError(BeatsCommand, "unknown option " + arg);
        if (!song.empty())
            return usageError(BeatsCommand, "more than one song given");
        song = arg;
    }
    if (song.empty())
        return usageError(BeatsCommand, "no song given");

    AudioClip clip;
    clip.setPath(std::filesystem::path(song));
    if (!clip.load()) {
        std::fprintf(stderr, "%s\n", LoadFailedMessage);
        return ExitRefused;
    }
    const BeatResult result = findBeats(clip);

    JsonWriter beats;
    beats.beginArray();
    for (int32_t ms : result.beatsMs)
        beats.value(int64_t(ms));
    beats.endArray();
    // The writer holds integers only; the tempo is given to a tenth of a BPM, through to_chars
    // because printf would follow a locale's decimal comma.
    char tempo[32];
    const auto end = std::to_chars(tempo, tempo + sizeof tempo, result.tempoBpm, std::chars_format::fixed, 1).ptr;
    char confidence[32];
    const auto confidenceEnd =
        std::to_chars(confidence, confidence + sizeof confidence, result.confidence, std::chars_format::fixed, 2).ptr;
    std::printf("{\"tempo_bpm\": %.*s, \"confidence\": %.*s, \"beats_ms\": %s}\n", int(end - tempo), tempo,
                int(confidenceEnd - confidence), confidence, beats.text().c_str());
    return ExitOk;
}

} // namespace

} // namespace vorn::cli
