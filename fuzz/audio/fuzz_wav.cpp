// libFuzzer target: any file given to AudioClip::load either loads or fails, and a loaded clip
// answers every query without reading outside its buffer.
//
// The first input byte is a control byte: when its low bit is set, 140,000 zero bytes are
// appended to the file, so that small inputs can declare a data chunk big enough to load and
// reach the code after the size checks. The rest of the input is the file.
#include "audio/audioclip.h"
#include "support/scratchfile.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

// load() reads the file by name as it reads any song.
const vorn::fuzz::ScratchFile Scratch("vorn-fuzz-wav");

int32_t readInt32(const uint8_t *data, size_t size, size_t at)
{
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i)
        v |= uint32_t(at + i < size ? data[at + i] : 0) << (8 * i);
    return int32_t(v);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const bool pad = data[0] & 1;
    Scratch.write(data + 1, size - 1, pad ? 140000 : 0);

    vorn::AudioClip clip;
    clip.setPath(Scratch.path());
    clip.setVideoLength(readInt32(data, size, 1));
    if (!clip.load()) {
        if (clip.bufferSize() != 0 || clip.samples() != nullptr)
            std::abort();
        return 0;
    }

    // What a loaded clip promises.
    const int32_t blockAlign = clip.blockAlign();
    if (clip.bufferSize() % vorn::AudioClip::BlockBytes != 0
        || int64_t(clip.streamLength()) * blockAlign < vorn::AudioClip::MinDataBytes
        || int64_t(clip.streamLength()) * blockAlign > clip.bufferSize()
        || clip.endPosition() < clip.bufferSize() / blockAlign || clip.format().size() < 16)
        std::abort();
    for (int64_t i = int64_t(clip.streamLength()) * blockAlign; i < clip.bufferSize(); ++i)
        if (clip.samples()[i] != clip.silenceByte())
            std::abort();

    // Queries touch the whole buffer and a little past it.
    const int32_t frames = clip.bufferSize() / blockAlign;
    for (int channel = -1; channel <= 2; ++channel)
        for (int32_t frame : {0, 1, clip.streamLength() - 1, clip.streamLength(), frames - 1, frames,
                              frames + 1, clip.endPosition(), -1})
            (void)clip.sampleAt(channel, frame);
    const int32_t spp = std::max(frames / 64, 1);
    const int32_t step = std::max(spp / 100, 1);
    // Rows over the buffer and a few past it; the end may lie far beyond when the video is long.
    const int32_t stop = int32_t(std::min<int64_t>(clip.endPosition(), int64_t(frames) + 4 * spp));
    for (int32_t p = 0; p < stop; p += spp)
        for (int channel = 0; channel < clip.channels(); ++channel)
            (void)clip.rowEnvelope(p, spp, step, stop, 400, channel);

    for (int32_t divisor : {2, 4, 1})
        clip.setSpeed(divisor);
    (void)clip.msToSampleFrames(readInt32(data, size, 5));
    (void)clip.sampleFramesToMs(readInt32(data, size, 9));
    clip.setVideoLength(readInt32(data, size, 13));
    clip.unload();
    return 0;
}
