// Draft video export: render workers, an in-order H.264 encoder, the song through AAC, and an MP4
// muxer writing into a temporary file that is renamed over the target when whole.
#include "export/videoexport.h"

#include "audio/audioclip.h"
#include "base/atomicfile.h"
#include "base/prompter.h"
#include "base/scenariopath.h"
#include "imaging/imagebuffer.h"
#include "scenario/model/scenario.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace vorn {

namespace {

const char VideoEncoderName[] = "libx264";
const char AudioEncoderName[] = "aac";
const char SongFailedMessage[] = "オーディオ処理の初期化に失敗しました。";

std::string textf(const char *pattern, auto... values)
{
    char text[512];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

std::string reasonOf(int error)
{
    return error != 0 ? std::generic_category().message(error) : std::string("not a writable file");
}

struct FrameFree {
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
struct PacketFree {
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
struct CodecFree {
    void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
};
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFree>;
struct SwsFree {
    void operator()(SwsContext *context) const { sws_freeContext(context); }
};
struct SwrFree {
    void operator()(SwrContext *context) const { swr_free(&context); }
};
struct FifoFree {
    void operator()(AVAudioFifo *fifo) const { av_audio_fifo_free(fifo); }
};

// The muxer's output: the temporary file's descriptor, written and seeked directly (the muxer
// patches sizes behind itself), with the first error remembered for the message.
struct FileSink {
    int fd = -1;
    int error = 0;
};

int writeToFile(void *opaque, uint8_t *bytes, int size)
{
    auto *sink = static_cast<FileSink *>(opaque);
    int done = 0;
    while (done < size) {
        const ssize_t n = ::write(sink->fd, bytes + done, size_t(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            sink->error = n < 0 ? errno : ENOSPC;
            return AVERROR(sink->error);
        }
        done += int(n);
    }
    return size;
}

int64_t seekInFile(void *opaque, int64_t offset, int whence)
{
    auto *sink = static_cast<FileSink *>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat info {};
        return ::fstat(sink->fd, &info) == 0 ? int64_t(info.st_size) : AVERROR(errno);
    }
    const off_t at = ::lseek(sink->fd, off_t(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : int64_t(at);
}

struct OutputFree {
    void operator()(AVFormatContext *context) const
    {
        if (!context)
            return;
        if (context->pb) {
            av_freep(&context->pb->buffer);
            avio_context_free(&context->pb);
        }
        avformat_free_context(context);
    }
};
using OutputPtr = std::unique_ptr<AVFormatContext, OutputFree>;

// Holds what the render reports while several threads render at once; each text once.
class CollectingPrompter final : public Prompter {
public:
    void showError(std::string_view text) override
    {
        const std::lock_guard guard(m_mutex);
        if (m_seen.insert(std::string(text)).second)
            m_messages.emplace_back(text);
    }
    bool askYesNo(std::string_view) override { return false; }
    std::vector<std::string> take()
    {
        const std::lock_guard guard(m_mutex);
        return std::move(m_messages);
    }

private:
    std::mutex m_mutex;
    std::set<std::string> m_seen;
    std::vector<std::string> m_messages;
};

// Puts the scenario's own prompter back however the export ends.
class PrompterSwap {
public:
    PrompterSwap(Scenario &scenario, Prompter *replacement)
        : m_scenario(scenario), m_original(scenario.prompter)
    {
        scenario.prompter = replacement;
    }
    ~PrompterSwap() { m_scenario.prompter = m_original; }
    PrompterSwap(const PrompterSwap &) = delete;
    PrompterSwap &operator=(const PrompterSwap &) = delete;

private:
    Scenario &m_scenario;
    Prompter *m_original;
};

// One converted picture waiting for its turn at the encoder.
struct ReadyFrame {
    FramePtr frame;
    bool failed = false;
};

// Frames rendered ahead of the encoder on the worker threads. The window caps how far the
// workers may run ahead, so memory stays the same whatever the video's length.
class FramePipeline {
public:
    FramePipeline(Scenario &scenario, int32_t first, int32_t count, int width, int height,
                  int threads)
        : m_scenario(scenario), m_first(first), m_count(count), m_width(width), m_height(height),
          m_window(2 * threads + 2)
    {
        for (int i = 0; i < threads; ++i) {
            try {
                m_workers.emplace_back([this] { work(); });
            } catch (const std::system_error &) {
                break;  // fewer threads than asked; at least the caller's check below
            }
        }
    }
    ~FramePipeline() { stop(); }
    FramePipeline(const FramePipeline &) = delete;
    FramePipeline &operator=(const FramePipeline &) = delete;

    bool started() const { return !m_workers.empty(); }

    // Frame `index` (0-based within the range), waiting for it; none once stopped.
    std::optional<ReadyFrame> take(int32_t index)
    {
        std::unique_lock lock(m_mutex);
        m_readyChanged.wait(lock, [&] { return m_stopping || m_ready.count(index) != 0; });
        if (m_stopping)
            return std::nullopt;
        auto node = m_ready.extract(index);
        m_taken = index + 1;
        lock.unlock();
        m_spaceChanged.notify_all();
        return std::move(node.mapped());
    }

    void stop()
    {
        {
            const std::lock_guard guard(m_mutex);
            m_stopping = true;
        }
        m_spaceChanged.notify_all();
        m_readyChanged.notify_all();
        for (auto &worker : m_workers)
            worker.join();
        m_workers.clear();
        m_ready.clear();
    }

private:
    void work()
    {
        std::unique_ptr<SwsContext, SwsFree> scaler;
        for (;;) {
            int32_t index = 0;
            {
                std::unique_lock lock(m_mutex);
                m_spaceChanged.wait(lock, [&] {
                    return m_stopping || m_next >= m_count || m_next - m_taken < m_window;
                });
                if (m_stopping || m_next >= m_count)
                    return;
                index = m_next++;
            }
            ReadyFrame ready = renderFrame(m_first + index, scaler);
            {
                const std::lock_guard guard(m_mutex);
                m_ready.emplace(index, std::move(ready));
            }
            m_readyChanged.notify_all();
        }
    }

    ReadyFrame renderFrame(int32_t frame, std::unique_ptr<SwsContext, SwsFree> &scaler)
    {
        ReadyFrame ready;
        ready.frame.reset(av_frame_alloc());
        if (ready.frame) {
            ready.frame->format = AV_PIX_FMT_YUV420P;
            ready.frame->width = m_width;
            ready.frame->height = m_height;
            if (av_frame_get_buffer(ready.frame.get(), 0) < 0)
                ready.frame.reset();
        }
        ImageBuffer *picture = m_scenario.render(frame);
        ready.failed = !picture || !ready.frame || !convert(*picture, *ready.frame, scaler);
        if (picture)
            m_scenario.release(picture, frame);
        if (ready.failed && ready.frame)
            paintBlack(*ready.frame);
        return ready;
    }

    // The picture's colour (the preview ignores alpha too) into 4:2:0 at the video's size. The
    // engine's rows are bottom-up: the top row is handed over with a negative stride. Chroma is
    // filtered from every input pixel and rounded exactly: the plain path loses several dB on
    // coloured detail.
    bool convert(const ImageBuffer &picture, AVFrame &frame,
                 std::unique_ptr<SwsContext, SwsFree> &scaler) const
    {
        AVPixelFormat source = AV_PIX_FMT_NONE;
        if (picture.bitCount == 24)
            source = AV_PIX_FMT_BGR24;
        else if (picture.bitCount == 32)
            source = AV_PIX_FMT_BGR0;
        if (source == AV_PIX_FMT_NONE || picture.width <= 0 || picture.height <= 0 ||
            !picture.pixels)
            return false;
        SwsContext *context = sws_getCachedContext(
            scaler.release(), picture.width, picture.height, source, m_width, m_height,
            AV_PIX_FMT_YUV420P, SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, nullptr,
            nullptr, nullptr);
        scaler.reset(context);
        if (!context)
            return false;
        const uint8_t *planes[4] = {picture.row(0), nullptr, nullptr, nullptr};
        const int strides[4] = {-picture.stride, 0, 0, 0};
        return sws_scale(context, planes, strides, 0, picture.height, frame.data,
                         frame.linesize) == m_height;
    }

    static void paintBlack(AVFrame &frame)
    {
        // Video black: luma 16, chroma at its middle.
        for (int plane = 0; plane < 3; ++plane) {
            const int rows = plane == 0 ? frame.height : (frame.height + 1) / 2;
            std::memset(frame.data[plane], plane == 0 ? 16 : 128,
                        size_t(frame.linesize[plane]) * size_t(rows));
        }
    }

    Scenario &m_scenario;
    const int32_t m_first;
    const int32_t m_count;
    const int m_width;
    const int m_height;
    const int32_t m_window;
    std::mutex m_mutex;
    std::condition_variable m_readyChanged;
    std::condition_variable m_spaceChanged;
    std::map<int32_t, ReadyFrame> m_ready;
    int32_t m_next = 0;   // next frame index a worker takes
    int32_t m_taken = 0;  // frames the encoder has taken
    bool m_stopping = false;
    std::vector<std::thread> m_workers;
};

// The AAC rates; a song at another rate is resampled to 48 kHz.
int aacRate(const AVCodec &codec, int songRate)
{
    if (codec.supported_samplerates)
        for (const int *rate = codec.supported_samplerates; *rate; ++rate)
            if (*rate == songRate)
                return songRate;
    return 48000;
}

// Everything one export holds; the function below drives it.
class Exporter {
public:
    Exporter(Scenario &scenario, const VideoExportControl &control)
        : m_scenario(scenario), m_control(control)
    {
    }

    VideoExportResult run(const std::filesystem::path &output, const VideoExportOptions &options);

private:
    bool fail(std::string message)
    {
        m_result.status = VideoExportStatus::Failed;
        m_result.messages.push_back(std::move(message));
        return false;
    }
    bool cancelled() const { return m_control.cancel && m_control.cancel->load(); }
    bool checkRange(const VideoExportOptions &options);
    bool loadSong();
    bool openOutput(const std::filesystem::path &output);
    bool addVideo();
    bool addAudio();
    bool writePackets(AVCodecContext &codec, AVStream &stream);
    bool encodeVideo(AVFrame *frame);
    bool encodeAudio(int64_t untilSample, bool last);
    bool sendAudio(int samples);
    bool writeFailed(int code);

    Scenario &m_scenario;
    const VideoExportControl &m_control;
    VideoExportResult m_result;

    int32_t m_first = 0;
    int32_t m_count = 0;
    int m_width = 0;
    int m_height = 0;
    int m_threads = 1;
    AVRational m_timeBase{1, 30};

    AudioClip m_song;
    bool m_hasSong = false;

    std::filesystem::path m_outputPath;
    AtomicFile m_file;
    FileSink m_sink;
    OutputPtr m_output;
    CodecPtr m_video;
    AVStream *m_videoStream = nullptr;
    CodecPtr m_audio;
    AVStream *m_audioStream = nullptr;
    PacketPtr m_packet;

    std::unique_ptr<SwrContext, SwrFree> m_resampler;
    std::unique_ptr<AVAudioFifo, FifoFree> m_fifo;
    int64_t m_songStart = 0;     // first sample frame of the song that is used
    int64_t m_songRead = 0;      // sample frames of the song given to the resampler
    int64_t m_songEnd = 0;       // one past the last song sample frame that is used
    int64_t m_audioTotal = 0;    // samples of the audio track, at its own rate
    int64_t m_audioSent = 0;     // samples given to the encoder
    bool m_resamplerFlushed = false;
};

bool Exporter::checkRange(const VideoExportOptions &options)
{
    const Scenario &s = m_scenario;
    if (s.frameRate <= 0 || s.scale <= 0)
        return fail(textf("フレームレートが正しくありません (%d / %d)。", s.frameRate, s.scale));
    if (s.totalFrames <= 0)
        return fail("書き出すフレームがありません。");
    const int32_t last = options.lastFrame < 0 ? s.totalFrames - 1 : options.lastFrame;
    for (const int32_t frame : {options.firstFrame, last})
        if (frame < 0 || frame >= s.totalFrames)
            return fail(textf("フレーム %d はシナリオの範囲 (0 - %d) の外にあります。", frame,
                               s.totalFrames - 1));
    if (last < options.firstFrame)
        return fail(textf("書き出す範囲が正しくありません (%d - %d)。", options.firstFrame, last));
    m_first = options.firstFrame;
    m_count = last - options.firstFrame + 1;

    if (options.width == 0 && options.height == 0) {
        m_width = s.screenWidth & ~1;
        m_height = s.screenHeight & ~1;
    } else {
        m_width = options.width;
        m_height = options.height;
    }
    if (m_width < 2 || m_height < 2 || m_width > MaxVideoSide || m_height > MaxVideoSide ||
        (m_width & 1) || (m_height & 1))
        return fail(textf("動画のサイズ %dx%d は使えません (幅と高さは 2 から %d までの偶数)。",
                           m_width, m_height, MaxVideoSide));

    m_threads = options.threads > 0 ? options.threads : int(std::thread::hardware_concurrency());
    m_threads = std::clamp(m_threads, 1, MaxVideoThreads);
    // Frame n is at n × scale ÷ frameRate seconds: the time base is that fraction, reduced, so
    // 30000/1001 stays exact.
    av_reduce(&m_timeBase.num, &m_timeBase.den, s.scale, s.frameRate, INT_MAX);
    return true;
}

bool Exporter::loadSong()
{
    if (!m_scenario.audio)
        return true;
    const auto path = resolveScenarioName(*m_scenario.audio, {});
    if (!path)
        return fail(SongFailedMessage);
    m_song.setPath(*path);
    if (!m_song.load())
        return fail(SongFailedMessage);
    m_hasSong = true;
    return true;
}

bool Exporter::writeFailed(int code)
{
    const int error = m_sink.error != 0 ? m_sink.error : 0;
    std::string reason = error != 0 ? reasonOf(error) : std::string();
    if (reason.empty()) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(code, text, sizeof text);
        reason = text;
    }
    return fail("動画ファイルの書き込みに失敗しました。\n" + m_outputPath.string() + ": " + reason);
}

bool Exporter::openOutput(const std::filesystem::path &output)
{
    m_outputPath = output;
    errno = 0;
    if (m_file.open(output) != 0)
        return fail("動画ファイルを作成できません。\n" + output.string() + ": " + reasonOf(errno));
    m_sink.fd = m_file.descriptor();

    AVFormatContext *context = nullptr;
    if (avformat_alloc_output_context2(&context, nullptr, "mp4", nullptr) < 0 || !context)
        return fail("MP4 の書き出しを準備できません。");
    m_output.reset(context);
    // The muxer reads the file back by this name to move its index to the front.
    context->url = av_strdup(m_file.temporaryPath().c_str());
    constexpr int BufferBytes = 256 * 1024;
    auto *buffer = static_cast<unsigned char *>(av_malloc(BufferBytes));
    if (!buffer || !context->url)
        return fail("メモリが足りません。");
    context->pb = avio_alloc_context(buffer, BufferBytes, 1, &m_sink, nullptr, writeToFile,
                                     seekInFile);
    if (!context->pb) {
        av_free(buffer);
        return fail("メモリが足りません。");
    }
    context->flags |= AVFMT_FLAG_CUSTOM_IO;
    m_packet.reset(av_packet_alloc());
    if (!m_packet)
        return fail("メモリが足りません。");
    return true;
}

bool Exporter::addVideo()
{
    const AVCodec *codec = avcodec_find_encoder_by_name(VideoEncoderName);
    if (!codec)
        return fail(textf("動画のエンコーダ %s が見つかりません。", VideoEncoderName));
    m_video.reset(avcodec_alloc_context3(codec));
    m_videoStream = avformat_new_stream(m_output.get(), nullptr);
    if (!m_video || !m_videoStream)
        return fail("メモリが足りません。");
    AVCodecContext &c = *m_video;
    c.width = m_width;
    c.height = m_height;
    c.pix_fmt = AV_PIX_FMT_YUV420P;
    c.time_base = m_timeBase;
    c.framerate = av_inv_q(m_timeBase);
    c.sample_aspect_ratio = {1, 1};
    // A key frame every two seconds or so: a draft is scrubbed through in players.
    c.gop_size = std::clamp(int(2 * m_timeBase.den / std::max(1, m_timeBase.num)), 1, 600);
    // swscale converts with the BT.601 matrix into video range; say so.
    c.colorspace = AVCOL_SPC_SMPTE170M;
    c.color_range = AVCOL_RANGE_MPEG;
    if (m_output->oformat->flags & AVFMT_GLOBALHEADER)
        c.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary *raw = nullptr;
    av_dict_set(&raw, "preset", "veryfast", 0);
    av_dict_set(&raw, "crf", "18", 0);
    const int opened = avcodec_open2(&c, codec, &raw);
    av_dict_free(&raw);
    if (opened < 0)
        return fail(textf("動画のエンコーダ %s を開けません。", VideoEncoderName));
    m_videoStream->time_base = m_timeBase;
    m_videoStream->avg_frame_rate = c.framerate;
    m_videoStream->r_frame_rate = c.framerate;
    if (avcodec_parameters_from_context(m_videoStream->codecpar, &c) < 0)
        return fail("メモリが足りません。");
    return true;
}

bool Exporter::addAudio()
{
    if (!m_hasSong)
        return true;
    const AVCodec *codec = avcodec_find_encoder_by_name(AudioEncoderName);
    if (!codec)
        return fail(textf("音声のエンコーダ %s が見つかりません。", AudioEncoderName));
    const int channels = m_song.channels();
    const int songRate = int(m_song.samplesPerSec());
    const int rate = aacRate(*codec, songRate);
    // The song from the first frame's time, at 1×, as long as the video (or shorter). A range
    // that starts after the song's end has no sound: no audio track then.
    m_songStart = av_rescale(int64_t(m_first) * m_timeBase.num, songRate, m_timeBase.den);
    m_songEnd = std::min<int64_t>(m_song.streamLength(),
                                  m_songStart + av_rescale(int64_t(m_count) * m_timeBase.num,
                                                           songRate, m_timeBase.den));
    m_songRead = m_songStart;
    m_audioTotal = av_rescale(std::max<int64_t>(0, m_songEnd - m_songStart), rate, songRate);
    if (m_audioTotal <= 0)
        return true;

    m_audio.reset(avcodec_alloc_context3(codec));
    m_audioStream = avformat_new_stream(m_output.get(), nullptr);
    if (!m_audio || !m_audioStream)
        return fail("メモリが足りません。");
    AVCodecContext &c = *m_audio;
    c.sample_fmt = AV_SAMPLE_FMT_FLTP;
    c.sample_rate = rate;
    av_channel_layout_default(&c.ch_layout, channels);
    c.bit_rate = channels == 1 ? 128000 : 192000;
    c.time_base = {1, c.sample_rate};
    if (m_output->oformat->flags & AVFMT_GLOBALHEADER)
        c.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    // The fast coder: a tenth of the export's time goes to the default one, for a draft.
    AVDictionary *raw = nullptr;
    av_dict_set(&raw, "aac_coder", "fast", 0);
    const int opened = avcodec_open2(&c, codec, &raw);
    av_dict_free(&raw);
    if (opened < 0)
        return fail(textf("音声のエンコーダ %s を開けません。", AudioEncoderName));
    m_audioStream->time_base = c.time_base;
    if (avcodec_parameters_from_context(m_audioStream->codecpar, &c) < 0)
        return fail("メモリが足りません。");

    SwrContext *resampler = nullptr;
    AVChannelLayout songLayout{};
    av_channel_layout_default(&songLayout, channels);
    const AVSampleFormat songFormat =
        m_song.bitsPerSample() == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
    const int made = swr_alloc_set_opts2(&resampler, &c.ch_layout, c.sample_fmt, c.sample_rate,
                                         &songLayout, songFormat, songRate, 0, nullptr);
    av_channel_layout_uninit(&songLayout);
    m_resampler.reset(resampler);
    if (made < 0 || !resampler || swr_init(resampler) < 0)
        return fail(SongFailedMessage);
    m_fifo.reset(av_audio_fifo_alloc(c.sample_fmt, channels, c.frame_size > 0 ? c.frame_size : 1024));
    if (!m_fifo)
        return fail("メモリが足りません。");

    return true;
}

bool Exporter::writePackets(AVCodecContext &codec, AVStream &stream)
{
    for (;;) {
        const int received = avcodec_receive_packet(&codec, m_packet.get());
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
            return true;
        if (received < 0)
            return fail("動画のエンコードに失敗しました。");
        if (m_packet->duration == 0 && &codec == m_video.get())
            m_packet->duration = 1;
        av_packet_rescale_ts(m_packet.get(), codec.time_base, stream.time_base);
        m_packet->stream_index = stream.index;
        if (const int written = av_interleaved_write_frame(m_output.get(), m_packet.get()); written < 0)
            return writeFailed(written);
    }
}

bool Exporter::encodeVideo(AVFrame *frame)
{
    if (avcodec_send_frame(m_video.get(), frame) < 0)
        return fail("動画のエンコードに失敗しました。");
    return writePackets(*m_video, *m_videoStream);
}

bool Exporter::sendAudio(int samples)
{
    FramePtr frame(av_frame_alloc());
    if (!frame)
        return fail("メモリが足りません。");
    frame->nb_samples = samples;
    frame->format = m_audio->sample_fmt;
    frame->sample_rate = m_audio->sample_rate;
    if (av_channel_layout_copy(&frame->ch_layout, &m_audio->ch_layout) < 0 ||
        av_frame_get_buffer(frame.get(), 0) < 0)
        return fail("メモリが足りません。");
    if (av_audio_fifo_read(m_fifo.get(), reinterpret_cast<void **>(frame->data), samples) != samples)
        return fail("音声のエンコードに失敗しました。");
    frame->pts = m_audioSent;
    m_audioSent += samples;
    if (avcodec_send_frame(m_audio.get(), frame.get()) < 0)
        return fail("音声のエンコードに失敗しました。");
    return writePackets(*m_audio, *m_audioStream);
}

// Encodes the track up to `untilSample` (its own rate), reading the song as far as needed; the
// last call also drains the resampler and sends the short final frame.
bool Exporter::encodeAudio(int64_t untilSample, bool last)
{
    if (!m_audio)
        return true;
    const int frameSize = m_audio->frame_size > 0 ? m_audio->frame_size : 1024;
    const int blockAlign = m_song.blockAlign();
    untilSample = std::min(untilSample, m_audioTotal);
    for (;;) {
        const int64_t have = m_audioSent + av_audio_fifo_size(m_fifo.get());
        const bool more = m_songRead < m_songEnd;
        if (have >= untilSample + frameSize || (!more && (!last || m_resamplerFlushed)))
            break;
        int64_t chunk = 0;
        const uint8_t *input = nullptr;
        if (more) {
            chunk = std::min<int64_t>(4096, m_songEnd - m_songRead);
            input = m_song.samples() + m_songRead * blockAlign;
        } else {
            m_resamplerFlushed = true;  // a null input drains what the resampler holds
        }
        const int room = swr_get_out_samples(m_resampler.get(), int(chunk));
        if (room < 0)
            return fail(SongFailedMessage);
        uint8_t **planes = nullptr;
        if (av_samples_alloc_array_and_samples(&planes, nullptr, m_audio->ch_layout.nb_channels,
                                               std::max(room, 1), m_audio->sample_fmt, 0) < 0)
            return fail("メモリが足りません。");
        const uint8_t *inputs[1] = {input};
        const int converted =
            swr_convert(m_resampler.get(), planes, room, input ? inputs : nullptr, int(chunk));
        const int stored = converted > 0 ? av_audio_fifo_write(m_fifo.get(),
                                                               reinterpret_cast<void **>(planes),
                                                               converted)
                                         : 0;
        av_freep(&planes[0]);
        av_freep(&planes);
        if (converted < 0 || stored < converted)
            return fail(SongFailedMessage);
        m_songRead += chunk;
    }
    // Whole frames up to the mark; the track never runs past the video's length.
    while (m_audioSent < untilSample) {
        const int64_t available = av_audio_fifo_size(m_fifo.get());
        const int64_t left = m_audioTotal - m_audioSent;
        const int samples = int(std::min<int64_t>({frameSize, left, available}));
        if (samples <= 0 || (samples < frameSize && !last))
            break;
        if (!sendAudio(samples))
            return false;
    }
    if (!last)
        return true;
    if (avcodec_send_frame(m_audio.get(), nullptr) < 0)
        return fail("音声のエンコードに失敗しました。");
    return writePackets(*m_audio, *m_audioStream);
}

VideoExportResult Exporter::run(const std::filesystem::path &output,
                                const VideoExportOptions &options)
{
    if (!checkRange(options) || !loadSong() || !openOutput(output) || !addVideo() || !addAudio())
        return std::move(m_result);
    AVDictionary *raw = nullptr;
    // The index goes to the front once written, so the file plays while it downloads.
    av_dict_set(&raw, "movflags", "+faststart", 0);
    const int header = avformat_write_header(m_output.get(), &raw);
    av_dict_free(&raw);
    if (header < 0) {
        writeFailed(header);
        return std::move(m_result);
    }

    FramePipeline pipeline(m_scenario, m_first, m_count, m_width, m_height, m_threads);
    if (!pipeline.started()) {
        fail("メモリが足りません。");
        return std::move(m_result);
    }
    int32_t firstBlack = -1;
    const int audioRate = m_audio ? m_audio->sample_rate : 1;
    for (int32_t i = 0; i < m_count; ++i) {
        if (cancelled()) {
            pipeline.stop();
            m_result.status = VideoExportStatus::Cancelled;
            return std::move(m_result);
        }
        // The song up to the end of this frame goes to the muxer beside it.
        const int64_t frameEnd = av_rescale(int64_t(i + 1) * m_timeBase.num, audioRate, m_timeBase.den);
        if (!encodeAudio(frameEnd, false))
            return std::move(m_result);
        std::optional<ReadyFrame> ready = pipeline.take(i);
        if (!ready || !ready->frame) {
            fail("メモリが足りません。");
            return std::move(m_result);
        }
        if (ready->failed) {
            if (firstBlack < 0)
                firstBlack = m_first + i;
            ++m_result.blackFrames;
        }
        ready->frame->pts = i;
        ready->frame->pkt_duration = 1;
        if (!encodeVideo(ready->frame.get()))
            return std::move(m_result);
        if (m_control.progress)
            m_control.progress(i + 1, m_count);
    }
    pipeline.stop();
    if (cancelled()) {
        m_result.status = VideoExportStatus::Cancelled;
        return std::move(m_result);
    }
    if (!encodeVideo(nullptr) || !encodeAudio(m_audioTotal, true))
        return std::move(m_result);
    if (const int trailer = av_write_trailer(m_output.get()); trailer < 0 || m_output->pb->error < 0) {
        writeFailed(trailer < 0 ? trailer : m_output->pb->error);
        return std::move(m_result);
    }
    if (m_file.commit() != 0) {
        fail("動画ファイルの書き込みに失敗しました。\n" + output.string() + ": " + reasonOf(errno));
        return std::move(m_result);
    }
    m_result.status = VideoExportStatus::Written;
    if (firstBlack >= 0) {
        std::string text = textf("フレーム %d の画像の作成に失敗しました。黒で書き出しました。", firstBlack);
        if (m_result.blackFrames > 1)
            text += textf("（ほかに %d フレーム）", m_result.blackFrames - 1);
        m_result.messages.push_back(text);
    }
    return std::move(m_result);
}

} // namespace

VideoExportResult exportVideo(Scenario &scenario, const std::filesystem::path &output,
                              const VideoExportOptions &options, const VideoExportControl &control)
{
    // The libraries' own chatter would mix with our messages on standard error.
    static std::once_flag quiet;
    std::call_once(quiet, [] {
        if (!std::getenv("VORN_DEBUG"))
            av_log_set_level(AV_LOG_QUIET);
    });
    CollectingPrompter collector;
    VideoExportResult result;
    {
        const PrompterSwap swap(scenario, &collector);
        Exporter exporter(scenario, control);
        result = exporter.run(output, options);
    }
    for (std::string &message : collector.take())
        result.messages.push_back(std::move(message));
    if (result.status == VideoExportStatus::Cancelled)
        result.messages.clear();
    return result;
}

} // namespace vorn
