// Shift-JIS (CP932) <-> UTF-8 at the edges of the system: display, drawing and the file system.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vorn {

// Scenario texts are held as the file's bytes; these types only document which encoding a
// std::string carries.
using SjisString = std::string;

// Decodes CP932 bytes for display. Bytes that do not decode (a lead byte cut off at the end,
// an unassigned code) become U+FFFD; never fails.
std::string sjisToUtf8(std::string_view sjis);

// Strict decoding: none when any byte sequence is invalid.
std::optional<std::string> sjisToUtf8Strict(std::string_view sjis);

// Encodes UTF-8 text to CP932; none when a character has no CP932 form or the UTF-8 is invalid.
std::optional<SjisString> utf8ToSjis(std::string_view utf8);

} // namespace vorn
