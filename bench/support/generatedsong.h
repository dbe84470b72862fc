// The generated song of the waveform benchmarks: ten minutes of 44.1 kHz 16-bit stereo, a 440 Hz
// tone whose loudness swells every few seconds so that rows differ.
#pragma once

#include "audio/audioclip.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

namespace vorn::bench {

inline constexpr uint32_t SongRate = 44100;
inline constexpr int32_t SongFrames = 10 * 60 * int32_t(SongRate);

inline void putLe(std::string &out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(char((value >> (8 * i)) & 0xFF));
}

// The song, its level swinging between `floor` and `floor + swell` of full scale, written to the
// temporary folder, loaded and the file removed: the clip keeps it in memory. `program` names the
// benchmark in the file's name and in the message when it did not load (then the program ends).
inline std::unique_ptr<AudioClip> generatedSong(const std::string &program, double floor, double swell)
{
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("vorn-" + program + "-" + std::to_string(::getpid()) + ".wav");
    const uint32_t dataBytes = uint32_t(SongFrames) * 4;
    std::string out = "RIFF";
    putLe(out, 36 + dataBytes, 4);
    out += "WAVEfmt ";
    putLe(out, 16, 4);
    putLe(out, 1, 2);
    putLe(out, 2, 2);
    putLe(out, SongRate, 4);
    putLe(out, SongRate * 4, 4);
    putLe(out, 4, 2);
    putLe(out, 16, 2);
    out += "data";
    putLe(out, dataBytes, 4);
    out.reserve(out.size() + dataBytes);
    for (int32_t f = 0; f < SongFrames; ++f) {
        const double t = double(f) / SongRate;
        const double level = floor + swell * std::fabs(std::sin(t * 0.7));
        const double v = 32000.0 * level * std::sin(t * 2 * M_PI * 440.0);
        putLe(out, uint16_t(int16_t(v)), 2);
        putLe(out, uint16_t(int16_t(-v / 2)), 2);
    }
    std::ofstream(path, std::ios::binary).write(out.data(), std::streamsize(out.size()));
    auto loaded = std::make_unique<AudioClip>();
    loaded->setPath(path);
    const bool ok = loaded->load();
    std::filesystem::remove(path);
    if (!ok) {
        std::fprintf(stderr, "%s: the generated song did not load\n", program.c_str());
        std::exit(1);
    }
    return loaded;
}

} // namespace vorn::bench
