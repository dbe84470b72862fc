// WAV files built byte by byte for the tests: exact headers, any format field overridden, and
// sample data whose values equal their index so that seams and off-by-ones show.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <vector>

namespace vorn::test {

struct WavLayout {
    uint16_t channels = 2;
    uint32_t samplesPerSec = 44100;
    uint16_t bitsPerSample = 16;
    bool extensible = false;             // a 40-byte WAVE_FORMAT_EXTENSIBLE 'fmt ' chunk
    std::optional<uint32_t> avgBytesPerSec = std::nullopt;    // default: rate × block align
    std::optional<uint32_t> declaredDataBytes = std::nullopt; // default: the data's real size
};

// Little-endian, as RIFF stores numbers.
inline void putU16(std::vector<uint8_t> &out, uint16_t v) { out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8)}); }
inline void putU32(std::vector<uint8_t> &out, uint32_t v) { putU16(out, uint16_t(v)); putU16(out, uint16_t(v >> 16)); }

// A sample in [-1, 1] as the player stores it: unsigned 8-bit or signed 16-bit, clamped.
inline void putSample(std::vector<uint8_t> &out, double v, uint16_t bitsPerSample)
{
    if (bitsPerSample == 8)
        out.push_back(uint8_t(std::clamp(std::lround(128 + v * 127), 0L, 255L)));
    else
        putU16(out, uint16_t(int16_t(std::clamp(std::lround(v * 32767), -32768L, 32767L))));
}

// The 'fmt ' chunk's body, 16 bytes or 40 for the extensible form.
inline std::vector<uint8_t> formatChunk(const WavLayout &layout)
{
    const uint16_t blockAlign = uint16_t(layout.channels * ((layout.bitsPerSample + 7) / 8));
    std::vector<uint8_t> fmt;
    putU16(fmt, layout.extensible ? 0xFFFE : 1);
    putU16(fmt, layout.channels);
    putU32(fmt, layout.samplesPerSec);
    putU32(fmt, layout.avgBytesPerSec.value_or(layout.samplesPerSec * blockAlign));
    putU16(fmt, blockAlign);
    putU16(fmt, layout.bitsPerSample);
    if (layout.extensible) {
        putU16(fmt, 22);                  // cbSize
        putU16(fmt, layout.bitsPerSample);  // valid bits
        putU32(fmt, layout.channels == 1 ? 0x4 : 0x3);
        // KSDATAFORMAT_SUBTYPE_PCM
        fmt.insert(fmt.end(), {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71});
    }
    return fmt;
}

inline std::vector<uint8_t> wavBytes(const WavLayout &layout, const std::vector<uint8_t> &data)
{
    const std::vector<uint8_t> fmt = formatChunk(layout);
    std::vector<uint8_t> out{'R', 'I', 'F', 'F'};
    putU32(out, uint32_t(4 + 8 + fmt.size() + 8 + data.size() + (data.size() & 1)));
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    putU32(out, uint32_t(fmt.size()));
    out.insert(out.end(), fmt.begin(), fmt.end());
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    putU32(out, layout.declaredDataBytes.value_or(uint32_t(data.size())));
    out.insert(out.end(), data.begin(), data.end());
    if (data.size() & 1)
        out.push_back(0);
    return out;
}

// Sample n (counting across channels) holds n: as a 16-bit value that wraps at 65,536, or as
// an 8-bit byte that wraps at 256.
inline std::vector<uint8_t> indexData(size_t bytes, int bitsPerSample)
{
    std::vector<uint8_t> data(bytes);
    for (size_t i = 0; i < bytes; ++i)
        data[i] = bitsPerSample == 16 ? uint8_t(i % 2 == 0 ? (i / 2) : ((i / 2) >> 8)) : uint8_t(i);
    return data;
}

inline void writeFile(const std::filesystem::path &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

// A 16-bit PCM WAV of `frames` sample frames; sample(channel, frame) gives each value, silence
// unless it says otherwise.
inline std::vector<uint8_t> wav16Bytes(uint16_t channels, uint32_t rate, int32_t frames,
                                       const std::function<int16_t(int, int32_t)> &sample =
                                           [](int, int32_t) { return int16_t(0); })
{
    std::vector<uint8_t> data;
    for (int32_t f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c)
            putU16(data, uint16_t(sample(c, f)));
    return wavBytes({.channels = channels, .samplesPerSec = rate}, data);
}

inline void writeWav16(const std::filesystem::path &path, uint16_t channels, uint32_t rate,
                       int32_t frames, const std::function<int16_t(int, int32_t)> &sample)
{
    writeFile(path, wav16Bytes(channels, rate, frames, sample));
}

} // namespace vorn::test
