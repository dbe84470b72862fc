// Photo metadata: EXIF values by type, and the placeholders of TEXT strings.
#include "imaging/photoproperty.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

using namespace vorn;
namespace fs = std::filesystem;

namespace {

// Written by scripts/make-exif-jpeg.
const fs::path Tagged = fs::path(VORN_TEST_DATA_DIR) / "exif-tagged.jpg";
const fs::path Untagged = fs::path(VORN_TEST_DATA_DIR) / "exif-none.jpg";

} // namespace

TEST(PhotoProperty, FormatsEachTypeOfTheNineTags)
{
    EXPECT_EQ(GetPhotoProperty(Tagged, 0x010F), "VornCam");
    EXPECT_EQ(GetPhotoProperty(Tagged, 0x0110), "VC-100 Mk II");
    EXPECT_EQ(GetPhotoProperty(Tagged, 0x0131), "vorn-test 1.0");
    EXPECT_EQ(GetPhotoProperty(Tagged, 0x0132), "2024:05:06 07:08:09");
    EXPECT_EQ(GetPhotoProperty(Tagged, 0x829A), "1 / 60");
    EXPECT_EQ(GetPhotoProperty(Tagged, 0x829D), "28 / 10");
    EXPECT_EQ(GetPhotoProperty(Tagged, 0x8827), "400");
    EXPECT_EQ(GetPhotoProperty(Tagged, 0x9209), "16");
    EXPECT_EQ(GetPhotoProperty(Tagged, 0x920A), "35 / 1");
}

TEST(PhotoProperty, OtherTypesAndMissingDataGiveNone)
{
    // LONG is unsigned: a value above 2^31 must not read as negative.
    EXPECT_EQ(GetPhotoProperty(Tagged, 0x0100), "3000000000");
    EXPECT_EQ(GetPhotoProperty(Tagged, 0x9204), std::nullopt);  // SRATIONAL: no text form
    EXPECT_EQ(GetPhotoProperty(Tagged, 0x9999), std::nullopt);
    EXPECT_EQ(GetPhotoProperty(Untagged, 0x010F), std::nullopt);
    EXPECT_EQ(GetPhotoProperty(fs::path(VORN_TEST_DATA_DIR) / "no-such.jpg", 0x010F),
              std::nullopt);
    EXPECT_EQ(GetPhotoProperty(fs::path(VORN_SOURCE_DIR) / "CMakeLists.txt", 0x010F),
              std::nullopt);
}

TEST(PhotoProperty, ExpandsEveryOccurrenceAndKeepsShiftJisBytes)
{
    // "表" is 0x95 0x5C in Shift-JIS: its second byte must survive untouched.
    const std::string text = "\x95\x5C %MAKER%/%MODEL% %EXPOSURE%s F%FNUMBER% ISO%ISO% "
                             "%FLASH% %FOCUS%mm %SOFTWARE% %DATE% %MAKER% %maker% %LENS%";
    EXPECT_EQ(ExpandPhotoPlaceholders(text, Tagged),
              "\x95\x5C VornCam/VC-100 Mk II 1 / 60s F28 / 10 ISO400 16 35 / 1mm "
              "vorn-test 1.0 2024:05:06 07:08:09 VornCam %maker% %LENS%");
}

TEST(PhotoProperty, WithoutExifEveryPlaceholderIsABlank)
{
    EXPECT_EQ(ExpandPhotoPlaceholders("[%MAKER%][%MODEL%][%SOFTWARE%][%DATE%][%EXPOSURE%]"
                                      "[%FNUMBER%][%ISO%][%FLASH%][%FOCUS%]%ISO%%ISO%",
                                      Untagged),
              "[ ][ ][ ][ ][ ][ ][ ][ ][ ]  ");
    EXPECT_EQ(ExpandPhotoPlaceholders("%MAKER%", fs::path(VORN_TEST_DATA_DIR) / "no-such.jpg"),
              " ");
    // A FIFO with no writer would block a reader forever.
    const fs::path fifo =
        fs::temp_directory_path() / ("vorn-exif-fifo-" + std::to_string(::getpid()));
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(ExpandPhotoPlaceholders("%ISO%", fifo), " ");
    fs::remove(fifo);
    EXPECT_EQ(ExpandPhotoPlaceholders("100% plain", Untagged), "100% plain");
    EXPECT_EQ(ExpandPhotoPlaceholders("", Untagged), "");
}
