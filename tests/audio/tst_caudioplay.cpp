// Tests of the playback engine against the simulated device on a clock that the test drives.
#include "audio/caudioplay.h"
#include "audio/simulateddevice.h"
#include "support/tempdir.h"
#include "support/wavfile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace vorn {
namespace {

using namespace std::chrono_literals;
using Card = SimulatedSoundCard;
using Stats = SimulatedSoundCard::Stats;

constexpr int64_t BlockBytes = 65536;
constexpr int32_t BlockFrames = 16384;  // of 16-bit stereo
// 16-bit stereo at 44,100 Hz: one 64 KiB block lasts 65536 / 176400 s.
constexpr int64_t BlockUs = (BlockBytes * 1000000 + 176399) / 176400;

// Records what each reply said, in order; the engine thread adds, the test waits.
class Replies {
public:
    AudioReplySink sink()
    {
        return [this](AudioReply reply, int32_t wParam) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_said[reply].push_back(wParam);
            m_changed.notify_all();
        };
    }
    // Waits until `reply` has come `count` times: how often it came and what the latest said.
    std::pair<int, int32_t> waitFor(AudioReply reply, int count = 0, std::chrono::milliseconds timeout = 0s)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        const std::vector<int32_t> &said = m_said[reply];
        m_changed.wait_for(lock, timeout, [&] { return int(said.size()) >= count; });
        return {int(said.size()), said.empty() ? -1 : said.back()};
    }
    int count(AudioReply reply) { return waitFor(reply).first; }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<AudioReply, std::vector<int32_t>> m_said;
};

// For states that no reply announces: checks again until true or ten seconds pass.
template<typename Predicate> bool eventually(Predicate predicate)
{
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(200us);
    }
    return true;
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override { newCard(); }
    // Whatever a test did, the engine kept the device's rules, never refilled a queued block,
    // and closed every device it opened and unprepared every buffer it prepared.
    void TearDown() override
    {
        quit();
        const Stats s = m_card->stats();
        EXPECT_EQ(s.misuse, 0);
        EXPECT_EQ(s.changedWhileQueued, 0);
        EXPECT_EQ(s.opens, s.closes);
        EXPECT_EQ(s.prepares, s.unprepares);
    }
    void newCard()
    {
        m_card = std::make_shared<Card>(Card::Clock::Driven);
        m_card->setRecording(true, true);
    }
    void quit()
    {
        if (m_engine) {
            m_engine->post(AP_QUIT);
            EXPECT_TRUE(m_engine->waitEnded(10s));
        }
        m_engine.reset();
    }

    // A song whose sample n (across channels) holds n (see indexData).
    std::filesystem::path song(const std::string &name, size_t dataBytes, uint16_t channels = 2,
                               uint16_t bits = 16, uint32_t rate = 44100)
    {
        const auto path = m_dir.path() / name;
        test::writeFile(path, test::wavBytes({.channels = channels, .samplesPerSec = rate, .bitsPerSample = bits},
                                             test::indexData(dataBytes, bits)));
        return path;
    }

    // A new engine (the old one quit) loading `path`.
    void start(const std::filesystem::path &path, CAudioPlay::Options options = {})
    {
        quit();
        std::shared_ptr<Card> card = m_card;
        m_engine = std::make_unique<CAudioPlay>(
            m_replies.sink(), [card] { return std::make_unique<SimulatedDevice>(card); }, options);
        m_engine->setPath(path);
        m_engine->post(AP_LOAD);
    }
    void load(const std::filesystem::path &path, CAudioPlay::Options options = {})
    {
        const int loads = m_replies.count(AP_LOADED);
        start(path, options);
        ASSERT_TRUE(replied(AP_LOADED, loads + 1));
        ASSERT_EQ(m_engine->state(), CAudioPlay::Ready);
    }

    // An engine with a loaded song of `blocks` 64 KiB blocks of 16-bit stereo.
    void loaded(int blocks = 8, int32_t videoMs = -1, CAudioPlay::Options options = {})
    {
        load(song("song.wav", size_t(blocks) * BlockBytes), options);
        if (videoMs >= 0)
            m_engine->setVideoLength(videoMs);
    }

    // Waits for the `count`th `reply` and checks its wParam.
    ::testing::AssertionResult replied(AudioReply reply, int count = 1, int32_t wParam = 0)
    {
        // Once a test has failed, the replies that a broken step never gives are not waited for.
        const auto [times, said] = m_replies.waitFor(reply, count, HasFailure() ? 100ms : 10s);
        if (times < count || said != wParam)
            return ::testing::AssertionFailure() << "reply " << reply << " came " << times << " times, saying " << said;
        return ::testing::AssertionSuccess();
    }

    void playing(int startedCount = 1)
    {
        m_engine->post(AP_PLAY);
        ASSERT_TRUE(replied(AP_STARTED, startedCount));
        ASSERT_EQ(m_engine->state(), CAudioPlay::Playing);
    }

    // The engine's {ms, frames}; {-1, -1} while it has no position.
    std::pair<int32_t, int32_t> position() const
    {
        int32_t ms = -1;
        int32_t frames = -1;
        if (m_engine->position(ms, frames) != 0)
            return {-1, -1};
        return {ms, frames};
    }

    bool writesReach(int writes, std::chrono::milliseconds timeout = 10s)
    {
        return m_card->waitUntil([writes](const Stats &s) { return s.writes >= writes; }, timeout);
    }
    bool closed()
    {
        return m_card->waitUntil([](const Stats &s) { return !s.open; });
    }

    // Plays one block's worth of device time and waits for the engine to queue the next one.
    void playBlock()
    {
        const int writes = m_card->stats().writes;
        m_card->advance(BlockUs);
        ASSERT_TRUE(writesReach(writes + 1));
    }

    // The first sample of written block `i` (-1 for none): with the index pattern, the block
    // that starts at song byte X holds X / 2 as a 16-bit value.
    int32_t head(size_t i) const
    {
        const auto written = m_card->written();
        return i < written.size() ? written[i].head[0] | (written[i].head[1] << 8) : -1;
    }

    test::TempDir m_dir;
    std::shared_ptr<Card> m_card;
    Replies m_replies;
    std::unique_ptr<CAudioPlay> m_engine;
};

TEST_F(EngineTest, LoadsOnceAndAFailedLoadEndsTheThread)
{
    loaded();
    m_engine->post(AP_LOAD);
    ASSERT_TRUE(replied(AP_LOADED, 2, 1));
    EXPECT_FALSE(m_engine->waitEnded(0ms));
    playing();

    start(m_dir.path() / "missing.wav");
    ASSERT_TRUE(replied(AP_LOADED, 3, 1));
    EXPECT_TRUE(m_engine->waitEnded(10s));
    EXPECT_EQ(m_engine->state(), CAudioPlay::Empty);
}

TEST_F(EngineTest, PlayQueuesTwoBlocksAndRefillsEachFinishedOne)
{
    loaded();
    playing();
    EXPECT_EQ(m_card->stats().writes, 2);

    playBlock();
    playBlock();
    const auto written = m_card->written();
    ASSERT_EQ(written.size(), 4u);
    for (size_t i = 0; i < written.size(); ++i) {
        EXPECT_EQ(written[i].startByte, int64_t(i) * BlockBytes);
        EXPECT_EQ(head(i), uint16_t(i * BlockBytes / 2)) << "block " << i;
    }
    EXPECT_EQ(m_card->stats().queued, 2);

    // Play while playing is refused.
    m_engine->post(AP_PLAY);
    ASSERT_TRUE(replied(AP_STARTED, 2, 1));
    EXPECT_EQ(m_engine->state(), CAudioPlay::Playing);
}

TEST_F(EngineTest, SeekRoundsUpToTheNextBlock)
{
    // 16-bit stereo: frame 1 is byte 4, which rounds up to 65,536 = frame 16,384; 8-bit mono:
    // frame 1 is byte 1, which rounds up to 65,536 = frame 65,536.
    const auto stereo16 = song("song.wav", 8 * BlockBytes);
    const auto mono8 = song("mono8.wav", 4 * BlockBytes, 1, 8, 22050);
    const struct {
        const std::filesystem::path &path;
        int32_t target, expected;
    } cases[] = {{stereo16, 1, 16384}, {stereo16, 0, 0},      {stereo16, 16384, 16384},
                 {stereo16, 16385, 32768}, {stereo16, -5, 0}, {mono8, 1, 65536}};
    for (const auto &c : cases) {
        if (!m_engine || m_engine->clip().path() != c.path)
            load(c.path);
        m_engine->post(AP_SEEK, c.target);
        EXPECT_TRUE(eventually([&] { return m_engine->readPosition() == c.expected; })) << "seek to " << c.target;
    }
}

TEST_F(EngineTest, SeekWhilePlayingReopensAtTheBoundaryAndRestarts)
{
    loaded();
    playing();
    m_card->advance(100000);
    m_engine->post(AP_SEEK, 40000);  // byte 160,000 -> 196,608 = frame 49,152
    ASSERT_TRUE(replied(AP_RESTARTED));
    EXPECT_EQ(m_engine->state(), CAudioPlay::Playing);
    EXPECT_EQ(m_card->stats().opens, 2);
    EXPECT_EQ(head(2), uint16_t(196608 / 2));
    EXPECT_EQ(head(3), uint16_t((196608 + BlockBytes) / 2));
    EXPECT_EQ(head(4), -1);
    EXPECT_EQ(position(), std::make_pair(1115, 49152));  // 196,608 bytes at 176,400 per second
}

TEST_F(EngineTest, StopRewindsInEveryStoppableState)
{
    loaded();
    // Stopped already: rewinds and answers at once.
    m_engine->post(AP_SEEK, 50000);
    m_engine->post(AP_STOP);
    ASSERT_TRUE(replied(AP_STOPPED));
    EXPECT_EQ(m_engine->readPosition(), 0);
    EXPECT_EQ(m_engine->state(), CAudioPlay::Ready);
    EXPECT_EQ(m_card->stats().opens, 0);

    // Playing: reset, close, and the close notification finishes the stop.
    m_engine->post(AP_SEEK, 50000);
    playing();
    m_card->advance(20000);
    m_engine->post(AP_STOP);
    ASSERT_TRUE(replied(AP_STOPPED, 2));
    EXPECT_EQ(m_engine->readPosition(), 0);
    EXPECT_EQ(m_engine->state(), CAudioPlay::Ready);
    EXPECT_FALSE(m_card->stats().open);
    EXPECT_EQ(m_card->stats().resets, 1);
    EXPECT_EQ(position(), std::make_pair(-1, -1));  // no device, no position

    // Pause does nothing while stopped.
    m_engine->post(AP_PAUSE);
    playing(2);
    EXPECT_EQ(m_replies.count(AP_PAUSED), 0);
}

TEST_F(EngineTest, SilencePlaysPastTheDataUpToTheEndThenTheDeviceCloses)
{
    // Three blocks of song; a 3 s scenario stretches the time line to 4,999 ms = 220,456
    // frames, so blocks 3 to 13 are silence.
    loaded(3, 3000);
    ASSERT_EQ(m_engine->clip().endPosition(), 220456);
    playing();
    for (int i = 0; i < 12; ++i)
        playBlock();
    EXPECT_EQ(m_replies.count(AP_FINISHED), 0);
    m_card->advance(BlockUs);
    ASSERT_TRUE(replied(AP_FINISHED));
    EXPECT_EQ(m_engine->state(), CAudioPlay::Ready);
    EXPECT_EQ(m_engine->readPosition(), 0);
    // The block still queued plays out, then the device is closed.
    EXPECT_TRUE(m_card->stats().open);
    m_card->advance(BlockUs);
    EXPECT_TRUE(closed());
    EXPECT_EQ(m_card->stats().buffersDone, 14);
    const auto written = m_card->written();
    ASSERT_EQ(written.size(), 14u);
    for (size_t i = 0; i < written.size(); ++i)
        EXPECT_EQ(written[i].silent, i >= 3) << "block " << i;
    EXPECT_EQ(m_replies.count(AP_FINISHED), 1);

    // The next play opens the device afresh, from the start.
    playing(2);
    EXPECT_EQ(m_card->stats().opens, 2);
    EXPECT_EQ(head(14), 0);
}

TEST_F(EngineTest, TheLastBlockBeforeTheEndIsPlayed)
{
    // One block left at the start: the first fill takes it, the second finds the end. The
    // filled block must still be queued and heard.
    loaded(8);
    m_engine->post(AP_SEEK, 7 * BlockFrames);
    m_engine->post(AP_PLAY);
    ASSERT_TRUE(replied(AP_FINISHED));
    ASSERT_TRUE(replied(AP_STARTED));
    EXPECT_EQ(m_engine->state(), CAudioPlay::Ready);
    EXPECT_EQ(head(0), uint16_t(7 * BlockBytes / 2));
    EXPECT_EQ(head(1), -1);
    m_card->advance(BlockUs);
    EXPECT_TRUE(closed());
    EXPECT_EQ(m_card->stats().buffersDone, 1);
}

TEST_F(EngineTest, ResumeAfterPauseStartsAtTheReadPosition)
{
    loaded();
    playing();
    playBlock();  // blocks 0..2 queued, block 0 heard
    m_card->advance(BlockUs / 2);
    m_engine->post(AP_PAUSE);
    ASSERT_TRUE(replied(AP_PAUSED));
    EXPECT_EQ(m_engine->state(), CAudioPlay::Ready);
    // The blocks that were queued at the pause are skipped.
    EXPECT_EQ(m_engine->readPosition(), 3 * BlockFrames);
    EXPECT_FALSE(m_card->stats().open);

    playing(2);
    EXPECT_EQ(head(3), uint16_t(3 * BlockBytes / 2));
    EXPECT_EQ(head(4), uint16_t(4 * BlockBytes / 2));
    EXPECT_EQ(head(5), -1);
    EXPECT_EQ(position().second, 3 * BlockFrames);
}

// A quit waits for the device to acknowledge its close, up to a time-out; dropping the handle
// quits too.
TEST_F(EngineTest, QuitEndsOnlyAfterTheDeviceAcknowledgedOrGaveUp)
{
    loaded();
    playing();
    m_card->holdCloseAcknowledgement(true);
    m_engine->post(AP_QUIT);
    ASSERT_TRUE(m_card->waitUntil([](const Stats &s) { return s.closeHeld; }));
    ASSERT_TRUE(eventually([&] { return m_engine->quitWaiting(); }));
    EXPECT_FALSE(m_engine->waitEnded(0ms));
    EXPECT_TRUE(m_card->acknowledgeClose());
    ASSERT_TRUE(m_engine->waitEnded(10s));
    EXPECT_FALSE(m_card->stats().detachedWhileHeld);
    EXPECT_FALSE(m_card->stats().attached);
    EXPECT_EQ(m_engine->state(), CAudioPlay::Empty);

    newCard();
    CAudioPlay::Options options;
    options.closeAcknowledgeTimeout = 1ms;
    loaded(4, -1, options);
    playing(2);
    m_card->holdCloseAcknowledgement(true);
    m_engine->post(AP_QUIT);
    ASSERT_TRUE(m_engine->waitEnded(10s));
    EXPECT_TRUE(m_card->stats().detachedWhileHeld);

    newCard();
    loaded();
    playing(3);
    m_engine.reset();  // posts AP_QUIT, does not wait
    EXPECT_TRUE(CAudioPlay::waitForAllEngines(10s));
    EXPECT_FALSE(m_card->stats().attached);
}

TEST_F(EngineTest, DeviceFailureMidPlayReturnsToReadyWithTheDeviceClosed)
{
    loaded();
    playing();
    playBlock();
    m_card->breakOutput();
    ASSERT_TRUE(replied(AP_STOPPED, 1, 1));
    EXPECT_EQ(m_engine->state(), CAudioPlay::Ready);
    EXPECT_TRUE(closed());
    // The engine plays again on the repaired device, from where it was.
    playing(2);
    EXPECT_EQ(head(m_card->written().size() - 1), uint16_t(4 * BlockBytes / 2));

    // A refused write is a failure too, and so is a refused close while stopping.
    m_card->failNext(Card::Call::Write);
    m_card->advance(BlockUs);
    ASSERT_TRUE(replied(AP_STOPPED, 2, 1));
    EXPECT_EQ(m_engine->state(), CAudioPlay::Ready);
    playing(3);
    m_card->failNext(Card::Call::Close);
    m_engine->post(AP_STOP);
    ASSERT_TRUE(replied(AP_STOPPED, 3, 1));
    EXPECT_EQ(m_engine->state(), CAudioPlay::Ready);
    // The next play closes the abandoned device before opening it again.
    playing(4);

    // A refused open or prepare returns to Ready; the stale open notification of the failed
    // run starts nothing, and a fresh play works.
    m_engine->post(AP_STOP);
    ASSERT_TRUE(replied(AP_STOPPED, 4));
    for (const Card::Call call : {Card::Call::Open, Card::Call::Prepare}) {
        const int started = m_replies.count(AP_STARTED);
        m_card->failNext(call);
        m_engine->post(AP_PLAY);
        ASSERT_TRUE(replied(AP_STARTED, started + 1, 1));
        EXPECT_EQ(m_engine->state(), CAudioPlay::Ready);
        EXPECT_TRUE(closed());
    }
    const int writes = m_card->stats().writes;
    playing(7);
    EXPECT_EQ(m_card->stats().writes, writes + 2);
}

// A stop or pause while the device opens or a seek reopens it wins: the late notification
// starts nothing.
TEST_F(EngineTest, StopOrPauseWhileTheDeviceOpensOrSeeksPlaysNothing)
{
    loaded();
    playing();
    m_card->holdCloseAcknowledgement(true);
    m_engine->post(AP_SEEK, 100000);
    ASSERT_TRUE(m_card->waitUntil([](const Stats &s) { return s.closeHeld; }));
    EXPECT_EQ(m_engine->state(), CAudioPlay::Seeking);
    m_engine->post(AP_PAUSE);
    ASSERT_TRUE(eventually([&] { return m_engine->state() == CAudioPlay::Pausing; }));
    m_card->holdCloseAcknowledgement(false);
    m_card->acknowledgeClose();
    ASSERT_TRUE(replied(AP_PAUSED));
    EXPECT_EQ(m_engine->state(), CAudioPlay::Ready);
    EXPECT_EQ(m_card->stats().opens, 1);  // the seek did not reopen
    EXPECT_EQ(m_engine->readPosition(), 100000 * 4 / BlockBytes * BlockFrames + BlockFrames);

    // A slow device: its open notification comes only with the close.
    const int writes = m_card->stats().writes;
    m_card->holdOpenAcknowledgement(true);
    m_engine->post(AP_PLAY);
    ASSERT_TRUE(m_card->waitUntil([](const Stats &s) { return s.openHeld; }));
    EXPECT_EQ(m_engine->state(), CAudioPlay::Opening);
    m_engine->post(AP_STOP);
    ASSERT_TRUE(replied(AP_STOPPED));
    m_engine->post(AP_SEEK, BlockFrames);
    m_engine->post(AP_PLAY);
    ASSERT_TRUE(m_card->waitUntil([](const Stats &s) { return s.openHeld; }));
    m_engine->post(AP_PAUSE);
    ASSERT_TRUE(replied(AP_PAUSED, 2));
    EXPECT_EQ(m_engine->state(), CAudioPlay::Ready);
    EXPECT_EQ(m_engine->readPosition(), BlockFrames);
    EXPECT_EQ(m_replies.count(AP_STARTED), 1);
    EXPECT_EQ(m_card->stats().writes, writes);
    EXPECT_FALSE(m_card->stats().open);

    // Acknowledged in time, the open starts playback as usual.
    m_engine->post(AP_PLAY);
    ASSERT_TRUE(m_card->waitUntil([](const Stats &s) { return s.openHeld; }));
    EXPECT_TRUE(m_card->acknowledgeOpen());
    ASSERT_TRUE(replied(AP_STARTED, 2));
}

// What a run played: the device's bytes per channel as 16-bit values, with the engine's
// position read every 5 ms of device time.
struct Heard {
    std::vector<std::vector<int16_t>> channels;
    std::vector<std::pair<int64_t, int32_t>> positions;  // {device frame, song frame}
    uint32_t deviceRate = 0;
    const std::vector<int16_t> &left() const { return channels[0]; }
};

class SlowTest : public EngineTest {
protected:
    // A song of sample(channel, frame) in [-1, 1].
    template<typename Sample>
    std::filesystem::path songOf(int32_t frames, Sample sample, uint16_t channels = 2, uint16_t bits = 16)
    {
        std::vector<uint8_t> data;
        for (int32_t f = 0; f < frames; ++f)
            for (int c = 0; c < channels; ++c)
                test::putSample(data, sample(c, f), bits);
        const auto path = m_dir.path() / "slow.wav";
        test::writeFile(path, test::wavBytes({.channels = channels, .bitsPerSample = bits}, data));
        return path;
    }

    // Plays `path` from its start (or the loop's) until `deviceFrames` have been heard.
    Heard play(const std::filesystem::path &path, int32_t divisor, bool keepPitch, int64_t deviceFrames,
               std::pair<int32_t, int32_t> loop = {0, 0}, const MarkClicks *clicks = nullptr)
    {
        Heard run;
        newCard();
        load(path);
        if (HasFatalFailure()) {
            run.channels.resize(2);
            return run;
        }
        if (clicks)
            m_engine->setMarkClicks(std::make_shared<const MarkClicks>(*clicks));
        m_engine->setSpeed(divisor);
        m_engine->setKeepPitch(keepPitch);
        m_engine->setLoop(loop.first, loop.second);
        const int starts = m_replies.count(AP_STARTED);
        m_engine->post(AP_PLAY);
        EXPECT_TRUE(replied(AP_STARTED, starts + 1));
        const SoundFormat format = m_card->stats().format;
        run.deviceRate = format.samplesPerSec;
        const int64_t blockFrames = BlockBytes / format.blockAlign;
        const int64_t stepUs = 5000;
        for (int64_t t = stepUs; t * run.deviceRate / 1000000 < deviceFrames; t += stepUs) {
            const int64_t before = (t - stepUs) * run.deviceRate / 1000000 / blockFrames;
            m_card->advance(stepUs);
            const int64_t heard = t * run.deviceRate / 1000000;
            if (heard / blockFrames != before && m_engine->state() == CAudioPlay::Playing)
                writesReach(int(heard / blockFrames) + 2, 2s);
            run.positions.push_back({heard, position().second});
        }
        run.channels.resize(size_t(format.channels));
        const int bytes = format.bitsPerSample / 8;
        for (const Card::Written &w : m_card->written())
            for (size_t i = 0; i + size_t(format.blockAlign) <= w.bytes.size(); i += size_t(format.blockAlign))
                for (int c = 0; c < format.channels; ++c) {
                    const uint8_t *p = &w.bytes[i + size_t(c * bytes)];
                    run.channels[size_t(c)].push_back(bytes == 2 ? int16_t(uint16_t(p[0] | (p[1] << 8)))
                                                                 : int16_t((p[0] - 128) * 256));
                }
        quit();
        return run;
    }
};

// Where a sound starts after at least `quiet` frames at or below `floor` (or at the start).
std::vector<int64_t> onsetsOf(const std::vector<int16_t> &samples, int floor, int64_t quiet)
{
    std::vector<int64_t> onsets;
    int64_t still = quiet;
    for (size_t f = 0; f < samples.size(); ++f) {
        const bool loud = std::abs(samples[f]) > floor;
        if (loud && still >= quiet)
            onsets.push_back(int64_t(f));
        still = loud ? 0 : still + 1;
    }
    return onsets;
}

// Clicks at the marks: in what the device got from a silent song, a click starts at full
// level on every mark's own sample frame at every speed and in 8 and 16 bits (one that runs
// over a block's end included), and nothing sounds anywhere else.
TEST_F(SlowTest, ClicksStartOnTheMarksOwnSampleAtEverySpeed)
{
    MarkClicks clicks;
    clicks.positions[0] = {BlockFrames - 3, 3000, 40000};  // as made: unsorted
    clicks.positions[1] = {20000, 0};
    clicks.positions[2] = {50000, 65535};
    clicks.sort();
    const struct {
        int32_t divisor;
        uint16_t channels, bits;
    } cases[] = {{1, 2, 16}, {2, 2, 16}, {4, 2, 16}, {1, 1, 8}, {2, 2, 8}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.divisor << ", " << c.channels << " channels, " << c.bits << " bits");
        const auto path = songOf(2 * 65536, [](int, int32_t) { return 0.0; }, c.channels, c.bits);
        const Heard run = play(path, c.divisor, false, 4 * BlockFrames, {0, 0}, &clicks);
        ASSERT_GE(run.left().size(), size_t(4 * BlockFrames));
        const std::vector<int64_t> onsets = onsetsOf(run.left(), 0, 1000);
        EXPECT_EQ(onsets, (std::vector<int64_t>{0, 3000, 16381, 20000, 40000, 50000, 65535}));
        for (const int64_t at : onsets)
            EXPECT_EQ(run.left()[size_t(at)], c.bits == 16 ? std::lround(ClickLevel * 32767) : std::lround(ClickLevel * 127) * 256);
        EXPECT_NE(run.left()[BlockFrames], 0);  // the click 3 frames before the second block goes on
    }
}

// The frequency of a steady tone from its rising zero crossings, in Hz at `rate`.
double toneHz(const std::vector<int16_t> &samples, size_t from, size_t to, uint32_t rate)
{
    double first = -1;
    double last = -1;
    int crossings = 0;
    for (size_t i = from + 1; i < std::min(to, samples.size()); ++i) {
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            const double at = double(i - 1) + double(-samples[i - 1]) / double(samples[i] - samples[i - 1]);
            if (first < 0)
                first = at;
            last = at;
            ++crossings;
        }
    }
    return crossings < 2 ? 0.0 : (crossings - 1) * double(rate) / (last - first);
}

// A tone of 440 Hz on the left and 660 Hz on the right, in 8 and 16 bits: each channel keeps
// its own pitch, and keeps it at a slow speed only when asked.
TEST_F(SlowTest, ATonePlayedSlowlyKeepsItsPitchOnlyWhenAsked)
{
    const struct {
        int32_t divisor;
        bool keepPitch;
        uint16_t channels, bits;
    } cases[] = {{1, true, 2, 16}, {2, true, 2, 16}, {4, true, 2, 16}, {2, false, 2, 16},
                 {4, false, 2, 16}, {2, true, 2, 8}, {4, true, 1, 8}, {2, false, 1, 8}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.divisor << (c.keepPitch ? " kept " : " lowered ") << c.channels
                                        << " channels, " << c.bits << " bits");
        const auto path = songOf(3 * 44100, [](int channel, int32_t f) {
            return 0.5 * std::sin(2 * M_PI * (channel ? 660.0 : 440.0) * f / 44100);
        }, c.channels, c.bits);
        const Heard run = play(path, c.divisor, c.keepPitch, 4 * BlockFrames);
        ASSERT_EQ(run.channels.size(), c.channels);
        const double pitch = c.keepPitch ? 1.0 : 1.0 / c.divisor;
        // Away from the start, where a stretch still settles: the pitch, no offset, the level.
        for (size_t k = 0; k < run.channels.size(); ++k) {
            const std::vector<int16_t> &x = run.channels[k];
            ASSERT_GE(x.size(), size_t(4 * BlockFrames));
            EXPECT_NEAR(toneHz(x, 8192, 4 * BlockFrames, run.deviceRate), (k ? 660.0 : 440.0) * pitch, 2.0) << k;
            double sum = 0, squares = 0;
            for (size_t i = 8192; i < 4 * BlockFrames; ++i) {
                sum += x[i];
                squares += double(x[i]) * x[i];
            }
            EXPECT_NEAR(sum / (4 * BlockFrames - 8192), 0.0, 100.0) << k;
            EXPECT_NEAR(std::sqrt(squares / (4 * BlockFrames - 8192)), 0.5 * 32767 / M_SQRT2, 1000.0) << k;
        }
    }
}

// Short bursts every 300 ms of song, played slowly with and without the stretch and in loops.
// The engine's position follows the driven clock in song time (a stretched run plays `divisor`
// device frames to a song frame, wrapping with the loop), and where a burst is heard the
// position is the burst's own song frame: the stretch's start delay is taken out. A stretch
// smears an attack a few milliseconds ahead of itself, so bursts get a looser bound.
TEST_F(SlowTest, TheStretchKeepsThePositionOnTheSongsOwnTime)
{
    constexpr int32_t Every = 13230;  // 300 ms
    const auto path = songOf(3 * 44100, [](int, int32_t f) {
        const int32_t in = (f - 2205) % Every;
        return f >= 2205 && in < 441 ? 0.6 * std::sin(2 * M_PI * 1000.0 * in / 44100) : 0.0;
    });
    constexpr std::pair<int32_t, int32_t> Loop{2205 + Every, 2205 + 3 * Every};
    const struct {
        int32_t divisor;
        bool keepPitch;
        std::pair<int32_t, int32_t> loop;
    } cases[] = {{2, true, {}}, {4, true, {}}, {1, true, {}}, {2, false, {}}, {2, true, Loop}, {4, true, Loop}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.divisor << (c.keepPitch ? " kept" : " lowered") << " loop "
                                        << c.loop.first << "-" << c.loop.second);
        const Heard run = play(path, c.divisor, c.keepPitch, int64_t(c.divisor) * 50000, c.loop);
        // The song frame heard at a device frame.
        const int32_t stretch = c.keepPitch ? c.divisor : 1;
        auto songFrame = [&](int64_t device) {
            const int64_t f = c.loop.first + device / stretch;
            return c.loop.second > 0 && f >= c.loop.second
                       ? c.loop.first + (f - c.loop.first) % (c.loop.second - c.loop.first) : f;
        };
        std::vector<double> clockMs, burstMs;
        for (const auto &[heard, frames] : run.positions)
            clockMs.push_back(std::abs(double(frames - songFrame(heard))) * 1000.0 / 44100);
        // Bursts: louder than a tenth of full scale after 20 ms below it.
        for (const int64_t at : onsetsOf(run.left(), 3277, 882)) {
            const double song = double(songFrame(at));
            burstMs.push_back(std::abs(song - (std::round((song - 2205) / Every) * Every + 2205)) * 1000.0 / 44100);
        }
        std::sort(clockMs.begin(), clockMs.end());
        ASSERT_GE(clockMs.size(), 20u);
        EXPECT_LE(clockMs[clockMs.size() / 2], 1.0);
        EXPECT_LE(clockMs.back(), 3.0);
        ASSERT_GE(burstMs.size(), 3u);
        std::sort(burstMs.begin(), burstMs.end());
        EXPECT_LE(burstMs[burstMs.size() / 2], 6.0);
        EXPECT_LE(burstMs.back(), 8.0);
    }
}

// A loop that starts and ends off the blocks' edges, resampled at every speed: every frame the
// device gets is the song's own frame at the wrapped position, so the seam neither drops nor
// doubles a frame; the position wraps with it.
TEST_F(SlowTest, ALoopWrapsWithoutAMissingOrDoubledFrame)
{
    constexpr std::pair<int32_t, int32_t> Loop{1000, 21037};
    const auto path = song("index.wav", 8 * BlockBytes);  // left sample of frame f: 2f
    for (const int32_t divisor : {1, 2, 4}) {
        SCOPED_TRACE(divisor);
        const Heard run = play(path, divisor, false, 3 * BlockFrames, Loop);
        ASSERT_GE(run.left().size(), size_t(3 * BlockFrames));
        int mismatches = 0;
        for (size_t k = 0; k < run.left().size(); ++k) {
            const int64_t frame = Loop.first + int64_t(k) % (Loop.second - Loop.first);
            mismatches += uint16_t(run.left()[k]) != uint16_t(2 * frame);
        }
        EXPECT_EQ(mismatches, 0);
        EXPECT_LT(run.positions.back().second, Loop.second);
        EXPECT_GE(run.positions.back().second, Loop.first);
    }
}

// Stop, pause and the speed behave in a loop as without one: a pause resumes where it was, at
// a new speed too, and still wraps; a loop set while paused is played from where the pause
// left the song if that is inside it, else from its start; a stop rewinds past the loop, and the
// next play starts at the loop's start.
TEST_F(SlowTest, StopPauseAndSpeedInsideALoop)
{
    constexpr std::pair<int32_t, int32_t> Loop{20000, 40000};
    loaded();
    m_engine->setLoop(Loop.first, Loop.second);
    auto firstOfRun = [&](int64_t bytesIntoRun) {
        // The left sample heard `bytesIntoRun` into the latest run, as a song frame.
        const auto written = m_card->written();
        for (auto it = written.rbegin(); it != written.rend(); ++it)
            if (it->startByte <= bytesIntoRun && bytesIntoRun < it->startByte + int64_t(it->bytes.size())) {
                const size_t at = size_t(bytesIntoRun - it->startByte);
                return int32_t(uint16_t(it->bytes[at] | (it->bytes[at + 1] << 8)) / 2);
            }
        return -1;
    };
    auto pause = [&](int count) {
        m_engine->post(AP_PAUSE);
        EXPECT_TRUE(replied(AP_PAUSED, count));
        return m_engine->readPosition();
    };
    playing(1);
    EXPECT_EQ(firstOfRun(0), Loop.first);  // from outside the loop: its start
    playBlock();                            // 16384 frames heard: the read position wrapped
    const int32_t paused = pause(1);
    EXPECT_EQ(paused, 29152);  // 3 blocks read from 20000, wrapped once at 40000
    m_engine->setSpeed(4);
    playing(2);
    EXPECT_EQ(firstOfRun(0), paused);
    EXPECT_EQ(firstOfRun(int64_t(Loop.second - paused) * 4), Loop.first);  // and wraps
    // A loop set while paused: inside it the song goes on, outside it starts at its start.
    const int32_t again = pause(2);
    m_engine->setLoop(again - 100, again + 100);
    playing(3);
    EXPECT_EQ(firstOfRun(0), again);
    EXPECT_EQ(firstOfRun(100 * 4), again - 100);
    pause(3);
    m_engine->setLoop(Loop.first, Loop.second);
    m_engine->post(AP_STOP);
    ASSERT_TRUE(replied(AP_STOPPED));
    EXPECT_EQ(m_engine->readPosition(), 0);
    m_engine->setSpeed(1);
    playing(4);
    EXPECT_EQ(firstOfRun(0), Loop.first);
    // Without a loop the song plays on from where it is.
    const int32_t resumed = pause(4);
    m_engine->setLoop(0, 0);
    playing(5);
    EXPECT_EQ(firstOfRun(int64_t(Loop.second - resumed) * 4), Loop.second % 32768);  // the pattern repeats
}

} // namespace
} // namespace vorn
