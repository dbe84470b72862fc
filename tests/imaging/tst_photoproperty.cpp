// Photo metadata: EXIF values by type, and the placeholders of TEXT strings.
#include "imaging/photoproperty.h"

#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

using namespace vorn;
namespace fs = std::filesystem;

namespace {

// Written by scripts/make-exif-jpeg.
const fs::path Tagged = fs::path(VORN_TEST_DATA_DIR) / "exif-tagged.jpg";
const fs::path Untagged = fs::path(VORN_TEST_DATA_DIR) / "exif-none.jpg";

void putLittle(std::string &out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += char((value >> (8 * i)) & 0xFF);
}

// The untagged picture with an EXIF block whose IFD0 holds these ASCII tags (ids ascending).
std::string jpegWithAsciiTags(const std::vector<std::pair<uint16_t, std::string>> &tags)
{
    std::string tiff = "II*";
    tiff += '\0';
    putLittle(tiff, 8, 4);
    putLittle(tiff, uint32_t(tags.size()), 2);
    uint32_t dataAt = 8 + 2 + 12 * uint32_t(tags.size()) + 4;
    std::string data;
    for (const auto &[id, text] : tags) {
        putLittle(tiff, id, 2);
        putLittle(tiff, 2, 2);  // ASCII
        putLittle(tiff, uint32_t(text.size() + 1), 4);
        putLittle(tiff, dataAt + uint32_t(data.size()), 4);
        data += text;
        data += '\0';
    }
    putLittle(tiff, 0, 4);
    tiff += data;
    const std::string payload = std::string("Exif\0\0", 6) + tiff;
    std::ifstream in(Untagged, std::ios::binary);
    const std::string plain((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t length = payload.size() + 2;
    return plain.substr(0, 2) + "\xFF\xE1" + char(length >> 8) + char(length & 0xFF) + payload +
           plain.substr(2);
}

} // namespace

TEST(PhotoProperty, FormatsByTypeAndGivesNoneForTheRest)
{
    const std::vector<std::pair<uint16_t, std::optional<std::string>>> cases = {
        {0x010F, "VornCam"}, {0x0110, "VC-100 Mk II"}, {0x0131, "vorn-test 1.0"},
        {0x0132, "2024:05:06 07:08:09"}, {0x829A, "1 / 60"}, {0x829D, "28 / 10"},
        {0x8827, "400"}, {0x9209, "16"}, {0x920A, "35 / 1"},
        {0x0100, "3000000000"},  // LONG is unsigned: above 2^31 must not read as negative
        {0x9204, std::nullopt},  // SRATIONAL: no text form
        {0x9999, std::nullopt},
    };
    for (const auto &[id, text] : cases)
        EXPECT_EQ(GetPhotoProperty(Tagged, id), text) << std::hex << id;
    for (const fs::path &file : {Untagged, fs::path(VORN_TEST_DATA_DIR) / "no-such.jpg",
                                 fs::path(VORN_SOURCE_DIR) / "CMakeLists.txt"})
        EXPECT_EQ(GetPhotoProperty(file, 0x010F), std::nullopt) << file;
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

TEST(PhotoProperty, ValuesHoldingLaterPlaceholdersAreExpandedWithinABound)
{
    const vorn::test::TempDir dir;
    // A value is not searched again for its own placeholder, but later rows search it.
    const fs::path chained = dir.write(
        "chained.jpg", jpegWithAsciiTags({{0x010F, "%MODEL%%MAKER%"}, {0x0110, "m%SOFTWARE%"}}));
    EXPECT_EQ(ExpandPhotoPlaceholders("<%MAKER%>", chained), "<m %MAKER%>");

    // 4,000 models in the maker, each 2,500 softwares: 10^7 placeholders. The value that would
    // pass the bound is left out, as an unreadable one is.
    std::string maker;
    std::string model;
    for (int i = 0; i < 4000; ++i)
        maker += "%MODEL%";
    for (int i = 0; i < 2500; ++i)
        model += "%SOFTWARE%";
    const fs::path bomb = dir.write("bomb.jpg", jpegWithAsciiTags({{0x010F, maker}, {0x0110, model}}));
    ASSERT_EQ(GetPhotoProperty(bomb, 0x0110), model);
    EXPECT_EQ(ExpandPhotoPlaceholders("%MAKER%", bomb), std::string(4000, ' '));
    // Within the bound the same values are expanded in full.
    const std::string within = ExpandPhotoPlaceholders("%MODEL%%MODEL%", bomb);
    EXPECT_EQ(within.size(), 2 * 2500u);
    EXPECT_EQ(within.find_first_not_of(' '), std::string::npos);  // no SOFTWARE tag: blanks
    EXPECT_EQ(ExpandPhotoPlaceholders("%MODEL%", bomb).size(), 2500u);
}
