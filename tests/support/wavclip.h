// A 16-bit WAV written and loaded into an AudioClip in one step, for tests of what reads songs.
#pragma once

#include "audio/audioclip.h"
#include "support/wavfile.h"

#include <gtest/gtest.h>

#include <memory>

namespace vorn::test {

// `bytes` written to `path` and loaded: null, with a test failure, when the clip does not load.
inline std::unique_ptr<AudioClip> loadWav(const std::filesystem::path &path, const std::vector<uint8_t> &bytes)
{
    writeFile(path, bytes);
    auto clip = std::make_unique<AudioClip>();
    clip->setPath(path);
    if (!clip->load()) {
        ADD_FAILURE() << "could not load " << path;
        return nullptr;
    }
    return clip;
}

// A 16-bit PCM song, silent unless `sample` says otherwise.
inline std::unique_ptr<AudioClip> loadWav16(const std::filesystem::path &path, uint16_t channels,
                                            uint32_t rate, int32_t frames,
                                            const std::function<int16_t(int, int32_t)> &sample =
                                                [](int, int32_t) { return int16_t(0); })
{
    return loadWav(path, wav16Bytes(channels, rate, frames, sample));
}

} // namespace vorn::test
