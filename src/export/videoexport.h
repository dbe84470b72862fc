// A draft video of a scenario: its frames rendered by our own engine, H.264 with the song in AAC,
// in an MP4 file that appears only when it is whole.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace vorn {

class Scenario;

struct VideoExportOptions {
    // Both 0: the scenario's screen size (rounded down to even numbers, which 4:2:0 video
    // needs). Otherwise even numbers from 2 to MaxVideoSide; the pictures are scaled.
    int32_t width = 0;
    int32_t height = 0;
    int32_t firstFrame = 0;  // 0-based, inclusive
    int32_t lastFrame = -1;  // inclusive; -1: the scenario's last frame
    int32_t threads = 0;     // render threads; 0: one per core
};

inline constexpr int32_t MaxVideoSide = 8192;
inline constexpr int32_t MaxVideoThreads = 64;

// How the caller follows and stops an export. `progress` runs on the exporting thread after each
// frame has gone to the encoder (done counts them, total is the range's length); it must not
// block. Setting *cancel stops the export soon after, leaving no file.
struct VideoExportControl {
    const std::atomic<bool> *cancel = nullptr;
    std::function<void(int32_t done, int32_t total)> progress;
};

enum class VideoExportStatus { Written, Cancelled, Failed };

struct VideoExportResult {
    VideoExportStatus status = VideoExportStatus::Failed;
    // What to show the user, in order (UTF-8): the reason of a failure, frames written black,
    // and the messages the render reported (each once). Empty after a clean export or a cancel.
    std::vector<std::string> messages;
    int32_t blackFrames = 0;  // frames that failed to render and were written black
};

// Renders frames firstFrame .. lastFrame of a linked scenario on worker threads, encodes them in
// order (frame n at n × scale ÷ frameRate seconds from the first) and muxes the scenario's song
// (AUDIO) from the first frame's time at 1×, cut to the video's length; a scenario without a
// song gives a video-only file. `output` is replaced atomically: a cancel or a failure leaves an
// existing file as it was and no new one. The scenario belongs to the export until it returns
// (its prompter is replaced meanwhile: render errors come back in the result).
VideoExportResult exportVideo(Scenario &scenario, const std::filesystem::path &output,
                              const VideoExportOptions &options,
                              const VideoExportControl &control = {});

} // namespace vorn
