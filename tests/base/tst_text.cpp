// Text at the edges of the core: CP932 conversions, scenario file names, and the command
// line's prompter.
#include "base/prompter.h"
#include "base/scenariopath.h"
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
        // A lead byte cut off at the end; a byte that is no character, and the one after it.
        {"ab\x95", "ab\xEF\xBF\xBD", std::nullopt},
        {"\xFF" "a", "\xEF\xBF\xBD" "a", std::nullopt},
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

TEST(ScenarioPath, NamesBecomePaths)
{
    const struct {
        std::string name;
        std::optional<std::string> resolved;  // in the folder "/d"
        std::string base;
    } cases[] = {
        {"pics\\a.jpg", "/d/pics/a.jpg", "a.jpg"},
        {"pics/a.jpg", "/d/pics/a.jpg", "a.jpg"},
        {"/abs\\a.jpg", "/abs/a.jpg", "a.jpg"},
        // A trail byte 0x5C is no separator: 表 (0x95 0x5C), 歃 (0x9F 0x5C, the last lead byte
        // of the first range).
        {"dir\\\x95\x5C.jpg", "/d/dir/表.jpg", "\x95\x5C.jpg"},
        {"dir\\\x9F\x5C.jpg", "/d/dir/歃.jpg", "\x9F\x5C.jpg"},
        // A drive letter cannot exist here; nor can an undecodable name.
        {"C:\\x.jpg", std::nullopt, "x.jpg"},
        {"a\x95", std::nullopt, "a\x95"},
    };
    for (const auto &c : cases) {
        const auto path = resolveScenarioName(c.name, "/d");
        EXPECT_EQ(path ? std::optional(path->string()) : std::nullopt, c.resolved) << c.name;
        EXPECT_EQ(scenarioBaseName(c.name), c.base) << c.name;
    }
    // A name that is part of a longer text ends where the view ends.
    EXPECT_EQ(scenarioBaseName(std::string_view("dir\\a.jpg\\x", 9)), "a.jpg");
    EXPECT_TRUE(isAbsoluteScenarioName("C:\\x.jpg"));
    EXPECT_EQ(resolveScenarioName("a.jpg", ""), "a.jpg");
    EXPECT_EQ(pathToSjis("/d/表.txt"), std::string("/d/\x95\x5C.txt"));
    EXPECT_FALSE(pathToSjis("/d/😀.txt"));
}

// The command line prints the whole text and a line feed, a NUL byte as U+FFFD, and answers
// every question alike.
TEST(StderrPrompter, PrintsEveryByteOnItsOwnLine)
{
    const struct {
        std::string text;
        bool answer;
        std::string printed;
    } cases[] = {
        {"", true, "\n"},
        {"エラー", false, "エラー\n"},
        {std::string("a\0b", 3), true, "a\xEF\xBF\xBD" "b\n"},
    };
    for (const auto &c : cases) {
        testing::internal::CaptureStderr();
        StderrPrompter prompter(c.answer);
        prompter.showError(c.text);
        const bool answer = prompter.askYesNo(c.text);
        const std::string printed = testing::internal::GetCapturedStderr();
        EXPECT_EQ(answer, c.answer);
        EXPECT_EQ(printed, c.printed + c.printed);
    }
}
