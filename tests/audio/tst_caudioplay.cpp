// Tests of the playback engine against the simulated device on a clock that the test drives.
#include "audio/caudioplay.h"
#include "audio/simulateddevice.h"
#include "support/tempdir.h"
#include "support/wavfile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace vorn {
namespace {

using namespace std::chrono_literals;
using Card = SimulatedSoundCard;
using Stats = SimulatedSoundCard::Stats;

constexpr int64_t BlockBytes = 65536;
// 16-bit stereo at 44,100 Hz: one 64 KiB block lasts 65536 / 176400 s.
constexpr int64_t BlockUs = (BlockBytes * 1000000 + 176399) / 176400;

// Records the replies in order; the engine thread adds, the test waits.
class Replies {
public:
    AudioReplySink sink()
    {
        return [this](AudioReply reply, int32_t wParam) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_log.push_back({reply, wParam});
            m_changed.notify_all();
        };
    }
    // Waits until `reply` has come `count` times; true when it has.
    bool waitFor(AudioReply reply, int count = 1)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, 10s, [&] { return countLocked(reply) >= count; });
    }
    int count(AudioReply reply)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return countLocked(reply);
    }
    int32_t lastWParam(AudioReply reply)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_log.rbegin(); it != m_log.rend(); ++it)
            if (it->first == reply)
                return it->second;
        return -1;
    }

private:
    int countLocked(AudioReply reply) const
    {
        int n = 0;
        for (const auto &entry : m_log)
            n += entry.first == reply;
        return n;
    }
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::pair<AudioReply, int32_t>> m_log;
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

// The 16-bit index pattern: the first sample of the block at byte offset X holds X / 2.
uint16_t headSample(const Card::Written &written)
{
    return uint16_t(written.head[0] | (written.head[1] << 8));
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_card = std::make_shared<Card>(Card::Clock::Driven);
        m_card->setRecording(true);
    }
    void TearDown() override
    {
        if (m_engine) {
            m_engine->post(AP_QUIT);
            EXPECT_TRUE(m_engine->waitEnded(10s));
        }
        m_engine.reset();
    }

    std::filesystem::path song(const std::string &name, size_t dataBytes, uint16_t channels = 2,
                               uint16_t bits = 16, uint32_t rate = 44100)
    {
        test::WavLayout wav;
        wav.channels = channels;
        wav.bitsPerSample = bits;
        wav.samplesPerSec = rate;
        const auto path = m_dir.path() / name;
        test::writeFile(path, test::wavBytes(wav, test::indexData(dataBytes, bits)));
        return path;
    }

    void makeEngine(CAudioPlay::Options options = {})
    {
        std::shared_ptr<Card> card = m_card;
        m_engine = std::make_unique<CAudioPlay>(
            m_replies.sink(), [card] { return std::make_unique<SimulatedDevice>(card); }, options);
    }

    // An engine with a loaded song of `blocks` 64 KiB blocks of 16-bit stereo.
    void loaded(int blocks = 8, int32_t videoMs = -1, CAudioPlay::Options options = {})
    {
        makeEngine(options);
        if (videoMs >= 0)
            m_engine->setVideoLength(videoMs);
        m_engine->setPath(song("song.wav", size_t(blocks) * BlockBytes));
        m_engine->post(AP_LOAD);
        ASSERT_TRUE(m_replies.waitFor(AP_LOADED));
        ASSERT_EQ(m_replies.lastWParam(AP_LOADED), 0);
        ASSERT_EQ(m_engine->state(), CAudioPlay::Ready);
    }

    void playing(int startedCount = 1)
    {
        m_engine->post(AP_PLAY);
        ASSERT_TRUE(m_replies.waitFor(AP_STARTED, startedCount));
        ASSERT_EQ(m_replies.lastWParam(AP_STARTED), 0);
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

    bool writesReach(int writes)
    {
        return m_card->waitUntil([writes](const Stats &s) { return s.writes >= writes; });
    }

    // Plays one block's worth of device time and waits for the engine to queue the next one.
    void playBlock()
    {
        const int writes = m_card->stats().writes;
        m_card->advance(BlockUs);
        ASSERT_TRUE(writesReach(writes + 1));
    }

    test::TempDir m_dir;
    std::shared_ptr<Card> m_card;
    Replies m_replies;
    std::unique_ptr<CAudioPlay> m_engine;
};

TEST_F(EngineTest, LoadFailureRepliesOneAndEndsTheThread)
{
    makeEngine();
    m_engine->setPath(m_dir.path() / "missing.wav");
    m_engine->post(AP_LOAD);
    ASSERT_TRUE(m_replies.waitFor(AP_LOADED));
    EXPECT_EQ(m_replies.lastWParam(AP_LOADED), 1);
    EXPECT_TRUE(m_engine->waitEnded(10s));
    EXPECT_EQ(m_engine->state(), CAudioPlay::Empty);
    // Messages to an ended engine go nowhere.
    m_engine->post(AP_PLAY);
    EXPECT_EQ(m_replies.count(AP_STARTED), 0);
}

TEST_F(EngineTest, SecondLoadIsRefusedAndTheSongStays)
{
    loaded();
    m_engine->post(AP_LOAD);
    ASSERT_TRUE(m_replies.waitFor(AP_LOADED, 2));
    EXPECT_EQ(m_replies.lastWParam(AP_LOADED), 1);
    EXPECT_FALSE(m_engine->waitEnded(0ms));
    playing();
}

TEST_F(EngineTest, PlayQueuesTwoBlocksAndRefillsEachFinishedOne)
{
    loaded();
    playing();
    Stats stats = m_card->stats();
    EXPECT_EQ(stats.format.samplesPerSec, 44100u);
    EXPECT_EQ(stats.format.channels, 2);
    EXPECT_EQ(stats.prepares, 2);
    EXPECT_EQ(stats.writes, 2);
    EXPECT_EQ(m_engine->readPosition(), 2 * 16384);

    playBlock();
    playBlock();
    const auto written = m_card->written();
    ASSERT_EQ(written.size(), 4u);
    for (size_t i = 0; i < written.size(); ++i) {
        EXPECT_EQ(written[i].startByte, int64_t(i) * BlockBytes);
        EXPECT_EQ(headSample(written[i]), uint16_t(i * BlockBytes / 2)) << "block " << i;
    }
    EXPECT_EQ(m_engine->readPosition(), 4 * 16384);
    stats = m_card->stats();
    EXPECT_EQ(stats.queued, 2);
    EXPECT_EQ(stats.changedWhileQueued, 0);  // a queued block is never refilled
    EXPECT_EQ(stats.misuse, 0);

    // Play while playing is refused.
    m_engine->post(AP_PLAY);
    ASSERT_TRUE(m_replies.waitFor(AP_STARTED, 2));
    EXPECT_EQ(m_replies.lastWParam(AP_STARTED), 1);
    EXPECT_EQ(m_engine->state(), CAudioPlay::Playing);
}

TEST_F(EngineTest, PositionFollowsTheDeviceClockAtEverySpeed)
{
    loaded();
    int runs = 0;
    for (const int32_t divisor : {1, 2, 4}) {
        SCOPED_TRACE(divisor);
        m_engine->setSpeed(divisor);
        playing(++runs);
        EXPECT_EQ(m_card->stats().format.samplesPerSec, 44100u / divisor);
        // 5 ms steps over three blocks: every reading is the clock's bytes, converted exactly
        // to song time (half and quarter speed report song time, not device time).
        const int64_t rate = 176400 / divisor;
        auto heard = [&](int64_t us) { return us * rate / 1000000; };
        for (int64_t t = 5000; heard(t) <= 3 * BlockBytes; t += 5000) {
            const int writes = m_card->stats().writes;
            m_card->advance(5000);
            if (heard(t) / BlockBytes != heard(t - 5000) / BlockBytes) {
                ASSERT_TRUE(writesReach(writes + 1));
            }
            const int64_t bytes = heard(t) - heard(t) % 4;
            EXPECT_EQ(position(), std::make_pair(int32_t(bytes * 1000.0 / 176400 + 0.5),
                                                 int32_t(bytes / 4)))
                << "at " << t << " us";
        }
        m_engine->post(AP_STOP);
        ASSERT_TRUE(m_replies.waitFor(AP_STOPPED, runs));
    }
}

TEST_F(EngineTest, SeekRoundsUpToTheNextBlock)
{
    loaded();
    // 16-bit stereo: frame 1 is byte 4, which rounds up to 65,536 = frame 16,384.
    const std::pair<int32_t, int32_t> cases[] = {
        {1, 16384}, {0, 0}, {16384, 16384}, {16385, 32768}, {-5, 0}};
    for (const auto &[target, expected] : cases) {
        m_engine->post(AP_SEEK, target);
        EXPECT_TRUE(eventually([&] { return m_engine->readPosition() == expected; }))
            << "seek to " << target;
    }
    // 8-bit mono: frame 1 is byte 1, which rounds up to 65,536 = frame 65,536.
    m_engine->post(AP_QUIT);
    ASSERT_TRUE(m_engine->waitEnded(10s));
    makeEngine();
    m_engine->setPath(song("mono8.wav", 4 * BlockBytes, 1, 8, 22050));
    m_engine->post(AP_LOAD);
    ASSERT_TRUE(m_replies.waitFor(AP_LOADED, 2));
    m_engine->post(AP_SEEK, 1);
    EXPECT_TRUE(eventually([&] { return m_engine->readPosition() == 65536; }));
}

TEST_F(EngineTest, SeekWhilePlayingReopensAtTheBoundaryAndRestarts)
{
    loaded();
    playing();
    m_card->advance(100000);
    m_engine->post(AP_SEEK, 40000);  // byte 160,000 -> 196,608 = frame 49,152
    ASSERT_TRUE(m_replies.waitFor(AP_RESTARTED));
    EXPECT_EQ(m_replies.lastWParam(AP_RESTARTED), 0);
    EXPECT_EQ(m_engine->state(), CAudioPlay::Playing);
    const Stats stats = m_card->stats();
    EXPECT_EQ(stats.resets, 1);
    EXPECT_EQ(stats.closes, 1);
    EXPECT_EQ(stats.opens, 2);
    EXPECT_EQ(stats.unprepares, 2);  // unprepared before the close
    EXPECT_EQ(stats.misuse, 0);
    const auto written = m_card->written();
    ASSERT_EQ(written.size(), 4u);
    EXPECT_EQ(headSample(written[2]), uint16_t(196608 / 2));
    EXPECT_EQ(headSample(written[3]), uint16_t((196608 + BlockBytes) / 2));
    EXPECT_EQ(position(), std::make_pair(1115, 49152));  // 196,608 bytes at 176,400 per second
}

TEST_F(EngineTest, StopRewindsInEveryStoppableState)
{
    loaded();
    // Stopped already: rewinds and answers at once.
    m_engine->post(AP_SEEK, 50000);
    m_engine->post(AP_STOP);
    ASSERT_TRUE(m_replies.waitFor(AP_STOPPED));
    EXPECT_EQ(m_replies.lastWParam(AP_STOPPED), 0);
    EXPECT_EQ(m_engine->readPosition(), 0);
    EXPECT_EQ(m_engine->state(), CAudioPlay::Ready);
    EXPECT_EQ(m_card->stats().opens, 0);

    // Playing: reset, close, and the close notification finishes the stop.
    m_engine->post(AP_SEEK, 50000);
    playing();
    m_card->advance(20000);
    m_engine->post(AP_STOP);
    ASSERT_TRUE(m_replies.waitFor(AP_STOPPED, 2));
    EXPECT_EQ(m_engine->readPosition(), 0);
    EXPECT_EQ(m_engine->state(), CAudioPlay::Ready);
    const Stats stats = m_card->stats();
    EXPECT_FALSE(stats.open);
    EXPECT_EQ(stats.resets, 1);
    EXPECT_EQ(stats.misuse, 0);
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
    ASSERT_TRUE(m_replies.waitFor(AP_FINISHED));
    EXPECT_EQ(m_engine->state(), CAudioPlay::Ready);
    EXPECT_EQ(m_engine->readPosition(), 0);
    // The block still queued plays out, then the device is closed.
    EXPECT_TRUE(m_card->stats().open);
    m_card->advance(BlockUs);
    EXPECT_TRUE(m_card->waitUntil([](const Stats &s) { return !s.open; }));
    const Stats stats = m_card->stats();
    EXPECT_EQ(stats.buffersDone, 14);
    EXPECT_EQ(stats.unprepares, 2);
    EXPECT_EQ(stats.misuse, 0);
    const auto written = m_card->written();
    ASSERT_EQ(written.size(), 14u);
    for (size_t i = 0; i < written.size(); ++i)
        EXPECT_EQ(written[i].silent, i >= 3) << "block " << i;
    EXPECT_EQ(m_replies.count(AP_FINISHED), 1);

    // The next play opens the device afresh, from the start.
    playing(2);
    EXPECT_EQ(m_card->stats().opens, 2);
    EXPECT_EQ(headSample(m_card->written()[14]), 0);
}

TEST_F(EngineTest, TheLastBlockBeforeTheEndIsPlayed)
{
    // One block left at the start: the first fill takes it, the second finds the end. The
    // filled block must still be queued and heard.
    loaded(8);
    m_engine->post(AP_SEEK, 7 * 16384);
    m_engine->post(AP_PLAY);
    ASSERT_TRUE(m_replies.waitFor(AP_FINISHED));
    ASSERT_TRUE(m_replies.waitFor(AP_STARTED));
    EXPECT_EQ(m_replies.lastWParam(AP_STARTED), 0);
    EXPECT_EQ(m_engine->state(), CAudioPlay::Ready);
    const auto written = m_card->written();
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(headSample(written[0]), uint16_t(7 * BlockBytes / 2));
    m_card->advance(BlockUs);
    EXPECT_TRUE(m_card->waitUntil([](const Stats &s) { return !s.open; }));
    EXPECT_EQ(m_card->stats().buffersDone, 1);
}

TEST_F(EngineTest, ResumeAfterPauseStartsAtTheReadPosition)
{
    loaded();
    playing();
    playBlock();  // blocks 0..2 queued, block 0 heard
    m_card->advance(BlockUs / 2);
    m_engine->post(AP_PAUSE);
    ASSERT_TRUE(m_replies.waitFor(AP_PAUSED));
    EXPECT_EQ(m_replies.lastWParam(AP_PAUSED), 0);
    EXPECT_EQ(m_engine->state(), CAudioPlay::Ready);
    // The blocks that were queued at the pause are skipped.
    EXPECT_EQ(m_engine->readPosition(), 3 * 16384);
    EXPECT_FALSE(m_card->stats().open);

    playing(2);
    const auto written = m_card->written();
    ASSERT_EQ(written.size(), 5u);
    EXPECT_EQ(headSample(written[3]), uint16_t(3 * BlockBytes / 2));
    EXPECT_EQ(headSample(written[4]), uint16_t(4 * BlockBytes / 2));
    EXPECT_EQ(position().second, 3 * 16384);

    // Every opened device was closed and every prepared buffer unprepared.
    m_engine->post(AP_STOP);
    ASSERT_TRUE(m_replies.waitFor(AP_STOPPED));
    EXPECT_EQ(m_engine->state(), CAudioPlay::Ready);
    const Stats stats = m_card->stats();
    EXPECT_EQ(stats.opens, 2);
    EXPECT_EQ(stats.closes, 2);
    EXPECT_EQ(stats.prepares, 4);
    EXPECT_EQ(stats.unprepares, 4);
    EXPECT_EQ(stats.misuse, 0);
}

TEST_F(EngineTest, QuitWhilePlayingEndsOnlyAfterTheDeviceAcknowledged)
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
    const Stats stats = m_card->stats();
    EXPECT_FALSE(stats.detachedWhileHeld);
    EXPECT_FALSE(stats.attached);
    EXPECT_EQ(stats.resets, 1);
    EXPECT_EQ(m_engine->state(), CAudioPlay::Empty);
}

TEST_F(EngineTest, QuitGivesUpOnADeviceThatNeverAcknowledges)
{
    CAudioPlay::Options options;
    options.closeAcknowledgeTimeout = 1ms;
    loaded(4, -1, options);
    playing();
    m_card->holdCloseAcknowledgement(true);
    m_engine->post(AP_QUIT);
    ASSERT_TRUE(m_engine->waitEnded(10s));
    EXPECT_TRUE(m_card->stats().detachedWhileHeld);
}

TEST_F(EngineTest, DroppingTheHandleEndsTheEngine)
{
    loaded();
    playing();
    m_engine.reset();  // posts AP_QUIT, does not wait
    EXPECT_TRUE(CAudioPlay::waitForAllEngines(10s));
    EXPECT_FALSE(m_card->stats().attached);
    EXPECT_EQ(m_card->stats().closes, 1);
}

TEST_F(EngineTest, DeviceFailureMidPlayReturnsToReadyWithTheDeviceClosed)
{
    loaded();
    playing();
    playBlock();
    m_card->breakOutput();
    ASSERT_TRUE(m_replies.waitFor(AP_STOPPED));
    EXPECT_EQ(m_replies.lastWParam(AP_STOPPED), 1);
    EXPECT_EQ(m_engine->state(), CAudioPlay::Ready);
    EXPECT_TRUE(m_card->waitUntil([](const Stats &s) { return !s.open; }));
    // The engine plays again on the repaired device, from where it was.
    playing(2);
    EXPECT_EQ(headSample(m_card->written().back()), uint16_t(4 * BlockBytes / 2));

    // A refused write is a failure too, and so is a refused close while stopping.
    m_card->failNext(Card::Call::Write);
    m_card->advance(BlockUs);
    ASSERT_TRUE(m_replies.waitFor(AP_STOPPED, 2));
    EXPECT_EQ(m_replies.lastWParam(AP_STOPPED), 1);
    EXPECT_EQ(m_engine->state(), CAudioPlay::Ready);

    playing(3);
    m_card->failNext(Card::Call::Close);
    m_engine->post(AP_STOP);
    ASSERT_TRUE(m_replies.waitFor(AP_STOPPED, 3));
    EXPECT_EQ(m_replies.lastWParam(AP_STOPPED), 1);
    EXPECT_EQ(m_engine->state(), CAudioPlay::Ready);
    // The next play closes the abandoned device before opening it again.
    playing(4);
    EXPECT_EQ(m_card->stats().misuse, 0);
}

TEST_F(EngineTest, FailedOpenOrPrepareReturnsToReady)
{
    loaded();
    m_card->failNext(Card::Call::Open);
    m_engine->post(AP_PLAY);
    ASSERT_TRUE(m_replies.waitFor(AP_STARTED));
    EXPECT_EQ(m_replies.lastWParam(AP_STARTED), 1);
    EXPECT_EQ(m_engine->state(), CAudioPlay::Ready);

    m_card->failNext(Card::Call::Prepare);
    m_engine->post(AP_PLAY);
    ASSERT_TRUE(m_replies.waitFor(AP_STARTED, 2));
    EXPECT_EQ(m_replies.lastWParam(AP_STARTED), 1);
    EXPECT_EQ(m_engine->state(), CAudioPlay::Ready);
    EXPECT_TRUE(m_card->waitUntil([](const Stats &s) { return !s.open && s.closes == 1; }));

    // The stale open notification of the failed run starts nothing; a fresh play works.
    playing(3);
    EXPECT_EQ(m_replies.count(AP_STARTED), 3);
    EXPECT_EQ(m_card->stats().writes, 2);
}

TEST_F(EngineTest, PauseDuringASeekIsHonoured)
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
    ASSERT_TRUE(m_replies.waitFor(AP_PAUSED));
    EXPECT_EQ(m_engine->state(), CAudioPlay::Ready);
    EXPECT_EQ(m_card->stats().opens, 1);  // the seek did not reopen
    EXPECT_EQ(m_engine->readPosition(), 100000 * 4 / BlockBytes * 16384 + 16384);
}

TEST_F(EngineTest, StopOrPauseBeforeTheDeviceOpenedPlaysNothing)
{
    // A slow device: its open notification comes only with the close. The stop wins and the
    // late notification starts nothing.
    loaded();
    m_card->holdOpenAcknowledgement(true);
    m_engine->post(AP_PLAY);
    ASSERT_TRUE(m_card->waitUntil([](const Stats &s) { return s.openHeld; }));
    EXPECT_EQ(m_engine->state(), CAudioPlay::Opening);
    m_engine->post(AP_STOP);
    ASSERT_TRUE(m_replies.waitFor(AP_STOPPED));
    EXPECT_EQ(m_replies.lastWParam(AP_STOPPED), 0);

    m_engine->post(AP_SEEK, 16384);
    m_engine->post(AP_PLAY);
    ASSERT_TRUE(m_card->waitUntil([](const Stats &s) { return s.openHeld; }));
    m_engine->post(AP_PAUSE);
    ASSERT_TRUE(m_replies.waitFor(AP_PAUSED));
    EXPECT_EQ(m_engine->state(), CAudioPlay::Ready);
    EXPECT_EQ(m_engine->readPosition(), 16384);
    EXPECT_EQ(m_replies.count(AP_STARTED), 0);
    const Stats stats = m_card->stats();
    EXPECT_EQ(stats.writes, 0);
    EXPECT_FALSE(stats.open);
    EXPECT_EQ(stats.misuse, 0);

    // Acknowledged in time, the open starts playback as usual.
    m_engine->post(AP_PLAY);
    ASSERT_TRUE(m_card->waitUntil([](const Stats &s) { return s.openHeld; }));
    EXPECT_TRUE(m_card->acknowledgeOpen());
    ASSERT_TRUE(m_replies.waitFor(AP_STARTED));
    EXPECT_EQ(m_replies.lastWParam(AP_STARTED), 0);
}

// Clicks at the marks: in the bytes the device got from a silent song, a click starts on every
// mark's own sample frame at every speed (one that runs over a block's end included), and
// nothing sounds anywhere else.
TEST_F(EngineTest, ClicksStartOnTheMarksOwnSampleAtEverySpeed)
{
    const auto path = m_dir.path() / "silence.wav";
    test::writeFile(path, test::wavBytes(test::WavLayout{}, std::vector<uint8_t>(4 * BlockBytes, 0)));
    MarkClicks clicks;
    clicks.positions[0] = {16384 - 3, 3000, 40000};  // as made: unsorted
    clicks.positions[1] = {20000, 0};
    clicks.positions[2] = {50000, 65535};
    clicks.sort();
    std::vector<int64_t> expected;
    for (const auto &strip : clicks.positions)
        expected.insert(expected.end(), strip.begin(), strip.end());
    std::sort(expected.begin(), expected.end());
    const auto shared = std::make_shared<const MarkClicks>(clicks);
    for (int divisor : {1, 2, 4}) {
        SCOPED_TRACE(divisor);
        m_card = std::make_shared<Card>(Card::Clock::Driven);
        m_card->setRecording(true, true);
        makeEngine();
        m_engine->setPath(path);
        m_engine->post(AP_LOAD);
        ASSERT_TRUE(m_replies.waitFor(AP_LOADED, divisor == 1 ? 1 : divisor == 2 ? 2 : 3));
        m_engine->setSpeed(divisor);
        m_engine->setMarkClicks(shared);
        const int finished = m_replies.count(AP_FINISHED);
        m_engine->post(AP_PLAY);
        for (int i = 0; i < 8 && m_replies.count(AP_FINISHED) == finished; ++i) {
            const int writes = m_card->stats().writes;
            m_card->advance(BlockUs * divisor);
            m_card->waitUntil([writes](const Stats &s) { return s.writes > writes; }, 300ms);
        }
        ASSERT_GT(m_replies.count(AP_FINISHED), finished);
        std::vector<int16_t> left;  // the left channel of everything written, in order
        for (const Card::Written &w : m_card->written())
            for (size_t i = 0; i + 3 < w.bytes.size(); i += 4)
                left.push_back(int16_t(uint16_t(w.bytes[i] | (w.bytes[i + 1] << 8))));
        ASSERT_GE(left.size(), size_t(4 * 16384));  // then silence to the end of the time line
        // An onset: a sound after at least four silent frames (or at the start).
        std::vector<int64_t> onsets;
        int quiet = 4;
        for (size_t f = 0; f < left.size(); ++f) {
            if (left[f] != 0 && quiet >= 4)
                onsets.push_back(int64_t(f));
            quiet = left[f] == 0 ? quiet + 1 : 0;
        }
        EXPECT_EQ(onsets, expected);
        // The click 3 frames before the second block goes on in it.
        EXPECT_TRUE(std::any_of(left.begin() + 16384, left.begin() + 16394, [](int16_t v) { return v != 0; }));
        m_engine->post(AP_QUIT);
        ASSERT_TRUE(m_engine->waitEnded(10s));
        m_engine.reset();
    }
}

// Slow playback with the pitch kept, and loops: a song of 16-bit stereo made from a function of
// the frame, played on the driven clock; the left channel of what the device got comes back,
// with the engine's position read every 5 ms of device time.
struct Heard {
    std::vector<int16_t> left;
    std::vector<std::pair<int64_t, int32_t>> positions;  // {device frame, song frame}
    uint32_t deviceRate = 0;
};

class SlowTest : public EngineTest {
protected:
    template<typename Sample> std::filesystem::path songOf(int32_t frames, Sample sample)
    {
        std::vector<uint8_t> data(size_t(frames) * 4);
        for (int32_t f = 0; f < frames; ++f) {
            const auto v = uint16_t(int16_t(std::lrint(sample(f) * 32767.0)));
            for (int c = 0; c < 2; ++c) {
                data[size_t(f) * 4 + size_t(c) * 2] = uint8_t(v & 0xFF);
                data[size_t(f) * 4 + size_t(c) * 2 + 1] = uint8_t(v >> 8);
            }
        }
        const auto path = m_dir.path() / "slow.wav";
        test::writeFile(path, test::wavBytes(test::WavLayout{}, data));
        return path;
    }

    // Plays `path` from its start until `deviceFrames` have been heard.
    Heard play(const std::filesystem::path &path, int32_t divisor, bool keepPitch, int64_t deviceFrames,
             std::pair<int32_t, int32_t> loop = {0, 0})
    {
        Heard run;
        m_card = std::make_shared<Card>(Card::Clock::Driven);
        m_card->setRecording(true, true);
        makeEngine();
        m_engine->setPath(path);
        const int loads = m_replies.count(AP_LOADED);
        m_engine->post(AP_LOAD);
        EXPECT_TRUE(m_replies.waitFor(AP_LOADED, loads + 1));
        m_engine->setSpeed(divisor);
        m_engine->setKeepPitch(keepPitch);
        m_engine->setLoop(loop.first, loop.second);
        const int starts = m_replies.count(AP_STARTED);
        m_engine->post(AP_PLAY);
        EXPECT_TRUE(m_replies.waitFor(AP_STARTED, starts + 1));
        run.deviceRate = m_card->stats().format.samplesPerSec;
        const int64_t stepUs = 5000;
        for (int64_t t = stepUs; t * run.deviceRate / 1000000 < deviceFrames; t += stepUs) {
            const int64_t before = (t - stepUs) * run.deviceRate / 1000000 / 16384;
            m_card->advance(stepUs);
            const int64_t heard = t * run.deviceRate / 1000000;
            if (heard / 16384 != before && m_engine->state() == CAudioPlay::Playing) {
                const int writes = int(heard / 16384) + 2;
                m_card->waitUntil([writes](const Stats &s) { return s.writes >= writes; }, 2s);
            }
            const auto [ms, frames] = position();
            run.positions.push_back({heard, frames});
        }
        for (const Card::Written &w : m_card->written())
            for (size_t i = 0; i + 3 < w.bytes.size(); i += 4)
                run.left.push_back(int16_t(uint16_t(w.bytes[i] | (w.bytes[i + 1] << 8))));
        m_engine->post(AP_QUIT);
        EXPECT_TRUE(m_engine->waitEnded(10s));
        m_engine.reset();
        return run;
    }
};

// The frequency of a steady tone from its rising zero crossings, in Hz at `rate`.
double toneHz(const std::vector<int16_t> &left, size_t from, size_t to, uint32_t rate)
{
    double first = -1;
    double last = -1;
    int crossings = 0;
    for (size_t i = from + 1; i < std::min(to, left.size()); ++i) {
        if (left[i - 1] < 0 && left[i] >= 0) {
            const double at = double(i - 1) + double(-left[i - 1]) / double(left[i] - left[i - 1]);
            if (first < 0)
                first = at;
            last = at;
            ++crossings;
        }
    }
    return crossings < 2 ? 0.0 : (crossings - 1) * double(rate) / (last - first);
}

TEST_F(SlowTest, ATonePlayedSlowlyKeepsItsPitchOnlyWhenAsked)
{
    const auto path = songOf(2 * 44100, [](int32_t f) { return 0.5 * std::sin(2 * M_PI * 440.0 * f / 44100); });
    struct Case {
        int32_t divisor;
        bool keepPitch;
        double hz;
    };
    for (const Case c : {Case{1, true, 440}, Case{2, true, 440}, Case{4, true, 440},
                         Case{2, false, 220}, Case{4, false, 110}}) {
        SCOPED_TRACE(testing::Message() << c.divisor << (c.keepPitch ? " kept" : " lowered"));
        const Heard run = play(path, c.divisor, c.keepPitch, 4 * 16384);
        // Away from the start, where a stretch still settles.
        EXPECT_NEAR(toneHz(run.left, 8192, 4 * 16384, run.deviceRate), c.hz, 2.0);
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
    const auto path = songOf(3 * 44100, [](int32_t f) {
        const int32_t in = (f - 2205) % Every;
        return f >= 2205 && in < 441 ? 0.6 * std::sin(2 * M_PI * 1000.0 * in / 44100) : 0.0;
    });
    struct Case {
        int32_t divisor;
        bool keepPitch;
        std::pair<int32_t, int32_t> loop;
    };
    constexpr std::pair<int32_t, int32_t> Loop{2205 + Every, 2205 + 3 * Every};
    for (const Case c : {Case{2, true, {}}, Case{4, true, {}}, Case{1, true, {}}, Case{2, false, {}},
                         Case{2, true, Loop}, Case{4, true, Loop}}) {
        SCOPED_TRACE(testing::Message() << c.divisor << (c.keepPitch ? " kept" : " lowered") << " loop "
                                        << c.loop.first << "-" << c.loop.second);
        const Heard run = play(path, c.divisor, c.keepPitch, int64_t(c.divisor) * 50000, c.loop);
        const int32_t stretch = c.keepPitch ? c.divisor : 1;
        std::vector<double> clockMs;
        for (const auto &[heard, frames] : run.positions) {
            int64_t expected = c.loop.first + heard / stretch;
            if (c.loop.second > 0 && expected >= c.loop.second)
                expected = c.loop.first + (expected - c.loop.first) % (c.loop.second - c.loop.first);
            clockMs.push_back(std::abs(double(frames - expected)) * 1000.0 / 44100);
        }
        std::sort(clockMs.begin(), clockMs.end());
        ASSERT_GE(clockMs.size(), 20u);
        EXPECT_LE(clockMs[clockMs.size() / 2], 1.0);
        EXPECT_LE(clockMs.back(), 3.0);
        // Onsets: louder than a tenth of full scale after 20 ms below it.
        std::vector<double> burstMs;
        int64_t quiet = 882;
        for (size_t i = 0; i < run.left.size(); ++i) {
            const bool loud = std::abs(run.left[i]) > 3277;
            if (loud && quiet >= 882) {
                // The engine's position where the burst is heard, from the readings around it.
                auto after = std::lower_bound(run.positions.begin(), run.positions.end(),
                                              std::make_pair(int64_t(i), INT32_MIN));
                if (after != run.positions.begin() && after != run.positions.end()
                    && after->second > (after - 1)->second) {
                    const auto before = after - 1;
                    const double songAt = before->second + double(int64_t(i) - before->first)
                                                               / double(after->first - before->first)
                                                               * double(after->second - before->second);
                    const double burst = std::round((songAt - 2205) / Every) * Every + 2205;
                    burstMs.push_back(std::abs(songAt - burst) * 1000.0 / 44100);
                }
            }
            quiet = loud ? 0 : quiet + 1;
        }
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
        const Heard run = play(path, divisor, false, 3 * 16384, Loop);
        ASSERT_GE(run.left.size(), size_t(3 * 16384));
        int mismatches = 0;
        for (size_t k = 0; k < run.left.size(); ++k) {
            const int64_t frame = Loop.first + int64_t(k) % (Loop.second - Loop.first);
            mismatches += uint16_t(run.left[k]) != uint16_t(2 * frame);
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
    m_card->setRecording(true, true);
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
    playing(1);
    EXPECT_EQ(firstOfRun(0), Loop.first);  // from outside the loop: its start
    playBlock();                            // 16384 frames heard: the read position wrapped
    m_engine->post(AP_PAUSE);
    ASSERT_TRUE(m_replies.waitFor(AP_PAUSED));
    const int32_t paused = m_engine->readPosition();
    EXPECT_EQ(paused, 29152);  // 3 blocks read from 20000, wrapped once at 40000
    m_engine->setSpeed(4);
    playing(2);
    EXPECT_EQ(firstOfRun(0), paused);
    EXPECT_EQ(firstOfRun(int64_t(Loop.second - paused) * 4), Loop.first);  // and wraps
    m_engine->post(AP_PAUSE);
    ASSERT_TRUE(m_replies.waitFor(AP_PAUSED, 2));
    // A loop set while paused: inside it the song goes on, outside it starts at its start.
    const int32_t again = m_engine->readPosition();
    m_engine->setLoop(again - 100, again + 100);
    playing(3);
    EXPECT_EQ(firstOfRun(0), again);
    EXPECT_EQ(firstOfRun(100 * 4), again - 100);
    m_engine->post(AP_PAUSE);
    ASSERT_TRUE(m_replies.waitFor(AP_PAUSED, 3));
    m_engine->setLoop(Loop.first, Loop.second);
    m_engine->post(AP_STOP);
    ASSERT_TRUE(m_replies.waitFor(AP_STOPPED));
    EXPECT_EQ(m_engine->readPosition(), 0);
    m_engine->setSpeed(1);
    playing(4);
    EXPECT_EQ(firstOfRun(0), Loop.first);
    // Without a loop the song plays on from where it is.
    m_engine->post(AP_PAUSE);
    ASSERT_TRUE(m_replies.waitFor(AP_PAUSED, 4));
    const int32_t resumed = m_engine->readPosition();
    m_engine->setLoop(0, 0);
    playing(5);
    EXPECT_EQ(firstOfRun(int64_t(Loop.second - resumed) * 4), Loop.second % 32768);  // the pattern repeats
}

} // namespace
} // namespace vorn
