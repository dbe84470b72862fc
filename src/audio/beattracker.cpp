// Beat detection by two trackers on one decimated mix. The band tracker: spectral flux over four
// bands (kick and bass, low mids, mids, highs) gives the onset detection function; the tempo is
// followed through the song by a Viterbi path over comb-filtered autocorrelations weighted by a
// log-normal prior around 120 BPM, where listeners tap; libqm-dsp's TempoTrackV2 places the
// beats; then the metrical level (beat, eighth or half note, by the drums' pattern) and the phase
// (on or off the beat) are chosen explicitly. The bass tracker (libqm-dsp alone on the song below
// 150 Hz) wins where a kick carries the beat under louder off-beat sounds and its beats stand out
// clearly.
#include "audio/beattracker.h"

#include "audio/audioclip.h"
#include "base/cancel.h"

// libqm-dsp's headers use std algorithms without including <algorithm>.
#include <algorithm>

#include <dsp/onsets/DetectionFunction.h>
#include <dsp/tempotracking/TempoTrackV2.h>
#include <dsp/transforms/FFT.h>

#include <array>
#include <cmath>
#include <numeric>

namespace vorn {

namespace {

// About 11 kHz keeps everything up to the hi-hats' body and makes a ten-minute song cheap.
constexpr double AnalysisRateHz = 11025;
constexpr int FrameLength = 512;
// libqm-dsp's beat tracker was tuned for a detection function step of 11.61 ms.
constexpr double StepSeconds = 0.01161;

// The bands' edges in Hz and their weights in the detection function. The kick and the bass
// carry the beat in most music, so their band counts most; the highs hold hi-hats, which mark
// every eighth or sixteenth and count least.
constexpr std::array<double, 5> BandEdgesHz = {30, 150, 500, 2000, 5000};
constexpr std::array<double, 4> BandWeights = {1.5, 1.2, 1.2, 0.6};

// Tempo analysis windows: about 6 s, moving by 1.5 s.
constexpr size_t TempoWindow = 512;
constexpr size_t TempoHop = 128;
// Tempi searched, and the prior: a log-normal centred where listeners tap.
constexpr double MinBpm = 50;
constexpr double MaxBpm = 220;
constexpr double PriorCentreBpm = 120;
constexpr double PriorOctaves = 0.9;
// Tempo may drift by this much (octaves) from one window to the next; a jump costs a fixed price.
constexpr double DriftOctaves = 0.04;
constexpr double JumpProbability = 1e-4;
// The mids' onsets between the beats must be this much stronger than on them to move the beats.
constexpr double PhaseMargin = 1.2;
// The backbeat between the beats: the snare band's accents there must alternate this much more
// than on the beats, and the drums there reach this share of those on the beats.
constexpr double BackbeatPhaseMargin = 1.3;
constexpr double BackbeatDrums = 0.5;
// Frames this far below the song's median energy (30 dB) are silence for the ends' trimming.
constexpr double QuietEnergy = 1e-3;
// The bass tracker's beats are taken when their confidence reaches this.
constexpr double HybridBassConfidence = 0.7;
// Level choice: every other beat this much weaker means eighths. Periods in detection function
// steps (43: 120 BPM).
constexpr double HalvingRatio = 0.42;
constexpr double MaxHalvedPeriod = 104;  // 50 BPM
// Doubling by the backbeat: the mids on the beats against between them, and how evenly they fall
// on every beat (most against least of the two alternate halves).
constexpr double BackbeatMids = 2.0;
constexpr double BackbeatEvenness = 1.35;

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

// The clip's frames mixed to mono on a ±1 scale and decimated by `factor`, each value the mean of
// `factor` frames: that box filter's nulls fall on the multiples of the new rate, enough against
// aliasing for onsets, and it costs a fraction of a proper low-pass at the full rate (measured:
// two biquads took a fifth of the analysis).
std::vector<float> monoOf(const AudioClip &clip, int factor)
{
    const int channels = clip.channels();
    const bool eightBit = clip.bitsPerSample() == 8;
    const int32_t frames = clip.streamLength();
    const uint8_t *data = clip.samples();
    const auto blockAlign = size_t(clip.blockAlign());
    const float scale = 1.0f / float(channels * factor) / (eightBit ? 128.0f : 32768.0f);

    std::vector<float> out;
    out.reserve(size_t(frames / factor) + 1);
    for (int32_t start = 0; start < frames; start += factor) {
        // A cancelled detection drops its beats: what is left of the song is not read.
        if (start % (factor << 16) == 0 && cancelRequested())
            return {};
        const int32_t end = std::min(frames, start + factor);
        int32_t sum = 0;
        for (int32_t f = start; f < end; ++f) {
            const uint8_t *frame = data + size_t(f) * blockAlign;
            for (int c = 0; c < channels; ++c)
                sum += eightBit ? frame[c] - 128 : int16_t(uint16_t(frame[2 * c] | (frame[2 * c + 1] << 8)));
        }
        out.push_back(float(sum) * scale);
    }
    return out;
}

struct Onsets {
    std::vector<double> full;  // all bands, weighted
    std::vector<double> low;   // the kick and bass band
    std::vector<double> drums; // the low and high mids: the snare, the clap and the kick's click
    std::vector<double> snare; // the high mids alone, where the snare and the clap crack
    std::vector<double> energy; // of each frame's spectrum
};

// Spectral flux of the log-compressed magnitude spectrum, per band, each band scaled to a mean
// of one over the song so that a loud band cannot drown the others. Value i describes the frame
// that starts at step i.
Onsets onsetsOf(const std::vector<float> &mono, double rate, size_t step)
{
    // Log compression makes the flux follow relative changes; the song is first brought to a
    // fixed loudness so that quiet and loud songs compress alike.
    double energy = 0;
    for (float v : mono)
        energy += double(v) * v;
    const double rms = std::sqrt(energy / std::max<size_t>(1, mono.size()));
    const double gain = rms > 0 ? 0.1 / rms : 0;

    std::array<size_t, 5> edges{};
    for (size_t b = 0; b < edges.size(); ++b)
        edges[b] = std::min<size_t>(FrameLength / 2, size_t(std::lround(BandEdgesHz[b] * FrameLength / rate)));
    edges[0] = std::max<size_t>(edges[0], 1);

    std::vector<double> window(FrameLength);
    for (int i = 0; i < FrameLength; ++i)
        window[size_t(i)] = 0.5 - 0.5 * std::cos(2 * M_PI * i / FrameLength);

    const size_t count = mono.empty() ? 0 : (mono.size() - 1) / step + 1;
    std::array<std::vector<double>, 4> bands;
    for (auto &band : bands)
        band.assign(count, 0.0);
    std::vector<double> energies(count, 0.0);
    FFTReal fft(FrameLength);
    std::vector<double> frame(FrameLength), magnitude(FrameLength), previous(FrameLength / 2 + 1, 0.0);
    for (size_t i = 0; i < count; ++i) {
        if (i % 4096 == 0 && cancelRequested())
            return {};
        const size_t start = i * step;
        for (size_t k = 0; k < size_t(FrameLength); ++k)
            frame[k] = start + k < mono.size() ? mono[start + k] * gain * window[k] : 0.0;
        fft.forwardMagnitude(frame.data(), magnitude.data());
        double energy = 0;
        for (size_t k = 0; k <= size_t(FrameLength / 2); ++k)
            energy += magnitude[k] * magnitude[k];
        energies[i] = energy;
        for (size_t b = 0; b < bands.size(); ++b) {
            double flux = 0;
            for (size_t k = edges[b]; k < edges[b + 1]; ++k) {
                const double level = std::log1p(100 * magnitude[k]);
                flux += std::max(0.0, level - previous[k]);
                previous[k] = level;
            }
            bands[b][i] = flux;
        }
    }

    Onsets onsets;
    onsets.energy = std::move(energies);
    onsets.full.assign(count, 0.0);
    for (size_t b = 0; b < bands.size(); ++b) {
        const double mean = std::accumulate(bands[b].begin(), bands[b].end(), 0.0) / std::max<size_t>(1, count);
        if (mean <= 0)
            continue;
        for (size_t i = 0; i < count; ++i)
            onsets.full[i] += BandWeights[b] * bands[b][i] / mean;
        if (b == 0) {
            onsets.low.resize(count, 0.0);
            for (size_t i = 0; i < count; ++i)
                onsets.low[i] = bands[b][i] / mean;
        }
        if (b == 2) {
            onsets.snare.resize(count, 0.0);
            for (size_t i = 0; i < count; ++i)
                onsets.snare[i] = bands[b][i] / mean;
        }
        if (b == 1 || b == 2) {
            onsets.drums.resize(count, 0.0);
            for (size_t i = 0; i < count; ++i)
                onsets.drums[i] += bands[b][i] / mean;
        }
    }
    if (onsets.drums.empty())
        onsets.drums.assign(count, 0.0);
    if (onsets.low.empty())
        onsets.low.assign(count, 0.0);
    if (onsets.snare.empty())
        onsets.snare.assign(count, 0.0);
    return onsets;
}

// The detection function less its local mean (about a third of a second each side), kept
// positive: what stands out of the texture around it.
std::vector<double> peaksOf(const std::vector<double> &df)
{
    const ptrdiff_t reach = 28;
    const auto n = ptrdiff_t(df.size());
    std::vector<double> prefix(df.size() + 1, 0.0);
    for (size_t i = 0; i < df.size(); ++i)
        prefix[i + 1] = prefix[i] + df[i];
    std::vector<double> out(df.size());
    for (ptrdiff_t i = 0; i < n; ++i) {
        const ptrdiff_t a = std::max<ptrdiff_t>(0, i - reach), b = std::min(n, i + reach + 1);
        const double mean = (prefix[size_t(b)] - prefix[size_t(a)]) / double(b - a);
        out[size_t(i)] = std::max(0.0, df[size_t(i)] - mean);
    }
    return out;
}

// The candidate beat periods in detection function steps, half a step apart.
struct TempoGrid {
    std::vector<double> periods;
    std::vector<double> prior;
};

TempoGrid tempoGrid(double stepsPerSecond)
{
    TempoGrid grid;
    const double shortest = 60.0 / MaxBpm * stepsPerSecond;
    const double longest = 60.0 / MinBpm * stepsPerSecond;
    const double centre = 60.0 / PriorCentreBpm * stepsPerSecond;
    for (double p = std::ceil(shortest * 2) / 2; p <= longest; p += 0.5) {
        grid.periods.push_back(p);
        const double octaves = std::log2(p / centre) / PriorOctaves;
        grid.prior.push_back(std::exp(-0.5 * octaves * octaves));
    }
    return grid;
}

double at(const std::vector<double> &r, double lag)
{
    const auto i = size_t(lag);
    if (i + 1 >= r.size())
        return 0;
    const double f = lag - double(i);
    return r[i] * (1 - f) + r[i + 1] * f;
}

// How strongly the window repeats at each period of the grid: its autocorrelation summed at one
// to four periods (a comb, so that a period whose multiples also repeat wins over a stray peak),
// each tooth a little wider than the last to allow for rounding.
std::vector<double> combScores(const double *x, size_t n, const TempoGrid &grid)
{
    const auto maxLag = size_t(grid.periods.back() * 4 + 4);
    std::vector<double> r(std::min(maxLag, n), 0.0);
    for (size_t lag = 0; lag < r.size(); ++lag) {
        double sum = 0;
        for (size_t i = lag; i < n; ++i)
            sum += x[i] * x[i - lag];
        r[lag] = sum / double(n - lag);
    }
    std::vector<double> scores(grid.periods.size(), 0.0);
    for (size_t j = 0; j < grid.periods.size(); ++j) {
        double score = 0;
        for (int a = 1; a <= 4; ++a) {
            double tooth = 0;
            for (int b = 1 - a; b <= a - 1; ++b)
                tooth += at(r, a * grid.periods[j] + b);
            score += tooth / (2 * a - 1);
        }
        scores[j] = score;
    }
    return scores;
}

// The beat period at every detection function step: the most likely path through the windows'
// prior-weighted comb scores, drifting smoothly or, rarely, jumping.
std::vector<double> beatPeriods(const std::vector<double> &peaks, const TempoGrid &grid)
{
    const size_t states = grid.periods.size();
    const size_t windows = peaks.size() <= TempoWindow ? 1 : (peaks.size() - TempoWindow) / TempoHop + 1;
    std::vector<std::vector<double>> logObs(windows);
    for (size_t w = 0; w < windows; ++w) {
        const size_t start = w * TempoHop;
        const size_t n = std::min(TempoWindow, peaks.size() - start);
        std::vector<double> scores = combScores(peaks.data() + start, n, grid);
        double total = 0;
        for (size_t j = 0; j < states; ++j) {
            scores[j] = std::max(0.0, scores[j]) * grid.prior[j];
            total += scores[j];
        }
        logObs[w].resize(states);
        for (size_t j = 0; j < states; ++j)
            logObs[w][j] = std::log(total > 0 ? scores[j] / total + 1e-6 : 1.0);
    }

    std::vector<std::vector<double>> logMove(states, std::vector<double>(states));
    for (size_t i = 0; i < states; ++i)
        for (size_t j = 0; j < states; ++j) {
            const double octaves = std::log2(grid.periods[j] / grid.periods[i]) / DriftOctaves;
            logMove[i][j] = std::log(std::exp(-0.5 * octaves * octaves) + JumpProbability);
        }
    std::vector<double> best = logObs[0];
    std::vector<std::vector<size_t>> from(windows, std::vector<size_t>(states, 0));
    for (size_t w = 1; w < windows; ++w) {
        std::vector<double> next(states);
        for (size_t j = 0; j < states; ++j) {
            size_t arg = 0;
            double value = -1e300;
            for (size_t i = 0; i < states; ++i) {
                const double v = best[i] + logMove[i][j];
                if (v > value) {
                    value = v;
                    arg = i;
                }
            }
            next[j] = value + logObs[w][j];
            from[w][j] = arg;
        }
        best = std::move(next);
    }
    std::vector<size_t> path(windows);
    path[windows - 1] = size_t(std::max_element(best.begin(), best.end()) - best.begin());
    for (size_t w = windows - 1; w > 0; --w)
        path[w - 1] = from[w][path[w]];

    // Each step takes the period of the window centred nearest to it.
    std::vector<double> periods(peaks.size());
    for (size_t i = 0; i < peaks.size(); ++i) {
        const double centre = (double(i) - TempoWindow / 2.0) / TempoHop;
        const auto w = size_t(std::clamp(std::lround(centre), 0L, long(windows - 1)));
        periods[i] = grid.periods[path[w]];
    }
    return periods;
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

// The tracker carries its beats on through the quiet before the first onset and after the last
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

// The metrical level. The tempo prior leans towards 120 BPM, so a slow song with eighth notes
// may be tracked at the eighth and a fast one at the half note. When every other beat is much
// weaker than the rest, those are eighths between the beats: the stronger half stays. (Doubling
// when the halfway points were strong was tried: it doubled reggae, hip-hop and strummed guitar.)
void chooseLevel(const std::vector<double> &drums, std::vector<double> &beats)
{
    if (beats.size() < 8)
        return;
    std::array<double, 2> parity{};
    for (size_t i = 1; i < beats.size(); ++i)
        parity[i % 2] += strengthAt(drums, beats[i]);
    const double period = (beats.back() - beats.front()) / double(beats.size() - 1);
    if (std::min(parity[0], parity[1]) < HalvingRatio * std::max(parity[0], parity[1]) && period * 2 < MaxHalvedPeriod) {
        const size_t keep = parity[0] >= parity[1] ? 0 : 1;
        std::vector<double> kept;
        for (size_t i = 0; i < beats.size(); ++i)
            if (i % 2 == keep || (i == 0 && keep == 0))
                kept.push_back(beats[i]);
        beats = std::move(kept);
    }
}

// The other side of the metrical level: fast drum and bass and punk are tracked at half their
// tempo, with the snare on every beat and the kick between. Played at its tempo a backbeat puts
// the snare on every other beat; so when the mids' sharp onsets fall on every beat alike, clearly
// above the points between, and the low band's onsets fall between the beats as strongly as on
// them, the points between are beats too. (Low onsets alone between the beats also mark reggae's
// off-beat bass and chords: there the mids are as strong between the beats as on them.)
bool restoreBackbeat(const std::vector<double> &low, const std::vector<double> &mids, double shortestDoubled,
                     std::vector<double> &beats)
{
    if (beats.size() < 8)
        return false;
    const double period = (beats.back() - beats.front()) / double(beats.size() - 1);
    if (period < shortestDoubled)
        return false;
    std::array<double, 2> midsOn{};
    double lowOn = 0, lowOff = 0, midsOff = 0;
    std::vector<double> both;
    for (size_t i = 1; i < beats.size(); ++i) {
        const double halfway = (beats[i - 1] + beats[i]) / 2;
        midsOn[i % 2] += strengthAt(mids, beats[i]);
        midsOff += strengthAt(mids, halfway);
        lowOn += strengthAt(low, beats[i]);
        lowOff += strengthAt(low, halfway);
        both.push_back(beats[i - 1]);
        both.push_back(halfway);
    }
    both.push_back(beats.back());
    const double mostMids = std::max(midsOn[0], midsOn[1]), leastMids = std::min(midsOn[0], midsOn[1]);
    if (lowOff < lowOn || mostMids + leastMids < BackbeatMids * midsOff || mostMids > BackbeatEvenness * leastMids)
        return false;
    beats = std::move(both);
    return true;
}

// Off-beat chords, stabs, bass and open hi-hats can be louder than what falls on the beat and
// pull the beats half a beat out. The snare, the clap and the kick's click (the mids' sharp
// onsets) mostly sit on the beat: when they fall halfway between the beats rather than on them,
// the beats move there. So do they when the backbeat does: the snare or clap on every other
// beat (reggae's one drop on every third) makes the snare band alternate from beat to beat, while
// off-beat chords, bass and open hi-hats come alike on every off-beat. House, whose off-beat bass
// and hi-hat outweigh the kick in every band, and reggae, whose off-beat chords do, show that
// alternation between their beats.
void choosePhase(const std::vector<double> &drums, const std::vector<double> &snare, std::vector<double> &beats)
{
    if (beats.size() < 4)
        return;
    double on = 0, off = 0;
    std::array<double, 2> snareOn{}, snareOff{};
    std::vector<double> halfway;
    for (size_t i = 1; i < beats.size(); ++i) {
        halfway.push_back((beats[i - 1] + beats[i]) / 2);
        on += strengthAt(drums, beats[i]);
        off += strengthAt(drums, halfway.back());
        snareOn[i % 2] += strengthAt(snare, beats[i]);
        snareOff[i % 2] += strengthAt(snare, halfway.back());
    }
    const auto [leastOn, mostOn] = std::minmax(snareOn[0], snareOn[1]);
    const auto [leastOff, mostOff] = std::minmax(snareOff[0], snareOff[1]);
    const bool backbeatBetween = off >= BackbeatDrums * on && mostOff * leastOn > BackbeatPhaseMargin * mostOn * leastOff;
    if (off <= on * PhaseMargin && !backbeatBetween)
        return;
    // The half beat before the first beat keeps the count.
    halfway.insert(halfway.begin(), beats[0] - (beats[1] - beats[0]) / 2);
    if (halfway.front() < 0)
        halfway.erase(halfway.begin());
    beats = std::move(halfway);
}

// How much more onset there is on the beat grid (the beats and the points halfway between them,
// so that off-beat accents count for it) than on the sixteenths between, as 0 (the grid explains
// nothing) to 1.
double gridConfidence(const std::vector<double> &df, const std::vector<double> &beats)
{
    if (beats.size() < 4)
        return 0;
    double grid = 0, between = 0;
    for (size_t i = 1; i < beats.size(); ++i) {
        const double a = beats[i - 1], d = beats[i] - a;
        grid += strengthAt(df, a) + strengthAt(df, a + d / 2);
        between += strengthAt(df, a + d / 4) + strengthAt(df, a + 3 * d / 4);
    }
    return grid + between > 0 ? std::clamp((grid - between) / (grid + between), 0.0, 1.0) : 0;
}

// A song rendered or recorded with a long fade or reverb tail rings on for seconds after its last
// beat, and log compression turns that near-silence into onsets of its own. Leading and trailing
// beats in frames 30 dB below the song's median loudness go.
void trimQuietEnds(const std::vector<double> &energy, std::vector<double> &beats)
{
    if (beats.empty() || energy.empty())
        return;
    std::vector<double> sorted = energy;
    const auto middle = sorted.begin() + std::ptrdiff_t(sorted.size() / 2);
    std::nth_element(sorted.begin(), middle, sorted.end());
    const double floor = *middle * QuietEnergy;
    auto quiet = [&](double beat) {
        const auto i = size_t(std::clamp(std::lround(beat), 0L, long(energy.size() - 1)));
        return energy[i] < floor;
    };
    while (!beats.empty() && quiet(beats.back()))
        beats.pop_back();
    size_t first = 0;
    while (first < beats.size() && quiet(beats[first]))
        ++first;
    beats.erase(beats.begin(), beats.begin() + std::ptrdiff_t(first));
}

// How clearly the beats stand on onsets: the mean detection function at the beats against the
// mean halfway between them, as 0 (no difference) to 1. Off-beat accents pull it down even where
// the beats are right, so it only weighs the two trackers against each other.
double beatContrast(const std::vector<double> &df, const std::vector<double> &beats)
{
    if (beats.size() < 4)
        return 0;
    double on = 0, off = 0;
    for (size_t i = 1; i < beats.size(); ++i) {
        on += strengthAt(df, beats[i]);
        off += strengthAt(df, (beats[i - 1] + beats[i]) / 2);
    }
    return on + off > 0 ? std::clamp((on - off) / (on + off), 0.0, 1.0) : 0;
}

// The tempo the beats keep, in tenths of a BPM. Beats fall on whole detection function steps
// (11.6 ms), so one interval is coarse: the mean of the intervals near the median is not, and the
// odd gap or double beat stays out of it.
double tempoOf(const std::vector<double> &beats, double secondsPerStep)
{
    if (beats.size() < 2)
        return 0;
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
    const double seconds = count > 0 ? sum / count * secondsPerStep : 0;
    return seconds > 0 ? std::round(600.0 / seconds) / 10 : 0;
}

// The earlier tracker: libqm-dsp on the song below 150 Hz alone.
namespace bass {

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

// The mono mix (at `rate`) low-passed forwards (which also keeps the decimation free of
// aliasing), decimated by `factor`, then low-passed backwards at the low rate: the two passes'
// phase shifts cancel, so the kicks stay where they are in time.
std::vector<float> bassOf(const std::vector<float> &mono, double rate, int factor)
{
    // A song sampled too slowly to hold 150 Hz is filtered just below its Nyquist frequency.
    const double cutoff = std::min(BassCutoffHz, 0.45 * rate);
    Biquad forward1(cutoff, rate), forward2(cutoff, rate);
    std::vector<float> out;
    out.reserve(mono.size() / size_t(factor) + 1);
    for (size_t f = 0; f < mono.size(); ++f) {
        const double y = forward2.run(forward1.run(mono[f]));
        if (f % size_t(factor) == 0)
            out.push_back(float(y));
    }
    const double lowRate = rate / factor;
    Biquad backward1(cutoff, lowRate), backward2(cutoff, lowRate);
    for (auto it = out.rbegin(); it != out.rend(); ++it)
        *it = float(backward2.run(backward1.run(*it)));
    return out;
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

BeatResult findBassBeats(const AudioClip &clip, const std::vector<float> &mono, int monoFactor)
{
    BeatResult result;
    const double monoRate = double(clip.samplesPerSec()) / monoFactor;
    const int bassFactor = std::max(1, int(monoRate / AnalysisRateHz));
    const int factor = monoFactor * bassFactor;
    const double lowRate = monoRate / bassFactor;
    const std::vector<float> bass = bassOf(mono, monoRate, bassFactor);

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
    result.confidence = vorn::beatContrast(df, beats);

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

    result.tempoBpm = tempoOf(beats, config.stepSize / lowRate);
    return result;
}

} // namespace bass

// What the band tracker's detection function says, for the confidence of either tracker's beats.
struct BandAnalysis {
    std::vector<double> peaks;
    size_t step = 1;
    bool backbeat = false;  // doubled by the backbeat: the bass tracker, hearing only the kick, halves it
};

BeatResult findBandBeats(const AudioClip &clip, const std::vector<float> &mono, int factor, BandAnalysis *analysis)
{
    BeatResult result;
    const double lowRate = double(clip.samplesPerSec()) / factor;
    const auto step = std::max<size_t>(1, size_t(lowRate * StepSeconds + 0.5));
    const Onsets onsets = onsetsOf(mono, lowRate, step);
    std::vector<double> df = onsets.full;
    if (df.size() < 8 || *std::max_element(df.begin(), df.end()) <= 0)
        return result;

    // A song shorter than a tempo window is padded with stillness.
    const size_t songValues = df.size();
    if (df.size() < TempoWindow + 1)
        df.resize(TempoWindow + 1, 0.0);
    const std::vector<double> peaks = peaksOf(df);
    const TempoGrid grid = tempoGrid(lowRate / double(step));
    const std::vector<double> periods = beatPeriods(peaks, grid);

    TempoTrackV2 tracker(float(lowRate), step);
    std::vector<double> beats;
    tracker.calculateBeats(df, periods, beats);
    beats.erase(std::find_if(beats.begin(), beats.end(), [&](double beat) { return beat >= double(songValues); }),
                beats.end());
    trimSilentEnds(peaks, beats);
    trimQuietEnds(onsets.energy, beats);
    // Drums strike the low and the mid bands at once; a bass note, a chord or a hi-hat mostly one.
    const std::vector<double> lowPeaks = peaksOf(onsets.low);
    std::vector<double> drums = peaksOf(onsets.drums);
    for (size_t i = 0; i < drums.size(); ++i)
        drums[i] = std::sqrt(drums[i] * lowPeaks[i]);
    chooseLevel(drums, beats);
    const bool backbeat = restoreBackbeat(lowPeaks, peaksOf(onsets.drums), grid.periods.front() * 2, beats);
    choosePhase(drums, onsets.snare, beats);
    // The half beat moved in before the first may fall in the quiet before the song.
    trimQuietEnds(onsets.energy, beats);
    result.confidence = beatContrast(peaks, beats);
    if (analysis) {
        analysis->peaks = peaks;
        analysis->step = step;
        analysis->backbeat = backbeat;
    }

    // Value i describes the frame starting at step i; its flux peaks as an onset reaches the
    // middle of the Hann window (measured: the frame's start put the beats 27 ms early).
    for (double beat : beats) {
        const double lowFrame = beat * double(step) + FrameLength / 2.0;
        const auto songFrame = int32_t(std::min<double>(std::lround(lowFrame * factor), clip.streamLength()));
        result.beatsMs.push_back(clip.sampleFramesToMs(songFrame));
    }
    std::sort(result.beatsMs.begin(), result.beatsMs.end());
    result.beatsMs.erase(std::unique(result.beatsMs.begin(), result.beatsMs.end()), result.beatsMs.end());

    result.tempoBpm = tempoOf(beats, double(step) / lowRate);
    return result;
}

} // namespace

// The band tracker holds on multi-instrument music; the bass tracker is surer on songs whose
// kick carries the beat under louder off-beat stabs (measured on both song sets): when the bass
// alone gives clear, regular beats, they are taken, unless the band tracker heard a backbeat at
// twice their tempo (drum and bass: the kick alone plays half notes).
BeatResult findBeats(const AudioClip &clip)
{
    if (!clip.isLoaded() || clip.streamLength() <= 0)
        return {};
    const int factor = std::max(1, int(std::lround(clip.samplesPerSec() / AnalysisRateHz)));
    const std::vector<float> mono = monoOf(clip, factor);
    if (cancelRequested())
        return {};
    BandAnalysis analysis;
    BeatResult bands = findBandBeats(clip, mono, factor, &analysis);
    if (cancelRequested())
        return {};
    BeatResult bass = bass::findBassBeats(clip, mono, factor);
    if (cancelRequested())
        return {};
    BeatResult result = bass.confidence >= HybridBassConfidence && !analysis.backbeat ? std::move(bass) : std::move(bands);

    std::vector<double> positions;
    const double stepsPerMs = clip.samplesPerSec() / 1000.0 / factor / double(analysis.step);
    const double frameCentre = FrameLength / 2.0 / double(analysis.step);
    for (int32_t ms : result.beatsMs)
        positions.push_back(ms * stepsPerMs - frameCentre);
    // Beats standing out from the off-beats, and the grid standing out from the sixteenths: a
    // syncopated song or one full of sixteenths scores lower on one of them, a wrong tempo on both.
    result.confidence = (result.confidence + gridConfidence(analysis.peaks, positions)) / 2;
    return result;
}

} // namespace vorn
