// Generated dance songs whose beats are known: a kick drum on every beat, optionally a hi-hat on
// each eighth note between them and a loud chord stab on every off-beat, over a little noise.
// Written as WAV bytes in any of the player's formats, for the beat tracker's tests and benchmark.
#pragma once

#include "support/wavfile.h"  // also <algorithm>, <cmath>, <cstdint>, <vector>

#include <random>

namespace vorn::test {

struct BeatSongRecipe {
    double bpm = 120;
    uint16_t channels = 2;
    uint16_t bitsPerSample = 16;
    uint32_t samplesPerSec = 44100;
    double seconds = 20;
    double level = 0.8;         // peak of the mix as a fraction of full scale
    bool hats = true;           // hi-hats on the sixteenths between the beats
    bool offbeatStabs = false;  // chord stabs on the off-beats, louder than the kick
    double firstBeatSeconds = 0.4;
    double lastBeatSeconds = 1e9;  // no beat after this: the song ends in silence
};

struct BeatSong {
    std::vector<uint8_t> wav;
    std::vector<double> beatsMs;  // where each kick starts
};

inline BeatSong beatSong(const BeatSongRecipe &recipe)
{
    const double rate = recipe.samplesPerSec;
    const auto frames = size_t(recipe.seconds * rate);
    std::vector<float> mix(frames, 0.0f);
    std::mt19937 random(12345);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);

    auto addAt = [&](double startSeconds, double lengthSeconds, auto &&voice) {
        const auto first = size_t(startSeconds * rate);
        const auto count = size_t(lengthSeconds * rate);
        for (size_t i = 0; i < count && first + i < frames; ++i)
            mix[first + i] += voice(double(i) / rate);
    };
    auto kick = [](double t) {
        // A pitch sweep from 150 Hz down to 50 Hz with a fast decay.
        const double phase = 2 * M_PI * (50 * t + 100 * (1 - std::exp(-t * 30)) / 30);
        return float(std::sin(phase) * std::exp(-t * 18));
    };
    auto hat = [&](double t) { return float(0.25 * noise(random) * std::exp(-t * 90)); };
    auto stab = [](double t) {
        double v = 0;
        for (double f : {220.0, 277.2, 329.6, 440.0})
            v += std::sin(2 * M_PI * f * t) + 0.3 * std::sin(4 * M_PI * f * t);
        return float(0.45 * v * std::min(1.0, t * 400) * std::exp(-t * 12));
    };

    BeatSong song;
    const double period = 60.0 / recipe.bpm;
    for (double beat = recipe.firstBeatSeconds; beat < std::min(recipe.seconds - 0.2, recipe.lastBeatSeconds);
         beat += period) {
        song.beatsMs.push_back(beat * 1000);
        addAt(beat, 0.35, kick);
        if (recipe.hats)
            for (int k = 1; k < 4; ++k)
                addAt(beat + k * period / 4, 0.06, hat);
        if (recipe.offbeatStabs)
            addAt(beat + period / 2, 0.25, stab);
    }
    for (float &v : mix)
        v += 0.01f * noise(random);

    float peak = 0;
    for (float v : mix)
        peak = std::max(peak, std::fabs(v));
    const double gain = recipe.level / std::max(peak, 1e-6f);

    std::vector<uint8_t> data;
    for (size_t f = 0; f < frames; ++f)
        for (int c = 0; c < recipe.channels; ++c)  // the right channel a little quieter, as in a real mix
            putSample(data, mix[f] * gain * (c == 0 ? 1.0 : 0.7), recipe.bitsPerSample);
    song.wav = wavBytes({.channels = recipe.channels, .samplesPerSec = recipe.samplesPerSec,
                         .bitsPerSample = recipe.bitsPerSample}, data);
    return song;
}

// The standard beat F-measure: detections matched one to one to annotations within
// `toleranceMs` (each annotation takes the nearest free detection), annotations and detections
// before `skipMs` left out, as the evaluations do to give a tracker time to settle.
inline double beatFMeasure(std::vector<double> truthMs, std::vector<double> foundMs, double toleranceMs,
                           double skipMs = 0)
{
    auto early = [&](double t) { return t < skipMs; };
    truthMs.erase(std::remove_if(truthMs.begin(), truthMs.end(), early), truthMs.end());
    foundMs.erase(std::remove_if(foundMs.begin(), foundMs.end(), early), foundMs.end());
    if (truthMs.empty() || foundMs.empty())
        return 0;
    std::vector<bool> used(foundMs.size(), false);
    size_t hits = 0;
    for (double t : truthMs) {
        size_t best = foundMs.size();
        double bestDistance = toleranceMs;
        for (size_t i = 0; i < foundMs.size(); ++i) {
            const double d = std::fabs(foundMs[i] - t);
            if (!used[i] && d <= bestDistance) {
                best = i;
                bestDistance = d;
            }
        }
        if (best < foundMs.size()) {
            used[best] = true;
            ++hits;
        }
    }
    const double precision = double(hits) / double(foundMs.size());
    const double recall = double(hits) / double(truthMs.size());
    return hits == 0 ? 0 : 2 * precision * recall / (precision + recall);
}

inline double beatFMeasure(const std::vector<double> &truthMs, const std::vector<int32_t> &foundMs,
                           double toleranceMs, double skipMs = 0)
{
    return beatFMeasure(truthMs, std::vector<double>(foundMs.begin(), foundMs.end()), toleranceMs, skipMs);
}

} // namespace vorn::test
