// Test helper: writes small 16-bit PCM WAV files into a private temporary directory and loads them.
#pragma once

#include "audio/audioclip.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>

namespace vorn::test {

inline void putLe(std::string &out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(char((value >> (8 * i)) & 0xFF));
}

// A 16-bit WAV of `frames` sample frames; sample(channel, frame) gives each value.
inline void writeWav16(const std::filesystem::path &path, int channels, uint32_t rate,
                       int32_t frames, const std::function<int16_t(int, int32_t)> &sample)
{
    const uint32_t dataBytes = uint32_t(frames) * uint32_t(channels) * 2;
    std::string out = "RIFF";
    putLe(out, 36 + dataBytes, 4);
    out += "WAVEfmt ";
    putLe(out, 16, 4);
    putLe(out, 1, 2);  // PCM
    putLe(out, uint32_t(channels), 2);
    putLe(out, rate, 4);
    putLe(out, rate * uint32_t(channels) * 2, 4);
    putLe(out, uint32_t(channels) * 2, 2);
    putLe(out, 16, 2);
    out += "data";
    putLe(out, dataBytes, 4);
    out.reserve(out.size() + dataBytes);
    for (int32_t f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c)
            putLe(out, uint16_t(sample(c, f)), 2);
    std::ofstream(path, std::ios::binary).write(out.data(), std::streamsize(out.size()));
}

// A directory of its own under the system's temporary directory, removed with the object.
class TempDir {
public:
    TempDir()
    {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = "vorn-timeline-" + std::to_string(::getpid());
        if (info)
            name += std::string("-") + info->test_suite_name() + "-" + info->name();
        m_path = std::filesystem::temp_directory_path() / name;
        std::filesystem::create_directories(m_path);
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::filesystem::path &path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// Writes the WAV and loads it into a new clip; null (with a test failure) when it does not load.
inline std::unique_ptr<AudioClip> loadWav16(const std::filesystem::path &path, int channels,
                                            uint32_t rate, int32_t frames,
                                            const std::function<int16_t(int, int32_t)> &sample)
{
    writeWav16(path, channels, rate, frames, sample);
    auto clip = std::make_unique<AudioClip>();
    clip->setPath(path);
    if (!clip->load()) {
        ADD_FAILURE() << "could not load " << path;
        return nullptr;
    }
    return clip;
}

} // namespace vorn::test
