// Tests of AudioClip: what loads and what is refused, the sample buffer, time conversions,
// the time line's end and the row envelope.
#include "audio/audioclip.h"
#include "support/datatable.h"
#include "support/tempdir.h"
#include "support/wavfile.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace vorn {
namespace {

using test::WavLayout;
using test::indexData;
using test::wavBytes;

class AudioClipTest : public ::testing::Test {
protected:
    std::filesystem::path write(const std::vector<uint8_t> &bytes, const std::string &name = "song.wav")
    {
        const auto path = m_dir.path() / name;
        test::writeFile(path, bytes);
        return path;
    }

    bool load(AudioClip &clip, const std::vector<uint8_t> &bytes)
    {
        clip.setPath(write(bytes));
        return clip.load();
    }

    test::TempDir m_dir;
};

TEST_F(AudioClipTest, SmallestSongIs131072BytesLoadsOnceAndUnloads)
{
    AudioClip clip;
    ASSERT_TRUE(load(clip, wavBytes({}, indexData(131072, 16))));
    EXPECT_EQ(clip.streamLength(), 32768);
    EXPECT_EQ(clip.bufferSize(), 131072);
    EXPECT_FALSE(clip.load());
    EXPECT_EQ(clip.sampleAt(1, 5), 11);
    clip.unload();
    EXPECT_FALSE(clip.isLoaded());
    EXPECT_EQ(clip.samples(), nullptr);
    EXPECT_EQ(clip.sampleAt(1, 5), 0);
    EXPECT_TRUE(clip.format().empty());
}

// The rows of data/songs.tsv, an empty file, a scenario's text, and every truncated prefix of a
// good file.
TEST_F(AudioClipTest, LoadsOnlyPlayableSongs)
{
    for (const test::Row &row : test::readTable("tests/audio/data/songs.tsv")) {
        auto field = [&](size_t i) { return row[i] == "-" ? std::nullopt : std::optional(uint32_t(std::stoul(row[i]))); };
        const WavLayout layout{.channels = uint16_t(*field(1)), .samplesPerSec = *field(2),
                               .bitsPerSample = uint16_t(*field(3)), .avgBytesPerSec = field(4),
                               .declaredDataBytes = field(5)};
        AudioClip clip;
        const bool loads = row[7] == "loads";
        EXPECT_EQ(load(clip, wavBytes(layout, indexData(*field(6), layout.bitsPerSample))), loads) << row[0];
        EXPECT_EQ(clip.isLoaded(), loads) << row[0];
        EXPECT_EQ(clip.bufferSize() > 0, loads) << row[0];
    }
    const std::string text = "SCREEN 640, 480\r\nMAIN\r\n";
    std::vector<uint8_t> scenario(text.begin(), text.end());
    scenario.resize(200000, ' ');
    const auto whole = wavBytes({}, indexData(131072 + 4000, 16));
    std::vector<std::vector<uint8_t>> refused{scenario, std::vector<uint8_t>(whole.begin(), whole.end() - 1)};
    for (size_t n = 0; n < whole.size(); n += n < 200 ? 1 : 997)
        refused.emplace_back(whole.begin(), whole.begin() + long(n));
    for (const auto &bytes : refused) {
        AudioClip clip;
        EXPECT_FALSE(load(clip, bytes)) << bytes.size() << " bytes";
        EXPECT_EQ(clip.bufferSize(), 0) << bytes.size() << " bytes";
    }
}

TEST_F(AudioClipTest, RefusesPathsAndCodingsThatAreNoSong)
{
    // A FIFO with no writer must not block the load.
    const auto fifo = m_dir.path() / "fifo.wav";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const auto &path : {m_dir.path() / "no such file.wav", m_dir.path(), fifo}) {
        AudioClip clip;
        clip.setPath(path);
        EXPECT_FALSE(clip.load()) << path;
    }
    // Containers and codings written by libsndfile's own writer.
    const struct { const char *name; int format; bool loads; } codings[] = {
        {"song.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, false},
        // 8-bit A-law would be handed to the device as if it were linear PCM.
        {"alaw.wav", SF_FORMAT_WAV | SF_FORMAT_ALAW, false},
        // Big-endian RIFX stores its samples the wrong way round for the device.
        {"rifx.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16 | SF_ENDIAN_BIG, false},
        {"riff.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, true},
    };
    for (const auto &c : codings) {
        const auto path = m_dir.path() / c.name;
        SF_INFO info{0, 44100, 2, c.format, 0, 0};
        SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
        const std::vector<short> samples(200000, 1000);
        sf_write_short(file, samples.data(), sf_count_t(samples.size()));
        sf_close(file);
        AudioClip clip;
        clip.setPath(path);
        EXPECT_EQ(clip.load(), c.loads) << c.name;
        EXPECT_EQ(clip.sampleAt(1, 99999), c.loads ? 1000 : 0) << c.name;
    }
}

TEST_F(AudioClipTest, BufferRoundsUpTo64KiBOfSilence)
{
    AudioClip clip;
    ASSERT_TRUE(load(clip, wavBytes({}, indexData(200000, 16))));
    EXPECT_EQ(clip.streamLength(), 50000);
    EXPECT_EQ(clip.bufferSize(), 262144);
    // Every sample of the data reads back as its index: no seam, no offset.
    for (int32_t frame = 0; frame < 50000; ++frame) {
        ASSERT_EQ(clip.sampleAt(0, frame), int16_t(uint16_t(2 * frame))) << frame;
        ASSERT_EQ(clip.sampleAt(1, frame), int16_t(uint16_t(2 * frame + 1))) << frame;
    }
    for (int32_t offset = 200000; offset < 262144; ++offset)
        ASSERT_EQ(clip.samples()[offset], 0) << offset;
    // Past the data, past the buffer and out-of-range arguments read nothing rather than
    // memory outside the buffer; a channel past the last is the next frame's first.
    const std::tuple<int, int32_t, int32_t> reads[] = {{0, 50000, 0}, {1, 65535, 0}, {0, 65536, 0},
                                                       {0, INT32_MAX, 0}, {0, -1, 0}, {-1, 0, 0},
                                                       {2, 1000, 2002}};
    for (const auto &[channel, frame, value] : reads)
        EXPECT_EQ(clip.sampleAt(channel, frame), value) << channel << ", " << frame;
}

TEST_F(AudioClipTest, EightBitSamplesAreUnsignedAndPadWith128)
{
    AudioClip clip;
    ASSERT_TRUE(load(clip, wavBytes({.channels = 1, .samplesPerSec = 22050, .bitsPerSample = 8},
                                    indexData(140000, 8))));
    EXPECT_EQ(clip.blockAlign(), 1);
    EXPECT_EQ(clip.bufferSize(), 196608);
    EXPECT_EQ(clip.silenceByte(), 128);
    const std::pair<int32_t, int32_t> reads[] = {{0, -32768},  {128, 0},    {255, 32512}, {256 + 7, (7 - 128) * 256},
                                                 {140000, 0}, {196607, 0}, {196608, 0}};
    for (const auto &[frame, value] : reads)
        EXPECT_EQ(clip.sampleAt(0, frame), value) << frame;
}

TEST_F(AudioClipTest, MillisecondsAndFramesAtEverySpeedSaturate)
{
    AudioClip clip;
    ASSERT_TRUE(load(clip, wavBytes({}, indexData(176400 * 2, 16))));
    EXPECT_EQ(clip.lengthMs(), 2000);
    EXPECT_EQ(clip.speedDivisor(), 1);
    EXPECT_EQ(clip.deviceFormat(), clip.format());
    // Out of range, the times saturate. A negative time is read as unsigned: 4,294,967,295 ms
    // is past every int32 frame; frames x blockAlign likewise: -1 x 4 is 4,294,967,292 bytes.
    const std::pair<int32_t, int32_t> msToFrames[] = {{1000, 44100}, {1, 44}, {10, 441}, {0, 0},
                                                      {-1, INT32_MAX}, {INT32_MIN, INT32_MAX},
                                                      {INT32_MAX, INT32_MAX}};
    const std::pair<int32_t, int32_t> framesToMs[] = {{22050, 500}, {22, 0}, {23, 1}, {-1, 24347887},
                                                      {INT32_MAX / 4, 12173944}};
    for (int32_t divisor : {1, 2, 4, 3}) {
        SCOPED_TRACE(divisor);
        clip.setSpeed(divisor);  // 3 is refused and keeps quarter speed
        // The device's rates follow the speed; the song's own stay.
        const uint32_t device = divisor == 3 ? 4 : divisor;
        EXPECT_EQ(std::tuple(clip.speedDivisor(), clip.deviceSamplesPerSec(), clip.deviceAvgBytesPerSec()),
                  std::tuple(int32_t(device), 44100u / device, 176400u / device));
        EXPECT_EQ(std::tuple(clip.samplesPerSec(), clip.avgBytesPerSec(), clip.blockAlign()), std::tuple(44100u, 176400u, 4));
        for (const auto &[ms, frames] : msToFrames)
            EXPECT_EQ(clip.msToSampleFrames(ms), frames) << ms << " ms";
        for (const auto &[frames, ms] : framesToMs)
            EXPECT_EQ(clip.sampleFramesToMs(frames), ms) << frames << " frames";
    }
    // Without a song there is no rate to convert with.
    AudioClip empty;
    EXPECT_EQ(empty.msToSampleFrames(1000), 0);
    EXPECT_EQ(empty.sampleFramesToMs(1000), 0);
}

TEST_F(AudioClipTest, EndPositionCoversTheVideoAndIsNeverLowered)
{
    // A 60-second song: 8 kHz 16-bit mono, 960,000 bytes in a buffer of 983,040 (491,520
    // frames); a video runs on for two seconds past its end.
    const auto song = wavBytes({.channels = 1, .samplesPerSec = 8000}, indexData(960000, 16));
    const std::pair<int32_t, int32_t> cases[] = {{-1, 491520}, {30000, 491520}, {90000, 735992}};
    for (const auto &[videoMs, end] : cases) {
        AudioClip clip;
        if (videoMs >= 0)
            clip.setVideoLength(videoMs);
        ASSERT_TRUE(load(clip, song));
        EXPECT_EQ(clip.lengthMs(), 60000);
        EXPECT_EQ(clip.endPosition(), end) << videoMs;
        // Changing the scenario afterwards raises the end, never lowers it.
        clip.setVideoLength(90000);
        EXPECT_EQ(clip.endPosition(), 735992);
        EXPECT_EQ(clip.endPosition(), clip.msToSampleFrames(91999));
        clip.setVideoLength(30000);
        EXPECT_EQ(clip.videoLengthMs(), 30000);
        EXPECT_EQ(clip.endPosition(), 735992);
    }
    // Before a song is loaded there is no format to convert with.
    AudioClip unloaded;
    unloaded.setVideoLength(90000);
    EXPECT_EQ(unloaded.endPosition(), 0);
}

// The rows of data/envelopes.tsv.
TEST_F(AudioClipTest, RowEnvelope)
{
    AudioClip index;
    ASSERT_TRUE(load(index, wavBytes({.channels = 1}, indexData(200000, 16))));
    std::vector<uint8_t> data(140000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = i % 2 == 0 ? 255 : 0;
    AudioClip steady;
    ASSERT_TRUE(load(steady, wavBytes({.bitsPerSample = 8}, data)));
    for (const test::Row &row : test::readTable("tests/audio/data/envelopes.tsv")) {
        std::vector<int32_t> v;
        for (size_t i = 2; i < row.size(); ++i)
            v.push_back(int32_t(std::stol(row[i])));
        const auto e = (row[1] == "index" ? index : steady).rowEnvelope(v[0], v[1], v[2], v[3], v[4], v[5]);
        EXPECT_EQ(std::make_pair(e.positive, e.negative), std::make_pair(v[6], v[7])) << row[0];
    }
    EXPECT_EQ(index.endPosition(), 131072);
    EXPECT_EQ(steady.endPosition(), 98304);
}

TEST_F(AudioClipTest, ExtensibleFormatKeepsAll40Bytes)
{
    const WavLayout layout{.extensible = true};
    AudioClip clip;
    ASSERT_TRUE(load(clip, wavBytes(layout, indexData(176400, 16))));
    EXPECT_EQ(clip.format(), test::formatChunk(layout));
    // At half speed only the two rates change in the device's copy.
    clip.setSpeed(2);
    EXPECT_EQ(clip.deviceFormat(), test::formatChunk({.samplesPerSec = 22050, .extensible = true}));
    EXPECT_EQ(clip.sampleAt(1, 1000), 2001);
}

TEST_F(AudioClipTest, FourGiBOfRealDataFailsWithoutAllocating)
{
    // A sparse file that really holds 4 GiB of data: its byte count does not fit an int32.
    const auto path = write(wavBytes({.declaredDataBytes = 0xFFFFFFF0u}, {}), "huge.wav");
    std::error_code error;
    std::filesystem::resize_file(path, 44 + uintmax_t(0xFFFFFFF0u), error);
    if (error)
        GTEST_SKIP() << "no sparse file: " << error.message();
    AudioClip clip;
    clip.setPath(path);
    EXPECT_FALSE(clip.load());
    EXPECT_EQ(clip.bufferSize(), 0);
}

} // namespace
} // namespace vorn
