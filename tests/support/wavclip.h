// A 16-bit WAV written and loaded into an AudioClip in one step, for tests of what reads songs.
#pragma once

#include "audio/audioclip.h"
#include "support/wavfile.h"

#include <gtest/gtest.h>

#include <memory>

namespace vorn::test {

// Null (with a test failure) when the clip does not load. Silent unless `sample` says otherwise.
inline std::unique_ptr<AudioClip> loadWav16(const std::filesystem::path &path, uint16_t channels,
                                            uint32_t rate, int32_t frames,
                                            const std::function<int16_t(int, int32_t)> &sample =
                                                [](int, int32_t) { return int16_t(0); })
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
