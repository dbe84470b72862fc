// Label tracks: writing marks as labels and reading them back, refusing the first bad line.
#include "timeline/labelfile.h"

#include "audio/audioclip.h"
#include "base/atomicfile.h"
#include "timeline/markstrips.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>

namespace vorn {

namespace {

// Sample frames per second of song time: the clip's own conversion rate.
double framesPerSecond(const AudioClip &song)
{
    return song.blockAlign() > 0 ? double(song.avgBytesPerSec()) / song.blockAlign() : 0.0;
}

bool readSeconds(std::string_view text, double &seconds)
{
    // Plain decimals only: no sign, no exponent, no "inf" or "nan".
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string_view::npos)
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds,
                                              std::chars_format::fixed);
    return error == std::errc() && end == text.data() + text.size();
}

LabelTrack refuse(int line, const char *why)
{
    LabelTrack result;
    result.line = line;
    result.error = why;
    return result;
}

} // namespace

std::string writeLabelTrack(const MarkStrips &strips, const AudioClip &song)
{
    struct Entry {
        int32_t time;
        int strip;
        int32_t position;
    };
    std::vector<Entry> entries;
    for (int k = 0; k < MarkStrips::WrittenStripCount; ++k)
        for (const Mark &mark : strips.strip(k).marks())
            entries.push_back({mark.time, k, mark.position});
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry &a, const Entry &b) { return a.time < b.time; });
    const double rate = framesPerSecond(song);
    std::string text;
    char line[96];
    for (const Entry &e : entries) {
        // Without a rate the time in milliseconds is all there is.
        const double seconds = rate > 0 ? e.position / rate : e.time / 1000.0;
        const int n = std::snprintf(line, sizeof line, "%.6f\t%.6f\tstrip%d\n", seconds, seconds, e.strip);
        text.append(line, size_t(n));
    }
    return text;
}

LabelTrack readLabelTrack(std::string_view text, const AudioClip &song)
{
    const double rate = framesPerSecond(song);
    if (rate <= 0)
        return refuse(0, "曲が読み込まれていません。");
    LabelTrack result;
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line.front() == '\\')
            continue;
        std::string_view fields[3];
        int count = 0;
        for (size_t start = 0; count < 4;) {
            const size_t tab = line.find('\t', start);
            if (count < 3)
                fields[count] = line.substr(start, tab == std::string_view::npos ? tab : tab - start);
            ++count;
            if (tab == std::string_view::npos)
                break;
            start = tab + 1;
        }
        if (count != 3)
            return refuse(lineNumber, "開始、終了、ラベルの 3 つをタブで区切った行ではありません。");
        double start = 0;
        double end = 0;
        if (!readSeconds(fields[0], start) || !readSeconds(fields[1], end))
            return refuse(lineNumber, "時刻が秒の数値ではありません。");
        if (end < start)
            return refuse(lineNumber, "終了が開始より前です。");
        const double position = std::round(start * rate);
        if (!(position <= double(std::numeric_limits<int32_t>::max())))
            return refuse(lineNumber, "時刻が長すぎます。");
        int strip = -1;
        for (int k = 0; k < MarkStrips::WrittenStripCount; ++k)
            if (fields[2] == "strip" + std::to_string(k))
                strip = k;
        if (strip < 0)
            return refuse(lineNumber, "ラベルが strip0、strip1、strip2 のどれでもありません。");
        const int32_t frames = int32_t(position);
        result.marks[size_t(strip)].push_back(
            {song.sampleFramesToMs(frames), frames, MarkStrips::StripColours[size_t(strip)]});
    }
    return result;
}

std::string labelTrackMessage(const LabelTrack &track, std::string_view fileName)
{
    std::string text = "マークの読み込みに失敗しました。\n";
    text += fileName;
    text += track.line > 0 ? " : " + std::to_string(track.line) + "行目 :\n" : std::string(" :\n");
    return text + track.error;
}

int32_t writeLabelFile(const std::filesystem::path &path, const MarkStrips &strips,
                       const AudioClip &song)
{
    return replaceFile(path, writeLabelTrack(strips, song));
}

LabelTrack readLabelFile(const std::filesystem::path &path, const AudioClip &song)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (error || !std::filesystem::is_regular_file(path, error))
        return refuse(0, "ファイルを読めません。");
    if (size > uint64_t(MaxLabelFileBytes))
        return refuse(0, "ファイルが大きすぎます。");
    std::ifstream in(path, std::ios::binary);
    std::string text(size_t(size), '\0');
    if (!in.read(text.data(), std::streamsize(size)))
        return refuse(0, "ファイルを読めません。");
    return readLabelTrack(text, song);
}

} // namespace vorn
