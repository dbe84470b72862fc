// How file names written in a scenario (Shift-JIS bytes, '\' or '/' separators) become paths
// of this machine, and how this machine's paths enter the model.
#pragma once

#include "base/sjis.h"

#include <filesystem>
#include <optional>
#include <string_view>

namespace vorn {

// True when the scenario name is absolute: it starts with '/' or '\', or its second byte is ':'
// (a drive-letter name, which cannot exist on this machine).
bool isAbsoluteScenarioName(std::string_view nameSjis);

// Decodes `nameSjis` from CP932 and treats both '\' and '/' as separators (after decoding, so
// the second byte 0x5C of a double-byte character is never a separator). A relative name is
// joined to `directorySjis`, itself Shift-JIS bytes of this machine's directory.
// None when the name cannot exist here: invalid CP932 or a drive-letter name. Callers report
// that as a missing file.
std::optional<std::filesystem::path> resolveScenarioName(std::string_view nameSjis,
                                                         std::string_view directorySjis);

// This machine's path as Shift-JIS bytes for the model; none when CP932 cannot represent it.
std::optional<SjisString> pathToSjis(const std::filesystem::path &path);

// The message for a path that pathToSjis cannot take, naming the path (UTF-8, as the system
// gave it) so that the user sees which folder or file name to change.
std::string notSjisMessage(const std::filesystem::path &path);

// The last component of a scenario name (after the last '\' or '/'), as bytes. Used by messages
// that show a file's base name.
SjisString scenarioBaseName(std::string_view nameSjis);

} // namespace vorn
