// Tests of the draft video: the MP4 read back with libavformat and libavcodec (streams, frame
// count, rate, duration, the song's rate), decoded frames against our own render, the song's
// first samples, and what a cancel or a frame that cannot be rendered leaves.
#include "export/videoexport.h"
#include "imaging/imagebuffer.h"
#include "scenario/model/scenario.h"
#include "scenario/reader/loadscenario.h"
#include "support/recordingprompter.h"
#include "support/tempdir.h"
#include "support/wavfile.h"

#include <gtest/gtest.h>

#include <QImage>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <numbers>
#include <string>
#include <tuple>
#include <vector>

namespace vorn {
namespace {

constexpr int32_t Frames = 24;
constexpr int Width = 192;
constexpr int Height = 128;

// A song whose pitch rises all the way (200 Hz up by 1200 Hz a second): any shift of its start
// shows as a lag of the best match.
double chirp(double seconds)
{
    return 0.4 * std::sin(2 * std::numbers::pi * (200 * seconds + 600 * seconds * seconds));
}

// What the file holds, read as a player would.
struct ReadBack {
    std::vector<AVCodecID> codecs;  // one a stream
    int width = 0, height = 0, sampleRate = 0;
    AVRational frameRate{0, 1}, videoTimeBase{0, 1};
    int64_t videoDuration = 0;     // in videoTimeBase
    std::vector<ImagePtr> frames;  // every decoded picture, 24-bit
    std::vector<int32_t> keys;     // the video packets that are key frames, counted from 0
    std::vector<float> audio;      // channel 0, decoded from the start
};

ReadBack readBack(const std::filesystem::path &file)
{
    ReadBack out;
    AVFormatContext *input = nullptr;
    if (avformat_open_input(&input, file.c_str(), nullptr, nullptr) < 0)
        return out;
    avformat_find_stream_info(input, nullptr);
    std::vector<AVCodecContext *> decoders;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream *stream = input->streams[i];
        const AVCodecParameters *p = stream->codecpar;
        out.codecs.push_back(p->codec_id);
        if (p->codec_type == AVMEDIA_TYPE_VIDEO) {
            std::tie(out.width, out.height, out.frameRate, out.videoDuration, out.videoTimeBase) =
                std::tuple(p->width, p->height, stream->avg_frame_rate, stream->duration, stream->time_base);
        } else {
            out.sampleRate = p->sample_rate;
        }
        AVCodecContext *decoder = avcodec_alloc_context3(avcodec_find_decoder(p->codec_id));
        avcodec_parameters_to_context(decoder, p);
        avcodec_open2(decoder, decoder->codec, nullptr);
        decoders.push_back(decoder);
    }
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    const auto drain = [&](AVCodecContext *decoder) {
        while (avcodec_receive_frame(decoder, frame) == 0) {
            if (decoder->codec_type == AVMEDIA_TYPE_VIDEO) {
                ImagePtr picture = CreateImageBuffer(frame->width, frame->height, 24);
                SwsContext *toRgb = sws_getContext(frame->width, frame->height,
                                                   AVPixelFormat(frame->format), frame->width,
                                                   frame->height, AV_PIX_FMT_BGR24, SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT,
                                                   nullptr, nullptr, nullptr);
                uint8_t *planes[4] = {picture->row(0)};
                const int strides[4] = {-picture->stride};
                sws_scale(toRgb, frame->data, frame->linesize, 0, frame->height, planes, strides);
                sws_freeContext(toRgb);
                out.frames.push_back(std::move(picture));
            } else if (frame->format == AV_SAMPLE_FMT_FLTP) {
                const auto *samples = reinterpret_cast<const float *>(frame->data[0]);
                out.audio.insert(out.audio.end(), samples, samples + frame->nb_samples);
            }
            av_frame_unref(frame);
        }
    };
    for (int32_t video = 0; av_read_frame(input, packet) >= 0;) {
        AVCodecContext *decoder = decoders[size_t(packet->stream_index)];
        if (decoder->codec_type == AVMEDIA_TYPE_VIDEO && (packet->flags & AV_PKT_FLAG_KEY))
            out.keys.push_back(video);
        video += decoder->codec_type == AVMEDIA_TYPE_VIDEO;
        avcodec_send_packet(decoder, packet);
        av_packet_unref(packet);
        drain(decoder);
    }
    for (AVCodecContext *decoder : decoders) {
        avcodec_send_packet(decoder, nullptr);
        drain(decoder);
        avcodec_free_context(&decoder);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avformat_close_input(&input);
    return out;
}

// Peak signal to noise ratio of the colour planes, in dB.
double psnr(const ImageBuffer &a, const ImageBuffer &b)
{
    if (a.width != b.width || a.height != b.height)
        return 0;
    double sum = 0;
    for (int32_t y = 0; y < a.height; ++y)
        for (int32_t x = 0; x < a.width * 3; ++x) {
            const double d = double(a.row(y)[x]) - double(b.row(y)[x]);
            sum += d * d;
        }
    const double mse = sum / (double(a.width) * a.height * 3);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

class VideoExportTest : public ::testing::Test {
protected:
    // A box turning a full circle over `frames` frames (so every frame differs from its
    // neighbours), with the chirp as its song when `songRate` is not 0; MAIN can start with
    // `broken` frames of a picture that cannot be decoded.
    std::unique_ptr<Scenario> make(int frameRate, int scale, int songRate, int channels,
                                   int32_t broken = 0, int32_t frames = Frames)
    {
        std::string text = "SCREEN " + std::to_string(Width) + " " + std::to_string(Height) + "\nFRAMERATE " + std::to_string(frameRate) +
                           "\nSCALE " + std::to_string(scale) + "\n";
        if (songRate) {
            text += "AUDIO \"song.wav\"\n";
            test::writeWav16(m_dir.path() / "song.wav", uint16_t(channels), uint32_t(songRate),
                             songRate * 7 / 2, [&](int c, int32_t f) {
                                 return int16_t(std::lround(32767 * chirp(double(f) / songRate) *
                                                            (c == 0 ? 1 : -1)));
                             });
        }
        // Detail in brightness, gentle colour, as photographs have: 4:2:0 video keeps the one at
        // full size and halves the other, which would blur a saturated edge.
        QImage picture(Width, Height, QImage::Format_RGB888);
        for (int y = 0; y < Height; ++y)
            for (int x = 0; x < Width; ++x) {
                const int luma = int(120 + 80 * std::sin(x / 10.0) * std::cos(y / 12.0));
                picture.setPixel(x, y, qRgb(luma + 40 * x / Width, luma, luma + 40 * y / Height));
            }
        EXPECT_TRUE(picture.save(QString::fromStdString((m_dir.path() / "picture.png").string())));
        text += "IMAGE \"picture\" { FILE \"picture.png\" }\n"
                "ROTATE \"turn\" { INPUT \"picture\" ANGLE 0 360 FRAMES " +
                std::to_string(frames) + " }\n";
        if (broken != 0) {
            // A picture that reads at the check and is spoilt before it is rendered.
            EXPECT_TRUE(picture.save(QString::fromStdString((m_dir.path() / "broken.jpg").string()), "JPG"));
            text += "IMAGE \"broken\" { FILE \"broken.jpg\" }\nSTILL \"gone\" { INPUT \"broken\" FRAMES " +
                    std::to_string(broken) + " }\n";
        }
        text += broken > 0 ? "MAIN { INPUT \"gone\" INPUT \"turn\" }\n" : "MAIN { INPUT \"turn\" }\n";
        const auto file = m_dir.write("video.txt", text);
        auto scenario = loadLinkedScenario(file, m_prompter);
        EXPECT_TRUE(scenario) << m_prompter.lastError();
        if (broken != 0)
            m_dir.write("broken.jpg", "not a picture");
        return scenario;
    }

    std::filesystem::path out() const { return m_dir.path() / "out.mp4"; }

    test::TempDir m_dir;
    test::RecordingPrompter m_prompter;
};

struct Case {
    const char *name;
    int frameRate, scale;
    int songRate, channels;  // 0: no song
    VideoExportOptions options;
    AVRational rate;         // frames per second as written
    int audioRate;           // 0: no audio stream
    int32_t frames = Frames;
    std::vector<int32_t> keys = {};  // key frames when given: every two seconds, at most 600 apart
};

void PrintTo(const Case &c, std::ostream *os)
{
    *os << c.name;
}

class VideoExportCases : public VideoExportTest, public ::testing::WithParamInterface<Case> {};

TEST_P(VideoExportCases, ReadsBackAsExported)
{
    const Case &c = GetParam();
    auto scenario = make(c.frameRate, c.scale, c.songRate, c.channels, 0, c.frames);
    ASSERT_TRUE(scenario);
    VideoExportOptions options = c.options;
    options.threads = 3;  // more than the cores: the order must still hold
    const VideoExportResult result = exportVideo(*scenario, out(), options);
    ASSERT_EQ(result.status, VideoExportStatus::Written);
    EXPECT_TRUE(result.messages.empty()) << result.messages.front();
    EXPECT_EQ(scenario->prompter, &m_prompter);

    const int32_t first = options.firstFrame;
    const int32_t count = (options.lastFrame < 0 ? c.frames - 1 : options.lastFrame) - first + 1;
    const ReadBack file = readBack(out());
    const bool song = c.audioRate != 0;
    std::vector<AVCodecID> codecs{AV_CODEC_ID_H264};
    if (song)
        codecs.push_back(AV_CODEC_ID_AAC);
    EXPECT_EQ(file.codecs, codecs);
    EXPECT_EQ(file.width, options.width ? options.width : Width);
    EXPECT_EQ(file.height, options.height ? options.height : Height);
    EXPECT_EQ(av_cmp_q(file.frameRate, c.rate), 0)
        << file.frameRate.num << "/" << file.frameRate.den;
    // count × scale ÷ frameRate seconds, exactly.
    EXPECT_EQ(int64_t(file.videoDuration) * file.videoTimeBase.num * c.frameRate,
              int64_t(count) * c.scale * file.videoTimeBase.den);
    ASSERT_EQ(int32_t(file.frames.size()), count);
    if (!c.keys.empty())
        EXPECT_EQ(file.keys, c.keys);
    EXPECT_EQ(file.sampleRate, c.audioRate);

    if (!options.width) {
        for (const int32_t k : {0, count / 2, count - 1}) {
            ImageBuffer *rendered = scenario->render(first + k);
            ASSERT_TRUE(rendered);
            EXPECT_GE(psnr(*file.frames[size_t(k)], *rendered), 35.0) << "frame " << k;
            // The neighbour, turned 15 degrees away, must not pass for it.
            const int32_t neighbour = first + k + (first + k == 0 ? 1 : -1);
            ImageBuffer *other = scenario->render(neighbour);
            EXPECT_LT(psnr(*file.frames[size_t(k)], *other), 30.0) << "frame " << k;
            scenario->release(other, neighbour);
            scenario->release(rendered, first + k);
        }
    }
    if (song) {
        // The first decoded samples are the song's from the first frame's time: the best match
        // over a span of lags is at lag 0 once the encoder's delay is skipped.
        const double start = double(first) * c.scale / c.frameRate;
        const size_t span = 4096;
        ASSERT_GT(file.audio.size(), span);
        int bestLag = 0;
        double best = -1;
        for (int lag = -600; lag <= 600; ++lag) {
            double sum = 0;
            for (size_t i = 0; i < span; ++i)
                sum += file.audio[i] * chirp(start + (double(i) + lag) / c.audioRate);
            if (sum > best) {
                best = sum;
                bestLag = lag;
            }
        }
        EXPECT_EQ(bestLag, 0);
        // As long as the video, and less than an AAC frame longer: the song's last samples too.
        const int64_t videoSamples = int64_t(count) * c.scale * c.audioRate / c.frameRate;
        EXPECT_GE(int64_t(file.audio.size()), videoSamples);
        EXPECT_LT(int64_t(file.audio.size()), videoSamples + 1024);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rates, VideoExportCases,
    ::testing::Values(
        Case{"ntsc", 30000, 1001, 44100, 2, {}, {30000, 1001}, 44100},
        Case{"exact2997", 2997, 100, 22050, 1, {}, {2997, 100}, 22050},
        // A song at a rate AAC does not take is resampled to 48 kHz.
        Case{"pal_range", 25, 1, 37800, 2, {0, 0, 5, 16, 0}, {25, 1}, 48000},
        Case{"silent_scaled", 60, 2, 0, 0, {48, 32, 0, -1, 0}, {30, 1}, 0},
        Case{"kilo", 1000, 1, 0, 0, {96, 64, 0, -1, 0}, {1000, 1}, 0, 602, {0, 600}}),
    [](const auto &info) { return std::string(info.param.name); });

// A cancel half way leaves no new file and an old one whole; so does a range that is refused.
TEST_F(VideoExportTest, CancelAndRefusalLeaveNothing)
{
    auto scenario = make(30, 1, 44100, 2);
    ASSERT_TRUE(scenario);
    m_dir.write("out.mp4", "an older video");
    std::atomic<bool> cancel{false};
    int32_t seen = 0;
    VideoExportControl control;
    control.cancel = &cancel;
    control.progress = [&](int32_t done, int32_t total) {
        seen = done;
        EXPECT_EQ(total, Frames);
        if (done == Frames / 2)
            cancel = true;
    };
    VideoExportResult result = exportVideo(*scenario, out(), {}, control);
    EXPECT_EQ(result.status, VideoExportStatus::Cancelled);
    EXPECT_TRUE(result.messages.empty());
    EXPECT_EQ(seen, Frames / 2);
    EXPECT_EQ(m_dir.read("out.mp4"), "an older video");

    // Refused settings: the reason alone, and the old file kept.
    const struct {
        std::function<void(Scenario &, VideoExportOptions &)> set;
        const char *message;
    } refusals[] = {
        {[](Scenario &, VideoExportOptions &o) { o.lastFrame = Frames; }, "フレーム 24 はシナリオの範囲 (0 - 23) の外にあります。"},
        {[](Scenario &, VideoExportOptions &o) { o.firstFrame = 5; o.lastFrame = 4; }, "書き出す範囲が正しくありません (5 - 4)。"},
        {[](Scenario &s, VideoExportOptions &) { s.scale = 0; }, "フレームレートが正しくありません (30 / 0)。"},
        {[](Scenario &s, VideoExportOptions &) { s.frameRate = 0; }, "フレームレートが正しくありません (0 / 1)。"},
        {[](Scenario &, VideoExportOptions &o) { o.width = 34; o.height = 33; },
         "動画のサイズ 34x33 は使えません (幅と高さは 2 から 8192 までの偶数)。"},
    };
    for (const auto &r : refusals) {
        auto refused = make(30, 1, 0, 0);
        VideoExportOptions options;
        r.set(*refused, options);
        result = exportVideo(*refused, out(), options);
        EXPECT_EQ(result.status, VideoExportStatus::Failed);
        EXPECT_EQ(result.messages, std::vector<std::string>{r.message});
        EXPECT_EQ(m_dir.read("out.mp4"), "an older video");
    }
}

// Frames whose picture cannot be made (here the first six) are written black and reported
// once, by the first one's number, beside the render's own message; the video is still whole.
TEST_F(VideoExportTest, FramesThatFailAreBlackAndReportedOnce)
{
    auto scenario = make(30, 1, 0, 0, 6);
    ASSERT_TRUE(scenario);
    const VideoExportResult result = exportVideo(*scenario, out(), {});
    ASSERT_EQ(result.status, VideoExportStatus::Written);
    EXPECT_EQ(result.blackFrames, 6);
    ASSERT_FALSE(result.messages.empty());
    EXPECT_EQ(result.messages.front(),
              "フレーム 0 の画像の作成に失敗しました。黒で書き出しました。（ほかに 5 フレーム）");
    const ReadBack file = readBack(out());
    ASSERT_EQ(file.frames.size(), size_t(Frames + 6));
    const ImagePtr black = CreateImageBuffer(Width, Height, 24);
    EXPECT_GE(psnr(*file.frames.front(), *black), 35.0);
    EXPECT_LT(psnr(*file.frames.back(), *black), 20.0);
}

} // namespace
} // namespace vorn
