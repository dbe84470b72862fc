// The integer at the start of a typed text, read as C's strtol reads it once the blanks are
// skipped: an optional sign, then decimal digits up to the first other character.
#pragma once

#include <cstdint>
#include <limits>
#include <string_view>

namespace vorn {

// Reads from `start` (the caller skips whatever blanks its field allows). No digits give 0. The
// magnitude stops growing one past the int32 range, so any number of digits is safe: the result
// lies in [INT32_MIN - 1, INT32_MAX + 1], and the caller clamps it or refuses what does not fit.
inline int64_t leadingInteger(std::u16string_view text, size_t start = 0)
{
    constexpr int64_t Cap = int64_t(std::numeric_limits<int32_t>::max()) + 2;
    size_t i = start;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        negative = text[i++] == u'-';
    int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - u'0');
        if (magnitude >= Cap) {
            magnitude = Cap - 1;
            break;
        }
    }
    return negative ? -magnitude : magnitude;
}

} // namespace vorn
