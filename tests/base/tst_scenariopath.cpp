// Scenario file names to local paths.
#include "base/scenariopath.h"

#include <gtest/gtest.h>

using namespace vorn;

TEST(ScenarioPath, RelativeNameJoinsDirectoryWithEitherSeparator)
{
    EXPECT_EQ(resolveScenarioName("pics\\a.jpg", "/home/u/show"), "/home/u/show/pics/a.jpg");
    EXPECT_EQ(resolveScenarioName("pics/a.jpg", "/home/u/show"), "/home/u/show/pics/a.jpg");
    EXPECT_EQ(resolveScenarioName("/abs/a.jpg", "/home/u"), "/abs/a.jpg");
}

TEST(ScenarioPath, TrailByte5CIsNotASeparator)
{
    // 表.jpg: the trail byte of 表 is 0x5C.
    EXPECT_EQ(resolveScenarioName("\x95\x5C.jpg", "/d"), "/d/表.jpg");
    EXPECT_EQ(scenarioBaseName("dir\\\x95\x5C.txt"), "\x95\x5C.txt");
    EXPECT_EQ(scenarioBaseName("a/b\\c.txt"), "c.txt");
}

TEST(ScenarioPath, DriveLetterAndUndecodableNamesCannotExist)
{
    EXPECT_TRUE(isAbsoluteScenarioName("C:\\x.jpg"));
    EXPECT_FALSE(resolveScenarioName("C:\\x.jpg", "/d"));
    EXPECT_FALSE(resolveScenarioName("a\x95", "/d"));
}

TEST(ScenarioPath, LocalPathEntersModelAsSjis)
{
    EXPECT_EQ(pathToSjis("/d/表.txt"), std::string("/d/\x95\x5C.txt"));
    EXPECT_FALSE(pathToSjis("/d/😀.txt"));
}
