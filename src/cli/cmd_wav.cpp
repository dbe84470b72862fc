// vorn-scenario wav: loads a song as the playback engine does and prints its format and lengths.
#include "audio/audioclip.h"
#include "cli/command.h"
#include "cli/json.h"

#include <charconv>
#include <cstdio>

namespace vorn::cli {

namespace {

const char LoadFailedMessage[] = "オーディオ処理の初期化に失敗しました。";

int runWav(const std::vector<std::string> &args);

const Command WavCommand{
    "wav",
    "wav SONG.wav [--video-ms MS]",
    "Load a song as the player does and print its format and lengths as JSON.",
    runWav,
};

const CommandRegistration registration(WavCommand);

bool parseInt32(const std::string &text, int32_t &value)
{
    const char *first = text.data();
    const char *last = first + text.size();
    auto [end, error] = std::from_chars(first, last, value);
    return error == std::errc() && end == last && !text.empty();
}

int runWav(const std::vector<std::string> &args)
{
    std::string song;
    bool haveVideoMs = false;
    int32_t videoMs = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg == "--video-ms") {
            if (i + 1 >= args.size())
                return usageError(WavCommand, "--video-ms needs a value");
            if (!parseInt32(args[++i], videoMs))
                return usageError(WavCommand, "--video-ms takes whole milliseconds");
            haveVideoMs = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usageError(WavCommand, "unknown option " + arg);
        } else if (song.empty()) {
            song = arg;
        } else {
            return usageError(WavCommand, "more than one song given");
        }
    }
    if (song.empty())
        return usageError(WavCommand, "no song given");

    // The engine is given the scenario's length before it loads the song.
    AudioClip clip;
    clip.setPath(std::filesystem::path(song));
    if (haveVideoMs)
        clip.setVideoLength(videoMs);
    if (!clip.load()) {
        std::fprintf(stderr, "%s\n", LoadFailedMessage);
        return ExitRefused;
    }

    JsonWriter json;
    json.beginObject()
        .key("channels").value(int64_t(clip.channels()))
        .key("samplesPerSec").value(int64_t(clip.samplesPerSec()))
        .key("avgBytesPerSec").value(int64_t(clip.avgBytesPerSec()))
        .key("bitsPerSample").value(int64_t(clip.bitsPerSample()))
        .key("blockAlign").value(int64_t(clip.blockAlign()))
        .key("formatSize").value(int64_t(clip.format().size()))
        .key("streamLength").value(int64_t(clip.streamLength()))
        .key("bufferSize").value(int64_t(clip.bufferSize()))
        .key("lengthMs").value(int64_t(clip.lengthMs()))
        .key("endPosition").value(int64_t(clip.endPosition()))
        .endObject();
    std::printf("%s\n", json.text().c_str());
    return ExitOk;
}

} // namespace

} // namespace vorn::cli
