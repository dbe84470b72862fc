// Label tracks: the user's marks as the tab-separated label text that audio editors read and
// write, so marks can move between this tool and an audio editor.
#pragma once

#include "timeline/markstrip.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vorn {

class AudioClip;
class MarkStrips;

// One line per mark of strips 0 to 2: "<start>\t<end>\tstrip<k>\n", start and end the same
// instant in seconds with six decimals (the mark's sample frame over the song's frame rate),
// ordered by time (equal times in strip order, then list order).
std::string writeLabelTrack(const MarkStrips &strips, const AudioClip &song);

struct LabelTrack {
    std::array<std::vector<Mark>, 3> marks;  // per strip, in the file's order
    int line = 0;                            // 0 when read; else the first bad line (from 1)
    std::string error;                       // what is wrong with it (UTF-8), for the user
};

// Reads label text: each line "start\tend\tlabel" with start <= end in seconds (decimal,
// not negative), the label "strip0", "strip1" or "strip2". Each label becomes a mark at its
// start: the nearest sample frame of the song and that frame's time in milliseconds. Empty
// lines and the editors' frequency lines (starting with a backslash) are skipped; CR LF is
// read as LF. The first bad line stops the reading: no marks are given then.
LabelTrack readLabelTrack(std::string_view text, const AudioClip &song);

// What the user is told about a refused label file named `fileName` (no folder), in the way
// the scenario reader reports a line: "マークの読み込みに失敗しました。\n<file> : <n>行目 :\n<why>".
std::string labelTrackMessage(const LabelTrack &track, std::string_view fileName);

// The file versions. Writing replaces the file whole or leaves it as it was (0, or -3 / -1 as
// replaceFile). Reading refuses files larger than MaxLabelFileBytes and files that cannot be
// read (line 0 with an error).
constexpr int64_t MaxLabelFileBytes = 16 * 1024 * 1024;
int32_t writeLabelFile(const std::filesystem::path &path, const MarkStrips &strips,
                       const AudioClip &song);
LabelTrack readLabelFile(const std::filesystem::path &path, const AudioClip &song);

} // namespace vorn
