// aubio's beat tracker as a peer on the same samples as ours, for the accuracy table and benchmark.
#pragma once

#include "audio/audioclip.h"

#include <aubio/aubio.h>

#include <cstdint>
#include <vector>

namespace vorn::test {

// aubio's default tempo tracker (1024-sample window, 512-sample hop) over the clip mixed to
// mono; beats in milliseconds.
inline std::vector<double> aubioBeatsMs(const AudioClip &clip)
{
    const uint_t hop = 512;
    const int channels = clip.channels();
    aubio_tempo_t *tempo = new_aubio_tempo("default", 1024, hop, clip.samplesPerSec());
    fvec_t *in = new_fvec(hop);
    fvec_t *out = new_fvec(1);
    std::vector<double> beats;
    const int32_t frames = clip.streamLength();
    for (int32_t start = 0; start < frames; start += int32_t(hop)) {
        for (uint_t i = 0; i < hop; ++i) {
            const int32_t f = start + int32_t(i);
            double sum = 0;  // sampleAt scales 8-bit samples to 16 bits
            for (int c = 0; c < channels && f < frames; ++c)
                sum += clip.sampleAt(c, f) / 32768.0;
            in->data[i] = smpl_t(sum / channels);
        }
        aubio_tempo_do(tempo, in, out);
        if (out->data[0] != 0)
            beats.push_back(aubio_tempo_get_last_ms(tempo));
    }
    del_fvec(out);
    del_fvec(in);
    del_aubio_tempo(tempo);
    return beats;
}

} // namespace vorn::test
