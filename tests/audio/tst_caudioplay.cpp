// Tests of the playback engine against the simulated device on a clock that the test drives.
#include "audio/caudioplay.h"
#include "audio/simulateddevice.h"
#include "said.h"
#include "support/tempdir.h"
#include "support/wavfile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <numeric>
#include <thread>

namespace vorn {
namespace {

using namespace std::chrono_literals;
using Card = SimulatedSoundCard;
using Stats = SimulatedSoundCard::Stats;
using enum CAudioPlay::State;

constexpr int64_t BlockBytes = 65536;
constexpr int32_t BlockFrames = 16384;  // of 16-bit stereo
// 16-bit stereo at 44,100 Hz: one 64 KiB block lasts 65536 / 176400 s.
constexpr int64_t BlockUs = (BlockBytes * 1000000 + 176399) / 176400;

// For states that no reply announces: checks again until true or ten seconds pass.
template<typename Predicate> bool eventually(Predicate predicate)
{
    for (const auto deadline = std::chrono::steady_clock::now() + 10s; !predicate(); std::this_thread::sleep_for(200us))
        if (std::chrono::steady_clock::now() > deadline)
            return false;
    return true;
}

// What a step does besides posting a message (the act is then the message itself).
enum Act : int32_t { Nothing, Advance, Blocks, Break, FailOpen, FailPrepare, FailWrite, FailClose, HoldClose,
                     HoldOpen, AckClose, AckOpen, CloseHeld, OpenHeld, InState, Closed };
constexpr int32_t Any = INT32_MIN;
constexpr AudioReply NoReply = AudioReply(0);

// One step: the act, then the `count`th `reply` saying `said` waited for (count 0: it never
// came), then the engine's state and read position (Any: not checked).
struct Step {
    int32_t act;
    int64_t arg = 0;
    AudioReply reply = NoReply;
    int count = 1;
    int32_t said = 0, state = Any, readPos = Any;
};

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override { newCard(); }
    // Whatever a test did, the engine kept the device's rules, never refilled a queued block,
    // and closed every device it opened and unprepared every buffer it prepared.
    void TearDown() override
    {
        quit();
        const Stats s = m_card->stats();
        EXPECT_EQ(std::make_pair(s.misuse, s.changedWhileQueued), std::make_pair(0, 0));
        EXPECT_EQ(std::make_pair(s.opens, s.prepares), std::make_pair(s.closes, s.unprepares));
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
        m_engine = std::make_unique<CAudioPlay>(
            [this](AudioReply reply, int32_t wParam) { m_replies.add(reply, wParam); },
            [card = m_card] { return std::make_unique<SimulatedDevice>(card); }, options);
        m_engine->setPath(path);
        m_engine->post(AP_LOAD);
    }
    void load(const std::filesystem::path &path, CAudioPlay::Options options = {})
    {
        const int loads = m_replies.count(AP_LOADED);
        start(path, options);
        ASSERT_TRUE(replied(AP_LOADED, loads + 1));
        ASSERT_EQ(m_engine->state(), Ready);
    }

    // An engine with a loaded song of `blocks` 64 KiB blocks of 16-bit stereo.
    void loaded(int blocks = 8, AudioPlayOptions options = {}) { load(song("song.wav", blocks * BlockBytes), options); }

    // Waits for the `count`th `reply` and checks its wParam.
    ::testing::AssertionResult replied(AudioReply reply, int count = 1, int32_t wParam = 0)
    {
        // Once a test has failed, the replies that a broken step never gives are not waited for.
        const auto [times, said] = m_replies.waitFor(reply, count, HasFailure() ? 100ms : 10s);
        if (times < count || said != wParam)
            return ::testing::AssertionFailure() << "reply " << reply << " came " << times << " times, saying " << said;
        return ::testing::AssertionSuccess();
    }

    void run(std::initializer_list<Step> steps)
    {
        for (const Step &s : steps) {
            SCOPED_TRACE(testing::Message() << "step " << &s - steps.begin() + 1);
            auto waitCard = [&](bool Stats::*flag, bool value = true) {
                ASSERT_TRUE(m_card->waitUntil([=](const Stats &st) { return st.*flag == value; }));
            };
            switch (s.act) {
            case Nothing: break;
            case Advance: m_card->advance(s.arg); break;
            case Blocks: for (int i = 0; i < s.arg; ++i) playBlock(); break;
            case Break: m_card->breakOutput(); break;
            case FailOpen: m_card->failNext(Card::Call::Open); break;
            case FailPrepare: m_card->failNext(Card::Call::Prepare); break;
            case FailWrite: m_card->failNext(Card::Call::Write); break;
            case FailClose: m_card->failNext(Card::Call::Close); break;
            case HoldClose: m_card->holdCloseAcknowledgement(s.arg); break;
            case HoldOpen: m_card->holdOpenAcknowledgement(s.arg); break;
            case AckClose: EXPECT_TRUE(m_card->acknowledgeClose()); break;
            case AckOpen: EXPECT_TRUE(m_card->acknowledgeOpen()); break;
            case CloseHeld: waitCard(&Stats::closeHeld); break;
            case OpenHeld: waitCard(&Stats::openHeld); break;
            case InState: ASSERT_TRUE(eventually([&] { return m_engine->state() == s.arg; })); break;
            case Closed: waitCard(&Stats::open, false); break;
            default: m_engine->post(AudioMessage(s.act), int32_t(s.arg));
            }
            if (s.reply != NoReply) {
                ASSERT_TRUE(s.count ? replied(s.reply, s.count, s.said) : replied(s.reply, 0, -1));
            }
            EXPECT_TRUE(s.state == Any || m_engine->state() == s.state) << "state " << m_engine->state();
            EXPECT_TRUE(s.readPos == Any || m_engine->readPosition() == s.readPos) << m_engine->readPosition();
        }
    }

    // The engine's {ms, frames}; {-1, -1} while it has no position.
    std::pair<int32_t, int32_t> position() const
    {
        int32_t ms = -1, frames = -1;
        return m_engine->position(ms, frames) == 0 ? std::make_pair(ms, frames) : std::make_pair(-1, -1);
    }
    // Plays one block's worth of device time and waits for the engine to queue the next one.
    void playBlock()
    {
        const int writes = m_card->stats().writes;
        m_card->advance(BlockUs);
        ASSERT_TRUE(m_card->waitUntil([writes](const Stats &s) { return s.writes > writes; }));
    }

    // The first samples of the written blocks from `from` on: with the index pattern, the block
    // that starts at song byte X holds X / 2 as a 16-bit value.
    std::vector<int32_t> heads(size_t from) const
    {
        std::vector<int32_t> result;
        const auto written = m_card->written();
        for (size_t i = from; i < written.size(); ++i)
            result.push_back(written[i].head[0] | (written[i].head[1] << 8));
        return result;
    }
    static int32_t headAt(int64_t songByte) { return uint16_t(songByte / 2); }

    test::TempDir m_dir;
    std::shared_ptr<Card> m_card;
    test::Said<AudioReply> m_replies;
    std::unique_ptr<CAudioPlay> m_engine;
};

const Step Play{AP_PLAY, 0, AP_STARTED, 1, 0, Playing};

TEST_F(EngineTest, LoadsOnceAndAFailedLoadEndsTheThread)
{
    loaded();
    run({{AP_LOAD, 0, AP_LOADED, 2, 1}, Play});
    EXPECT_FALSE(m_engine->waitEnded(0ms));
    start(m_dir.path() / "missing.wav");
    run({{Nothing, 0, AP_LOADED, 3, 1}});
    EXPECT_TRUE(m_engine->waitEnded(10s));
    EXPECT_EQ(m_engine->state(), Empty);
}

TEST_F(EngineTest, PlayQueuesTwoBlocksAndRefillsEachFinishedOne)
{
    loaded();
    run({Play, {Blocks, 2}, {AP_PLAY, 0, AP_STARTED, 2, 1, Playing}});  // play while playing is refused
    const auto written = m_card->written();
    ASSERT_EQ(written.size(), 4u);
    for (size_t i = 0; i < written.size(); ++i)
        EXPECT_EQ(written[i].startByte, int64_t(i) * BlockBytes);
    EXPECT_EQ(heads(0), (std::vector{headAt(0), headAt(BlockBytes), headAt(2 * BlockBytes), headAt(3 * BlockBytes)}));
    EXPECT_EQ(m_card->stats().queued, 2);
}

TEST_F(EngineTest, SeekRoundsUpToTheNextBlock)
{
    // 16-bit stereo: frame 1 is byte 4, which rounds up to 65,536 = frame 16,384; 8-bit mono:
    // frame 1 is byte 1, which rounds up to 65,536 = frame 65,536.
    const auto stereo16 = song("song.wav", 8 * BlockBytes);
    const auto mono8 = song("mono8.wav", 4 * BlockBytes, 1, 8, 22050);
    const struct { const std::filesystem::path &path; int32_t target, expected; } cases[] = {
        {stereo16, 1, 16384}, {stereo16, 0, 0}, {stereo16, 16384, 16384}, {stereo16, 16385, 32768}, {stereo16, -5, 0},
        {mono8, 1, 65536}};
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
    // Byte 160,000 rounds up to 196,608 = frame 49,152 = 1,115 ms.
    run({Play, {Advance, 100000}, {AP_SEEK, 40000, AP_RESTARTED, 1, 0, Playing}});
    EXPECT_EQ(m_card->stats().opens, 2);
    EXPECT_EQ(heads(2), (std::vector{headAt(196608), headAt(196608 + BlockBytes)}));
    EXPECT_EQ(position(), std::make_pair(1115, 49152));
}

TEST_F(EngineTest, StopRewindsInEveryStoppableState)
{
    loaded();
    // Stopped already: rewinds and answers at once.
    run({{AP_SEEK, 50000}, {AP_STOP, 0, AP_STOPPED, 1, 0, Ready, 0}});
    EXPECT_EQ(m_card->stats().opens, 0);
    // Playing: reset, close, and the close notification finishes the stop.
    run({{AP_SEEK, 50000}, Play, {Advance, 20000}, {AP_STOP, 0, AP_STOPPED, 2, 0, Ready, 0}});
    EXPECT_FALSE(m_card->stats().open);
    EXPECT_EQ(m_card->stats().resets, 1);
    EXPECT_EQ(position(), std::make_pair(-1, -1));  // no device, no position
    // Pause does nothing while stopped.
    run({{AP_PAUSE}, {AP_PLAY, 0, AP_STARTED, 2, 0, Playing}, {Nothing, 0, AP_PAUSED, 0}});
}

TEST_F(EngineTest, SilencePlaysPastTheDataUpToTheEndThenTheDeviceCloses)
{
    // Three blocks of song; a 3 s scenario stretches the time line to 4,999 ms = 220,456
    // frames, so blocks 3 to 13 are silence. The block still queued at the end plays out, then
    // the device is closed.
    loaded(3);
    m_engine->setVideoLength(3000);
    ASSERT_EQ(m_engine->clip().endPosition(), 220456);
    run({Play, {Blocks, 12, AP_FINISHED, 0}, {Advance, BlockUs, AP_FINISHED, 1, 0, Ready, 0}});
    EXPECT_TRUE(m_card->stats().open);
    run({{Advance, BlockUs}, {Closed}});
    EXPECT_EQ(m_card->stats().buffersDone, 14);
    const auto written = m_card->written();
    ASSERT_EQ(written.size(), 14u);
    for (size_t i = 0; i < written.size(); ++i)
        EXPECT_EQ(written[i].silent, i >= 3) << "block " << i;
    // The next play opens the device afresh, from the start.
    run({{AP_PLAY, 0, AP_STARTED, 2, 0, Playing}, {Nothing, 0, AP_FINISHED, 1}});
    EXPECT_EQ(m_card->stats().opens, 2);
    EXPECT_EQ(heads(14).at(0), 0);
}

TEST_F(EngineTest, TheLastBlockBeforeTheEndIsPlayed)
{
    // One block left at the start: the first fill takes it, the second finds the end. The
    // filled block must still be queued and heard.
    loaded(8);
    run({{AP_SEEK, 7 * BlockFrames}, {AP_PLAY, 0, AP_FINISHED}, {Nothing, 0, AP_STARTED, 1, 0, Ready}});
    EXPECT_EQ(heads(0), std::vector{headAt(7 * BlockBytes)});
    run({{Advance, BlockUs}, {Closed}});
    EXPECT_EQ(m_card->stats().buffersDone, 1);
}

TEST_F(EngineTest, ResumeAfterPauseStartsAtTheReadPosition)
{
    // Blocks 0..2 queued, block 0 heard: the blocks that were queued at the pause are skipped.
    loaded();
    run({Play, {Blocks, 1}, {Advance, BlockUs / 2}, {AP_PAUSE, 0, AP_PAUSED, 1, 0, Ready, 3 * BlockFrames}});
    EXPECT_FALSE(m_card->stats().open);
    run({{AP_PLAY, 0, AP_STARTED, 2, 0, Playing}});
    EXPECT_EQ(heads(3), (std::vector{headAt(3 * BlockBytes), headAt(4 * BlockBytes)}));
    EXPECT_EQ(position().second, 3 * BlockFrames);
}

// A quit waits for the device to acknowledge its close, up to a time-out; dropping the handle
// quits too.
TEST_F(EngineTest, QuitEndsOnlyAfterTheDeviceAcknowledgedOrGaveUp)
{
    loaded();
    run({Play, {HoldClose, 1}, {AP_QUIT}, {CloseHeld}});
    ASSERT_TRUE(eventually([&] { return m_engine->quitWaiting(); }));
    EXPECT_FALSE(m_engine->waitEnded(0ms));
    run({{AckClose}});
    ASSERT_TRUE(m_engine->waitEnded(10s));
    EXPECT_FALSE(m_card->stats().detachedWhileHeld);
    EXPECT_FALSE(m_card->stats().attached);
    EXPECT_EQ(m_engine->state(), Empty);

    newCard();
    loaded(4, {.closeAcknowledgeTimeout = 1ms});
    run({{AP_PLAY, 0, AP_STARTED, 2, 0, Playing}, {HoldClose, 1}, {AP_QUIT}});
    ASSERT_TRUE(m_engine->waitEnded(10s));
    EXPECT_TRUE(m_card->stats().detachedWhileHeld);

    newCard();
    loaded();
    run({{AP_PLAY, 0, AP_STARTED, 3, 0, Playing}});
    m_engine.reset();  // posts AP_QUIT, does not wait
    EXPECT_TRUE(CAudioPlay::waitForAllEngines(10s));
    EXPECT_FALSE(m_card->stats().attached);

    // A device dropped while its open is held takes the held open with it: nothing is left for
    // the card's next device.
    auto card = std::make_shared<Card>(Card::Clock::Driven);
    card->holdOpenAcknowledgement(true);
    ASSERT_EQ(SimulatedDevice(card).open({2, 16, 44100, 4}, [](void *, SoundNotification) {}, nullptr), 0);
    EXPECT_FALSE(card->acknowledgeOpen());
}

TEST_F(EngineTest, DeviceFailureMidPlayReturnsToReadyWithTheDeviceClosed)
{
    loaded();
    // The engine plays again on the repaired device, from where it was.
    run({Play, {Blocks, 1}, {Break, 0, AP_STOPPED, 1, 1, Ready}, {Closed}, {AP_PLAY, 0, AP_STARTED, 2, 0, Playing}});
    EXPECT_EQ(heads(m_card->written().size() - 1), std::vector{headAt(4 * BlockBytes)});
    // A refused write is a failure too, and so is a refused close while stopping; the next play
    // closes the abandoned device before opening it again. A refused open or prepare returns
    // to Ready; the stale open notification of the failed run starts nothing.
    run({{FailWrite}, {Advance, BlockUs, AP_STOPPED, 2, 1, Ready}, {AP_PLAY, 0, AP_STARTED, 3, 0, Playing},
         {FailClose}, {AP_STOP, 0, AP_STOPPED, 3, 1, Ready}, {AP_PLAY, 0, AP_STARTED, 4, 0, Playing},
         {AP_STOP, 0, AP_STOPPED, 4}, {FailOpen}, {AP_PLAY, 0, AP_STARTED, 5, 1, Ready}, {Closed},
         {FailPrepare}, {AP_PLAY, 0, AP_STARTED, 6, 1, Ready}, {Closed}});
    // A fresh play works.
    const int writes = m_card->stats().writes;
    run({{AP_PLAY, 0, AP_STARTED, 7, 0, Playing}});
    EXPECT_EQ(m_card->stats().writes, writes + 2);
}

// A stop or pause while the device opens or a seek reopens it wins: the late notification
// starts nothing.
TEST_F(EngineTest, StopOrPauseWhileTheDeviceOpensOrSeeksPlaysNothing)
{
    loaded();
    run({Play, {HoldClose, 1}, {AP_SEEK, 100000}, {CloseHeld, 0, NoReply, 1, 0, Seeking}, {AP_PAUSE},
         {InState, Pausing}, {HoldClose, 0},
         {AckClose, 0, AP_PAUSED, 1, 0, Ready, 100000 * 4 / BlockBytes * BlockFrames + BlockFrames}});
    EXPECT_EQ(m_card->stats().opens, 1);  // the seek did not reopen

    // A slow device: its open notification comes only with the close.
    const int writes = m_card->stats().writes;
    run({{HoldOpen, 1}, {AP_PLAY}, {OpenHeld, 0, NoReply, 1, 0, Opening}, {AP_STOP, 0, AP_STOPPED},
         {AP_SEEK, BlockFrames}, {AP_PLAY}, {OpenHeld}, {AP_PAUSE, 0, AP_PAUSED, 2, 0, Ready, BlockFrames}});
    EXPECT_EQ(m_replies.count(AP_STARTED), 1);
    EXPECT_EQ(m_card->stats().writes, writes);
    EXPECT_FALSE(m_card->stats().open);

    // Acknowledged in time, the open starts playback as usual.
    run({{AP_PLAY}, {OpenHeld}, {AckOpen, 0, AP_STARTED, 2}});
}

// What a run played: the device's bytes per channel as 16-bit values, with the engine's
// position read every 5 ms of device time.
struct Heard {
    std::vector<std::vector<int16_t>> channels = std::vector<std::vector<int16_t>>(2);
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
        Heard out;
        newCard();
        load(path);
        if (HasFatalFailure())
            return out;
        if (clicks)
            m_engine->setMarkClicks(std::make_shared<const MarkClicks>(*clicks));
        m_engine->setSpeed(divisor);
        m_engine->setKeepPitch(keepPitch);
        m_engine->setLoop(loop.first, loop.second);
        run({{AP_PLAY, 0, AP_STARTED, m_replies.count(AP_STARTED) + 1}});
        const SoundFormat format = m_card->stats().format;
        out.deviceRate = format.samplesPerSec;
        const int64_t blockFrames = BlockBytes / format.blockAlign;
        for (int64_t t = 5000; t * out.deviceRate / 1000000 < deviceFrames; t += 5000) {
            const int64_t before = (t - 5000) * out.deviceRate / 1000000 / blockFrames;
            m_card->advance(5000);
            const int64_t heard = t * out.deviceRate / 1000000;
            if (heard / blockFrames != before && m_engine->state() == Playing)
                m_card->waitUntil([&](const Stats &s) { return s.writes >= heard / blockFrames + 2; }, 2s);
            out.positions.push_back({heard, position().second});
        }
        out.channels.resize(size_t(format.channels));
        const int bytes = format.bitsPerSample / 8;
        for (const Card::Written &w : m_card->written())
            for (size_t i = 0; i + size_t(format.blockAlign) <= w.bytes.size(); i += size_t(format.blockAlign))
                for (int c = 0; c < format.channels; ++c) {
                    const uint8_t *p = &w.bytes[i + size_t(c * bytes)];
                    out.channels[size_t(c)].push_back(bytes == 2 ? int16_t(uint16_t(p[0] | (p[1] << 8)))
                                                                 : int16_t((p[0] - 128) * 256));
                }
        quit();
        return out;
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
    const struct { int32_t divisor; uint16_t channels, bits; } cases[] = {
        {1, 2, 16}, {2, 2, 16}, {4, 2, 16}, {1, 1, 8}, {2, 2, 8}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.divisor << ", " << c.channels << " channels, " << c.bits << " bits");
        const auto silence = songOf(2 * 65536, [](int, int32_t) { return 0.0; }, c.channels, c.bits);
        const Heard run = play(silence, c.divisor, false, 4 * BlockFrames, {0, 0}, &clicks);
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
    const struct { int32_t divisor; bool keepPitch; uint16_t channels, bits; } cases[] = {
        {1, true, 2, 16}, {2, true, 2, 16}, {4, true, 2, 16}, {2, false, 2, 16}, {4, false, 2, 16}, {2, true, 2, 8},
        {4, true, 1, 8},  {2, false, 1, 8}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.divisor << (c.keepPitch ? " kept, " : " lowered, ") << c.channels << "x" << c.bits);
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
            const auto from = x.begin() + 8192, to = x.begin() + 4 * BlockFrames;
            EXPECT_NEAR(std::accumulate(from, to, 0.0) / double(to - from), 0.0, 100.0) << k;
            const double rms = std::sqrt(std::inner_product(from, to, from, 0.0) / double(to - from));
            EXPECT_NEAR(rms, 0.5 * 32767 / M_SQRT2, 1000.0) << k;
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
    const struct { int32_t divisor; bool keepPitch; std::pair<int32_t, int32_t> loop; } cases[] = {
        {2, true, {}}, {4, true, {}}, {1, true, {}}, {2, false, {}}, {2, true, Loop}, {4, true, Loop}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.divisor << (c.keepPitch ? " kept" : " lowered") << " loop " << c.loop.first);
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
        run({{AP_PAUSE, 0, AP_PAUSED, count}});
        return m_engine->readPosition();
    };
    auto play = [&](int count) { run({{AP_PLAY, 0, AP_STARTED, count, 0, Playing}}); };
    play(1);
    EXPECT_EQ(firstOfRun(0), Loop.first);  // from outside the loop: its start
    playBlock();                            // 16384 frames heard: the read position wrapped
    const int32_t paused = pause(1);
    EXPECT_EQ(paused, 29152);  // 3 blocks read from 20000, wrapped once at 40000
    m_engine->setSpeed(4);
    play(2);
    EXPECT_EQ(firstOfRun(0), paused);
    EXPECT_EQ(firstOfRun(int64_t(Loop.second - paused) * 4), Loop.first);  // and wraps
    // A loop set while paused: inside it the song goes on, outside it starts at its start.
    const int32_t again = pause(2);
    m_engine->setLoop(again - 100, again + 100);
    play(3);
    EXPECT_EQ(firstOfRun(0), again);
    EXPECT_EQ(firstOfRun(100 * 4), again - 100);
    pause(3);
    m_engine->setLoop(Loop.first, Loop.second);
    run({{AP_STOP, 0, AP_STOPPED, 1, 0, Ready, 0}});
    m_engine->setSpeed(1);
    play(4);
    EXPECT_EQ(firstOfRun(0), Loop.first);
    // Without a loop the song plays on from where it is.
    const int32_t resumed = pause(4);
    m_engine->setLoop(0, 0);
    play(5);
    EXPECT_EQ(firstOfRun(int64_t(Loop.second - resumed) * 4), Loop.second % 32768);  // the pattern repeats
}

} // namespace
} // namespace vorn
