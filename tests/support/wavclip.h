// A WAV written and loaded into an AudioClip in one step, for tests of what reads songs.
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

} // namespace vorn::test
