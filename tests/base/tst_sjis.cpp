// CP932 conversions: round trips, the backslash byte, NEC extensions, undecodable bytes.
#include "base/sjis.h"

#include <gtest/gtest.h>

#include <optional>

using namespace vorn;

TEST(Sjis, Conversions)
{
    const struct {
        std::string sjis;
        std::string shown;                  // sjisToUtf8: never fails
        std::optional<std::string> strict;  // sjisToUtf8Strict, and utf8ToSjis back when set
    } cases[] = {
        // 表 is 0x95 0x5C: its trail byte is the backslash byte, and stays one character.
        {"\x95\x5C\x8E\xA6\\a", "表示\\a", "表示\\a"},
        // ① (0x87 0x40) exists in CP932 but not in plain Shift-JIS.
        {"\x87\x40", "①", "①"},
        // A lead byte cut off at the end.
        {"ab\x95", "ab\xEF\xBF\xBD", std::nullopt},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(sjisToUtf8(c.sjis), c.shown) << c.shown;
        EXPECT_EQ(sjisToUtf8Strict(c.sjis), c.strict) << c.shown;
        if (c.strict) {
            EXPECT_EQ(utf8ToSjis(*c.strict), c.sjis) << c.shown;
        }
    }
    // No CP932 form, or no valid UTF-8.
    EXPECT_FALSE(utf8ToSjis("😀"));
    EXPECT_FALSE(utf8ToSjis("\xFF\xFE"));
}
