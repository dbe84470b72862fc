// SourceText: one scenario text (a file or a macro expansion) with its read position.
#pragma once

#include "base/sjis.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vorn {

// Works on bytes only: Shift-JIS is never decoded here, delimiters are single ASCII bytes.
// The data is followed by one NUL that is not counted in its size, so peek() at the end gives 0.
// Texts are limited to INT32_MAX bytes (positions are int32).
class SourceText {
public:
    // fileName: SJIS bytes as written (none for a macro expansion); displayName: UTF-8 for messages.
    SourceText(std::string data, std::optional<SjisString> fileName, std::string displayName);

    void skip(std::string_view set);          // skip every byte in set (stops at the end)
    void skipTo(char byte);                   // to the next occurrence of byte (or the end)
    // The bytes up to the first delimiter; nullopt (position unchanged) for an empty token or
    // when no delimiter comes before the end of the text. The view stays valid while the text
    // lives and is not modified.
    std::optional<std::string_view> takeToken(std::string_view delimiters);
    char take();                              // 0 at the end
    char peek() const;                        // 0 at the end
    void advance();                           // no-op at the end
    bool atEnd() const;
    int32_t position() const;
    void setPosition(int32_t position);       // clamped to 0 ... size
    int32_t lineNumber() const;               // 1 + LFs before the position
    const std::optional<SjisString> &fileName() const;
    const std::string &displayName() const;
    std::string_view data() const;            // size bytes, without the terminating NUL

    // Blanks comments ('#' up to the next LF) and the CR of each CR LF in place, everywhere
    // (also inside quotes); a CR alone becomes an LF. Done once, before any token is read.
    void prepare();

private:
    std::string m_data;  // std::string keeps the terminating NUL after size()
    std::optional<SjisString> m_fileName;
    std::string m_displayName;
    int32_t m_position = 0;
    // lineNumber() counts LFs incrementally from the last query, so error reports stay cheap.
    mutable int32_t m_lineCachePosition = 0;
    mutable int32_t m_lineCacheLine = 1;
};

} // namespace vorn
