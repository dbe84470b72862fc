// The scenario text reader: load and loadText, the statement loop, and the value readers
// that every block parser shares.
#pragma once

#include "base/sjis.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vorn {

class Scenario;
class SourceText;

inline constexpr std::string_view Blanks = " \t\n";         // blank, tab, LF
inline constexpr std::string_view BlockKeywordDelimiters = " \t\n}";

enum ValueChecks : int { CheckHighest = 1, CheckLowest = 2 };

// Reads one scenario file (with its INCLUDEs and macros) into scenario. fileName is Shift-JIS
// bytes as written (absolute, or relative to the scenario's currentDirectory; when that is
// empty, to the process's working directory). The working directory is never changed.
// 0, or -1 after the error was shown through the scenario's prompter (a "no" to the size
// question gives -1 with no message). On failure the scenario is partly filled.
int32_t load(Scenario &scenario, std::string_view fileName);

// Reads an already prepared text (a macro expansion) into scenario; the text's display name
// is used in messages. Same results as load.
int32_t loadText(Scenario &scenario, const SourceText &text);

// 0 or -1 (the error has been reported).
int32_t readInteger(Scenario &scenario, SourceText &text, int32_t &value, std::string_view label,
                    int checks, int32_t lowest, int32_t highest);
int32_t readExpressionValue(Scenario &scenario, SourceText &text, int32_t &value,
                            std::string_view label);
std::optional<SjisString> readQuotedString(Scenario &scenario, SourceText &text,
                                           std::string_view label);
// bufferSize 0: any length. Reports and gives nullopt as the reader's rules say.
std::optional<SjisString> readToken(Scenario &scenario, SourceText &text, size_t bufferSize,
                                    std::string_view delimiters);
// Composes "シナリオ読み込み時にエラーが発生しました。\n..." and shows it through the scenario's prompter.
// text may be null (file-level and linking errors: no file and line).
void reportError(Scenario &scenario, std::string_view message, const SourceText *text);
// Message templates with one %s, e.g. formatMessage("%sの上限値を超えています。", label).
std::string formatMessage(std::string_view pattern, std::string_view argument);

} // namespace vorn
