// CP932 conversions: round trips, the backslash byte, cut-off lead bytes.
#include "base/sjis.h"

#include <gtest/gtest.h>

using namespace vorn;

TEST(Sjis, RoundTripsJapaneseAndKeepsBackslash)
{
    // "表示\a" in CP932: 表 is 0x95 0x5C, whose trail byte is the backslash byte.
    const std::string sjis = "\x95\x5C\x8E\xA6\\a";
    const auto utf8 = sjisToUtf8Strict(sjis);
    ASSERT_TRUE(utf8);
    EXPECT_EQ(*utf8, "表示\\a");
    EXPECT_EQ(utf8ToSjis(*utf8), sjis);
}

TEST(Sjis, NecExtensionCharactersSurvive)
{
    // ① (0x87 0x40) exists in CP932 but not in plain Shift-JIS.
    EXPECT_EQ(sjisToUtf8("\x87\x40"), "①");
    EXPECT_EQ(utf8ToSjis("①"), std::string("\x87\x40"));
}

TEST(Sjis, CutOffLeadByteIsReplacedOrRefused)
{
    EXPECT_EQ(sjisToUtf8("ab\x95"), "ab\xEF\xBF\xBD");
    EXPECT_FALSE(sjisToUtf8Strict("ab\x95"));
}

TEST(Sjis, CharacterWithoutCp932FormIsRefused)
{
    EXPECT_FALSE(utf8ToSjis("😀"));
    EXPECT_FALSE(utf8ToSjis("\xFF\xFE"));
}
