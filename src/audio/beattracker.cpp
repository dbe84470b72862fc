// Beat detection: the song is mixed to mono, low-passed to its bass and decimated, then libqm-dsp
// computes its onset detection function and TempoTrackV2 places the beats.
#include "audio/beattracker.h"

#include "audio/audioclip.h"
#include "base/cancel.h"

// libqm-dsp's headers use std algorithms without including <algorithm>.
#include <algorithm>

#include <dsp/onsets/DetectionFunction.h>
#include <dsp/tempotracking/TempoTrackV2.h>

#include <cmath>

namespace vorn {

namespace {

// Dance music puts hi-hats between the beats and loud stabs on the off-beats; fed the full
// band, the tracker locks onto them (measured: right tempo, beats half a beat out, or a 4/3
// tempo). Below 150 Hz only the kick and the bass remain.
constexpr double BassCutoffHz = 150;
// The decimated rate aims at about 5.5 kHz: ample for 150 Hz, and it makes the analysis of a
// ten-minute song cheap.
constexpr double AnalysisRateHz = 5512.5;
// libqm-dsp's beat tracker was tuned for a detection function step of 11.61 ms.
constexpr double StepSeconds = 0.01161;
// TempoTrackV2 skips the first two detection function values, which the phase vocoder fills
// from the silence before the song.
constexpr size_t SkippedValues = 2;
// TempoTrackV2 needs more than one 512-value window (plus its 128-value step) to find a tempo.
constexpr size_t MinTrackedValues = 512 + 128 + 1;

// A second-order Butterworth low-pass (the RBJ cookbook's biquad).
struct Biquad {
    Biquad(double cutoffHz, double rateHz)
    {
        const double w = 2 * M_PI * cutoffHz / rateHz;
        const double alpha = std::sin(w) / (2 * M_SQRT1_2);
        const double c = std::cos(w);
        const double a0 = 1 + alpha;
        b0 = (1 - c) / 2 / a0;
        b1 = (1 - c) / a0;
        b2 = b0;
        a1 = -2 * c / a0;
        a2 = (1 - alpha) / a0;
    }
    double run(double x)
    {
        const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
    double b0, b1, b2, a1, a2;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
};

// The clip's frames mixed to mono on a ±1 scale, low-passed forwards (which also keeps the
// decimation free of aliasing), decimated by `factor`, then low-passed backwards at the low
// rate: the two passes' phase shifts cancel, so the kicks stay where they are in time.
std::vector<double> bassOf(const AudioClip &clip, int factor)
{
    const double rate = clip.samplesPerSec();
    const int channels = clip.channels();
    const bool eightBit = clip.bitsPerSample() == 8;
    const int32_t frames = clip.streamLength();
    const uint8_t *data = clip.samples();
    const auto blockAlign = size_t(clip.blockAlign());

    // A song sampled too slowly to hold 150 Hz is filtered just below its Nyquist frequency.
    const double cutoff = std::min(BassCutoffHz, 0.45 * rate);
    Biquad forward1(cutoff, rate), forward2(cutoff, rate);
    std::vector<double> out;
    out.reserve(size_t(frames / factor) + 1);
    for (int32_t f = 0; f < frames; ++f) {
        // A cancelled detection drops its beats: what is left of the song is not read.
        if (f % 65536 == 0 && cancelRequested())
            return {};
        const uint8_t *frame = data + size_t(f) * blockAlign;
        double sum = 0;
        for (int c = 0; c < channels; ++c) {
            if (eightBit) {
                sum += (frame[c] - 128) / 128.0;
            } else {
                const uint8_t *p = frame + 2 * c;
                sum += int16_t(uint16_t(p[0] | (p[1] << 8))) / 32768.0;
            }
        }
        const double y = forward2.run(forward1.run(sum / channels));
        if (f % factor == 0)
            out.push_back(y);
    }
    const double lowRate = rate / factor;
    Biquad backward1(cutoff, lowRate), backward2(cutoff, lowRate);
    for (auto it = out.rbegin(); it != out.rend(); ++it)
        *it = backward2.run(backward1.run(*it));
    return out;
}

double strengthAt(const std::vector<double> &df, double position)
{
    // The detection function peaks within a step or two of an onset.
    const auto centre = int64_t(std::lround(position));
    double best = 0;
    for (int64_t i = centre - 2; i <= centre + 2; ++i)
        if (i >= 0 && i < int64_t(df.size()))
            best = std::max(best, df[size_t(i)]);
    return best;
}

double meanStrength(const std::vector<double> &df, const std::vector<double> &positions)
{
    double sum = 0;
    for (double p : positions)
        sum += strengthAt(df, p);
    return positions.empty() ? 0 : sum / double(positions.size());
}

// TempoTrackV2 prefers tempi near 120 BPM: on the generated songs it tracked every song from
// 70 to 170 BPM at its tempo, but those from about 172 BPM up at half of it. On the bass
// detection function a kick shows as a strong onset, so when the points halfway between the
// beats are about as strong as the beats themselves, they are beats too.
void restoreHalvedBeats(const std::vector<double> &df, std::vector<double> &beats)
{
    if (beats.size() < 8)
        return;
    std::vector<double> halfway;
    for (size_t i = 1; i < beats.size(); ++i)
        halfway.push_back((beats[i - 1] + beats[i]) / 2);
    if (meanStrength(df, halfway) <= 0.6 * meanStrength(df, beats))
        return;
    std::vector<double> both;
    for (size_t i = 0; i < beats.size(); ++i) {
        both.push_back(beats[i]);
        if (i < halfway.size())
            both.push_back(halfway[i]);
    }
    beats = std::move(both);
}

// The tracker carries its beats on through the quiet before the first kick and after the last
// one (and through the stillness a short song is padded with). Those beats mark nothing a
// listener hears: the leading and trailing beats without a tenth of the typical beat's onset
// strength go. Quiet passages inside the song keep theirs.
void trimSilentEnds(const std::vector<double> &df, std::vector<double> &beats)
{
    if (beats.empty())
        return;
    std::vector<double> strengths;
    for (double beat : beats)
        strengths.push_back(strengthAt(df, beat));
    std::vector<double> sorted = strengths;
    const auto middle = sorted.begin() + std::ptrdiff_t(sorted.size() / 2);
    std::nth_element(sorted.begin(), middle, sorted.end());
    const double floor = 0.1 * *middle;
    size_t first = 0;
    size_t last = beats.size();
    while (first < last && strengths[first] < floor)
        ++first;
    while (last > first && strengths[last - 1] < floor)
        --last;
    beats = std::vector<double>(beats.begin() + std::ptrdiff_t(first), beats.begin() + std::ptrdiff_t(last));
}

} // namespace

BeatResult findBeats(const AudioClip &clip)
{
    BeatResult result;
    if (!clip.isLoaded() || clip.streamLength() <= 0)
        return result;

    const int factor = std::max(1, int(clip.samplesPerSec() / AnalysisRateHz));
    const double lowRate = double(clip.samplesPerSec()) / factor;
    const std::vector<double> bass = bassOf(clip, factor);

    DFConfig config{};
    config.stepSize = std::max(1u, unsigned(lowRate * StepSeconds + 0.0001));
    config.frameLength = 2 * config.stepSize;
    config.DFType = DF_COMPLEXSD;
    config.dbRise = 3;
    config.adaptiveWhitening = false;
    config.whiteningRelaxCoeff = -1;
    config.whiteningFloor = -1;
    DetectionFunction detection(config);

    std::vector<double> df;
    std::vector<double> frame(config.frameLength);
    for (size_t start = 0; start < bass.size(); start += config.stepSize) {
        if (cancelRequested())
            return result;
        const size_t count = std::min(bass.size() - start, size_t(config.frameLength));
        std::copy_n(bass.begin() + std::ptrdiff_t(start), count, frame.begin());
        std::fill(frame.begin() + std::ptrdiff_t(count), frame.end(), 0.0);
        df.push_back(detection.processTimeDomain(frame.data()));
    }
    if (df.size() <= SkippedValues + 8)
        return result;
    df.erase(df.begin(), df.begin() + SkippedValues);
    // Without a single onset the tracker still lays out a beat; a silent song has none.
    if (*std::max_element(df.begin(), df.end()) <= 0)
        return result;

    // The tracker finds the tempo in windows of 512 values (about 6 s) and without a whole
    // one yields a single beat at the end; a shorter song is padded with stillness.
    const size_t songValues = df.size();
    if (df.size() < MinTrackedValues)
        df.resize(MinTrackedValues, 0.0);

    TempoTrackV2 tracker(float(lowRate), config.stepSize);
    std::vector<double> beatPeriod(df.size(), 0.0);  // must come sized, or the tracker crashes
    std::vector<double> tempi;
    tracker.calculateBeatPeriod(df, beatPeriod, tempi);
    if (cancelRequested())
        return result;
    std::vector<double> beats;
    tracker.calculateBeats(df, beatPeriod, beats);
    beats.erase(std::find_if(beats.begin(), beats.end(), [&](double beat) { return beat >= double(songValues); }),
                beats.end());
    restoreHalvedBeats(df, beats);
    trimSilentEnds(df, beats);

    // Detection function value i (after the skipped ones) describes the frame starting at
    // (i + SkippedValues) steps. Its start is where the kick begins: taking the frame's centre
    // put the beats 18 ms late on the generated songs, its start 7 ms.
    for (double beat : beats) {
        const double lowFrame = (beat + SkippedValues) * config.stepSize;
        const auto songFrame = int32_t(std::min<double>(std::lround(lowFrame * factor), clip.streamLength()));
        result.beatsMs.push_back(clip.sampleFramesToMs(songFrame));
    }
    std::sort(result.beatsMs.begin(), result.beatsMs.end());
    result.beatsMs.erase(std::unique(result.beatsMs.begin(), result.beatsMs.end()), result.beatsMs.end());

    // The tempo the beats keep, in tenths of a BPM. Beats fall on whole detection function
    // steps (11.6 ms), so one interval is coarse: the mean of the intervals near the median is
    // not, and the odd gap or double beat stays out of it.
    if (beats.size() >= 2) {
        std::vector<double> intervals;
        for (size_t i = 1; i < beats.size(); ++i)
            intervals.push_back(beats[i] - beats[i - 1]);
        std::vector<double> sorted = intervals;
        const auto middle = sorted.begin() + std::ptrdiff_t(sorted.size() / 2);
        std::nth_element(sorted.begin(), middle, sorted.end());
        const double median = *middle;
        double sum = 0;
        int count = 0;
        for (double interval : intervals) {
            if (std::fabs(interval - median) <= 0.1 * median) {
                sum += interval;
                ++count;
            }
        }
        const double seconds = count > 0 ? sum / count * config.stepSize / lowRate : 0;
        if (seconds > 0)
            result.tempoBpm = std::round(600.0 / seconds) / 10;
    }
    return result;
}

} // namespace vorn
