// The scenario file writer: a whole Scenario in the canonical layout (Shift-JIS, CR LF).
#pragma once

#include "base/atomicfile.h"
#include "base/sjis.h"

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vorn {

class LineSink;
class Scenario;

// Writes `scenario` to `fileName` (a path of this machine; its text goes into the header's
// "File name" line, encoded to Shift-JIS). The file is written beside the target under a
// temporary name and replaces it only when every line was written (AtomicFile), so a failed
// save leaves an existing file as it was. Relative picture names are rebased so that they
// stay valid from the target's folder (see rebasedFileName). 0, or -1 when the file cannot be
// created or written (among others: the target is not a regular file, a link to one or a new
// name, or is not writable; `why` then says why), or when a line would not read back as
// written (a value holding '#', '"', '}', a TAB or a line break, or an empty one; see
// readsBack): that line then goes to `unreadableLine` when given, and nothing is written. The
// scenario is not changed.
int32_t writeScenario(const Scenario &scenario, const std::filesystem::path &fileName,
                      SjisString *unreadableLine = nullptr, SaveFailure *why = nullptr);

// The explanation shown below "シナリオの出力に失敗しました。" when a save was refused for
// `lineSjis` (UTF-8, the line's TABs as blanks).
std::string unreadableLineMessage(std::string_view lineSjis);

// The whole message of a refused save: "シナリオの出力に失敗しました。", then on the next line
// why (the line that would not read back, or the path and the system's reason) when known.
std::string saveFailedMessage(std::string_view unreadableLineSjis, const SaveFailure &why);

// The name to write for `file` (Shift-JIS, as the scenario named it, relative to `directory`)
// in a scenario saved into `folder` (this machine's path): an absolute name, a name without a
// directory, or one whose folder is `folder` (links resolved) stays as it is; any other
// relative name becomes the path from `folder` to the same file ('/' separators), or the
// absolute path where there is none.
SjisString rebasedFileName(std::string_view file, const std::optional<SjisString> &directory,
                           const std::filesystem::path &folder);

// The lines of the layout into `out`: the header (with `fileNameSjis` and `date`), settings,
// blocks and checkpoints. 0, or the first negative code of the sink (every line is still tried).
int32_t writeScenarioLines(const Scenario &scenario, std::string_view fileNameSjis,
                           std::string_view date, LineSink &out);

// The header's date, "YYYY/MM/DD(Www) hh:mm:ss" with the English weekday whatever the locale:
// from SOURCE_DATE_EPOCH (seconds since 1970, shown in UTC as reproducible builds expect) when
// that is set to a number, otherwise the current local time.
std::string scenarioHeaderDate();
std::string formatHeaderDate(const std::tm &time);

// The total time in seconds with three decimals ("10.000"): totalFrames x scale / frameRate.
// A frame rate of 0 or below has no time: "0.000".
std::string formatTotalTime(int32_t totalFrames, int32_t scale, int32_t frameRate);

// A path of this machine as Shift-JIS for the header; characters that Shift-JIS cannot hold
// become '?' (and writeScenarioLines turns control bytes into '?' too).
SjisString headerFileName(const std::filesystem::path &fileName);

} // namespace vorn
