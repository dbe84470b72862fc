// Pictures in memory and in files: ImageBuffer layout (strides, bottom-up rows, channel order and
// clamping, size limits); LoadImageFile: the decoder's pixels in bottom-up blue-green-red rows,
// refusal of bad files, and the cache of decoded files; photo metadata: EXIF values by type, and
// the placeholders of TEXT strings.
#include "imaging/imagefile.h"
#include "imaging/photoproperty.h"
#include "imaging/qimageconvert.h"

#include "pictures.h"
#include "support/tempdir.h"

#include <QImage>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

using namespace vorn;
using namespace vorn::test;
namespace fs = std::filesystem;

namespace {

QImage patterned(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(40 * x + 3, 50 * y + 7, (x * 7 + y * 11) & 255));
    return image;
}

bool save(const QImage &image, const fs::path &file, const char *format = nullptr)
{
    return image.save(QString::fromUtf8(file.c_str()), format, 85);
}

void writeBytes(const fs::path &p, const std::string &bytes)
{
    std::ofstream(p, std::ios::binary) << bytes;
}

} // namespace

// Every row is the decoder's own output byte for byte, its padding 0, the top row last in
// memory; named pixels check the colours where the source format holds more than colour.
TEST(LoadImageFile, GivesTheDecodersPixelsBottomUp)
{
    const test::TempDir dir;
    QImage withAlpha(2, 1, QImage::Format_ARGB32);
    withAlpha.setPixel(0, 0, qRgba(200, 100, 50, 128));
    withAlpha.setPixel(1, 0, qRgba(10, 20, 30, 0));
    QImage indexed(3, 2, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(1, 2, 3), qRgb(250, 128, 0)});
    indexed.fill(0);
    indexed.setPixel(2, 1, 1);
    const QImage grey = patterned(7, 3).convertToFormat(QImage::Format_Grayscale8);
    // Widths 1, 7 and 13 leave 1 to 3 pixels after groups of four.
    const struct {
        const char *file, *format;
        QImage source;
        std::vector<std::pair<QPoint, Rgba>> pixels;
    } cases[] = {
        {"p.png", "PNG", patterned(5, 3), {{{4, 2}, {163, 107, 50, -1}}}},
        {"p.bmp", "BMP", patterned(5, 3), {{{0, 0}, {3, 7, 0, -1}}}},
        {"p.ppm", "PPM", patterned(5, 3), {{{1, 2}, {43, 107, 29, -1}}}},
        {"1.jpg", "JPEG", patterned(1, 9), {}},
        {"7.jpg", "JPEG", patterned(7, 9), {}},
        {"13.jpg", "JPEG", patterned(13, 9), {}},
        {"64.jpg", "JPEG", patterned(64, 9), {}},
        // The content decides the format, not the name.
        {"photo.bmp", "JPEG", patterned(16, 16), {}},
        {"13.pgm", "PGM", patterned(13, 9).convertToFormat(QImage::Format_Grayscale8), {}},
        {"a.png", "PNG", withAlpha, {{{0, 0}, {200, 100, 50, -1}}, {{1, 0}, {10, 20, 30, -1}}}},
        {"i.png", "PNG", indexed, {{{0, 0}, {1, 2, 3, -1}}, {{2, 1}, {250, 128, 0, -1}}}},
        {"interlaced.png", nullptr, {}, {{{12, 8}, {227, 151, 172, -1}}}},
        {"g.png", "PNG", grey, {{{1, 0}, {qGray(grey.pixel(1, 0)), qGray(grey.pixel(1, 0)),
                                           qGray(grey.pixel(1, 0)), -1}}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        const fs::path file = dir.path() / c.file;
        if (c.format)
            ASSERT_TRUE(save(c.source, file, c.format));
        else  // written by scripts/make-interlaced-png: Qt writes no interlaced PNG
            fs::copy_file(fs::path(VORN_TEST_DATA_DIR) / c.file, file);
        const ImagePtr image = LoadImageFile(file);
        ASSERT_TRUE(image);
        const QImage expected = QImage(QString::fromUtf8(file.c_str())).convertToFormat(QImage::Format_BGR888);
        ASSERT_EQ(image->width, expected.width());
        ASSERT_EQ(image->height, expected.height());
        EXPECT_EQ(image->bitCount, 24);
        EXPECT_FALSE(image->alpha);
        const int w = image->width;
        for (int y = 0; y < image->height; ++y) {
            ASSERT_EQ(std::memcmp(image->row(y), expected.constScanLine(y), size_t(3 * w)), 0) << y;
            for (int i = 3 * w; i < image->stride; ++i)
                ASSERT_EQ(image->row(y)[i], 0) << y;
        }
        EXPECT_EQ(image->pixels[size_t(image->height - 1) * size_t(image->stride)],
                  expected.constScanLine(0)[0]);
        for (const auto &[at, rgba] : c.pixels)
            EXPECT_EQ(pixelAt(*image, at.x(), at.y()), rgba) << at.x() << "," << at.y();
        // Back to Qt for the screen: the same colours, top row first.
        EXPECT_EQ(ImageBufferToQImage(*image, AlphaUse::Ignore),
                  expected.convertToFormat(QImage::Format_RGB32));
    }
}

TEST(LoadImageFile, RefusesWhatItCannotDecode)
{
    const test::TempDir dir;
    auto path = [&](const char *name) { return dir.path() / name; };
    EXPECT_FALSE(LoadImageFile(path("missing.png")));
    EXPECT_FALSE(LoadImageFile(dir.path()));  // a directory
    // A FIFO with no writer would block a reader forever.
    ASSERT_EQ(::mkfifo(path("fifo.png").c_str(), 0600), 0);
    EXPECT_FALSE(LoadImageFile(path("fifo.png")));
    writeBytes(path("text.jpg"), "This is not a picture.\n");
    EXPECT_FALSE(LoadImageFile(path("text.jpg")));
    writeBytes(path("empty.png"), "");
    EXPECT_FALSE(LoadImageFile(path("empty.png")));

    // A BMP header declaring 40000 x 40000 pixels at 24 bits (4.8 GB) and no pixel data is
    // refused before decoding.
    std::string bmp = "BM";
    for (const uint32_t v : {54u + 64, 0u, 54u, 40u, 40000u, 40000u, 24u << 16 | 1})
        bmp.append(reinterpret_cast<const char *>(&v), 4);
    writeBytes(path("huge.bmp"), bmp + std::string(24, '\0') + std::string(64, '\x7f'));
    EXPECT_FALSE(LoadImageFile(path("huge.bmp")));

    for (const char *format : {"PNG", "JPEG"}) {
        ASSERT_TRUE(save(patterned(40, 30), path("whole"), format));
        std::ifstream in(path("whole"), std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        // Cut inside the header: nothing can be decoded.
        writeBytes(path("cut"), bytes.substr(0, 20));
        EXPECT_FALSE(LoadImageFile(path("cut"))) << format;
        // Cut in the pixel data, or by its last bytes: the decoder would pad it with grey.
        writeBytes(path("half"), bytes.substr(0, bytes.size() / 2));
        EXPECT_FALSE(LoadImageFile(path("half"))) << format;
        writeBytes(path("end"), bytes.substr(0, bytes.size() - 2));
        EXPECT_FALSE(LoadImageFile(path("end"))) << format;
        EXPECT_TRUE(ReadImageFileHeader(path("end")).readable) << format;
        // A flipped bit in the header's checksum (the decoder would print its own error).
        std::string flipped = bytes;
        flipped[format == std::string("PNG") ? 29 : 3] ^= 1;
        writeBytes(path("flipped"), flipped);
        EXPECT_EQ(bool(LoadImageFile(path("flipped"))), format != std::string("PNG")) << format;
        EXPECT_EQ(ReadImageFileHeader(path("flipped")).readable, format != std::string("PNG"));

        // A chunk whose type is not four letters (one the decoder would skip, as its first
        // byte has the ancillary bit) before the pixel data.
        if (format == std::string("PNG")) {
            writeBytes(path("chunk"), bytes.substr(0, 33) + std::string("\0\0\0\0" "1abc" "\0\0\0\0", 12) + bytes.substr(33));
            EXPECT_FALSE(ReadImageFileHeader(path("chunk")).readable);
            EXPECT_FALSE(LoadImageFile(path("chunk")));
        }
        // The pixel budget is tested on the declared size, before decoding.
        EXPECT_TRUE(LoadImageFile(path("whole"), 40 * 30)) << format;
        EXPECT_FALSE(LoadImageFile(path("whole"), 40 * 30 - 1)) << format;
        EXPECT_TRUE(ReadImageFileHeader(path("whole")).fits(40 * 30)) << format;
        EXPECT_FALSE(ReadImageFileHeader(path("whole")).fits(40 * 30 - 1)) << format;
    }
    // A few hundred bytes that declare 16000 x 16000 pixels.
    for (const char *bomb : {"bomb-16000.jpg", "bomb-16000.png"}) {
        const fs::path file = fs::path(VORN_SOURCE_DIR) / "tests/data/scenario" / bomb;
        const ImageFileHeader header = ReadImageFileHeader(file);
        EXPECT_TRUE(header.readable) << bomb;
        EXPECT_EQ(header.width, 16000) << bomb;
        EXPECT_FALSE(header.fits(PicturePixelBudget(1920, 1080))) << bomb;
        EXPECT_FALSE(LoadImageFile(file, PicturePixelBudget(1920, 1080))) << bomb;
    }
    EXPECT_EQ(PicturePixelBudget(720, 480), MinPicturePixels);
    EXPECT_EQ(PicturePixelBudget(3840, 2160), 16 * 3840 * 2160);
}

TEST(LoadImageFile, CacheHandsOutCopiesAndNoticesChangedFiles)
{
    const test::TempDir dir;
    SetImageFileCacheBudget(DefaultImageFileCacheBytes);
    const fs::path file = dir.path() / "cached.png";
    auto writeFilled = [&](QRgb colour, int hoursAgo) {
        QImage image(6, 4, QImage::Format_RGB32);
        image.fill(colour);
        ASSERT_TRUE(save(image, file));
        fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::hours(hoursAgo));
    };
    // The colour of the picture loaded now (alpha -2: none loaded).
    const auto loaded = [&] {
        const ImagePtr image = LoadImageFile(file);
        return image ? pixelAt(*image, 5, 3) : Rgba{0, 0, 0, -2};
    };
    writeFilled(qRgb(10, 20, 30), 1);
    ImagePtr first = LoadImageFile(file);
    ASSERT_TRUE(first);
    setPixel(*first, 5, 3, {99, 99, 99, -1});  // the caller's own copy
    EXPECT_EQ(loaded(), (Rgba{10, 20, 30, -1}));
    // Hits, entries and bytes.
    const auto stats = [] {
        const ImageFileCacheStats now = GetImageFileCacheStats();
        return std::vector<int64_t>{now.hits, now.entries, now.bytes};
    };
    EXPECT_EQ(stats(), (std::vector<int64_t>{1, 1, 4 * 20}));

    // Rewritten (same size on disk, another time): decoded again.
    writeFilled(qRgb(200, 100, 0), 2);
    EXPECT_EQ(loaded(), (Rgba{200, 100, 0, -1}));
    EXPECT_EQ(GetImageFileCacheStats().entries, 1);

    // A file modified just now is not trusted to the cache; a removed file is not served.
    writeFilled(qRgb(1, 2, 3), 0);
    loaded();
    EXPECT_EQ(loaded(), (Rgba{1, 2, 3, -1}));
    EXPECT_EQ(GetImageFileCacheStats().hits, 1);
    writeFilled(qRgb(4, 5, 6), 3);
    EXPECT_EQ(loaded(), (Rgba{4, 5, 6, -1}));
    fs::remove(file);
    EXPECT_EQ(loaded().a, -2);

    // A budget smaller than the picture keeps nothing.
    SetImageFileCacheBudget(16);
    writeFilled(qRgb(7, 8, 9), 4);
    loaded();
    loaded();
    EXPECT_EQ(stats(), (std::vector<int64_t>{0, 0, 0}));

    // Threads sharing the cached picture each get the whole of it.
    SetImageFileCacheBudget(DefaultImageFileCacheBytes);
    writeFilled(qRgb(11, 12, 13), 5);
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 25; ++i)
                good += loaded() == Rgba{11, 12, 13, -1};
        });
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(good.load(), 100);
    EXPECT_GE(GetImageFileCacheStats().hits, 1);
}

TEST(ImageBufferCore, StridesRowsAndSizes)
{
    const struct {
        int32_t width, bits, stride;
    } strides[] = {{1, 24, 4}, {5, 24, 16}, {9, 1, 4}, {33, 1, 8}, {5, 8, 8}, {5, 32, 20},
                   {5, 16, -1}};
    for (const auto &c : strides)
        EXPECT_EQ(RowStride(c.width, c.bits), c.stride) << c.width << " " << c.bits;
    auto five = CreateImage(5, 2);
    ASSERT_TRUE(five);
    EXPECT_EQ(five->stride, 16);
    EXPECT_EQ(five->alphaStride, 8);

    // The top row (y = 0) is the last stored row; red is byte two.
    auto image = CreateImage(2, 3);
    SetPixelRgb(*image, 1, 0, 10, 20, 30);
    const uint8_t *p = image->pixels.get() + 2 * image->stride + 3;
    EXPECT_EQ(std::vector<int>(p, p + 3), (std::vector<int>{30, 20, 10}));
    EXPECT_EQ(PixelOffset(*image, 1, 0), 2 * image->stride + 3);
    EXPECT_EQ(AlphaOffset(*image, 1, 2), 1);
    // 32-bit pictures reach the screen as well: blue, green, red, and a byte left out.
    auto deep = CreateImageBuffer(2, 1, 32);
    std::fill_n(deep->row(0) + 4, 4, uint8_t(200));
    deep->row(0)[6] = 9;
    EXPECT_EQ(ImageBufferToQImage(*deep).pixel(1, 0), qRgba(9, 200, 200, 255));

    // Unusable sizes give none; a 1-bit row whose alpha row would not fit refuses the plane.
    EXPECT_FALSE(CreateImage(100000, 100000));
    EXPECT_FALSE(CreateImage(-1, 10));
    EXPECT_FALSE(CreateImageBuffer(INT32_MAX, 1, 24));
    EXPECT_FALSE(CreateImageBufferUninitialised(INT32_MAX, 1, 24));
    EXPECT_FALSE(CreateImageBufferUninitialised(4, 4, 12));
    EXPECT_TRUE(CreateImage(0, 0));
    auto wide = CreateImageBuffer(INT32_MAX, 0, 1);
    ASSERT_TRUE(wide);
    EXPECT_EQ(AddAlphaPlane(wide.get()), -1);
    EXPECT_FALSE(wide->alpha);
}

TEST(ImageBufferCore, UninitialisedBuffersZeroOnlyTheirPadding)
{
    for (int32_t bits : {1, 8, 24}) {
        auto image = CreateImageBufferUninitialised(5, 3, bits);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->stride, RowStride(5, bits));
        EXPECT_FALSE(image->alpha);
        const int32_t used = bits == 1 ? 1 : 5 * bits / 8;
        for (int32_t y = 0; y < 3; ++y)
            for (int32_t i = used; i < image->stride; ++i)
                EXPECT_EQ(image->row(y)[i], 0) << bits << " " << y << " " << i;
    }
}

// A copy reproduces both planes byte for byte, padding included, and no alpha plane where
// there was none; flipping reverses the rows.
TEST(ImageBufferCore, CopyIsWholeAndFlipReversesRows)
{
    auto image = CreateImage(3, 2);
    ASSERT_TRUE(image);
    for (int32_t i = 0; i < image->stride * 2; ++i)
        image->pixels[i] = uint8_t(i * 7 + 1);
    for (int32_t i = 0; i < image->alphaStride * 2; ++i)
        image->alpha[i] = uint8_t(200 - i);
    auto copy = CopyImage(image.get());
    ASSERT_TRUE(copy && copy->alpha);
    EXPECT_EQ(copy->alphaStride, image->alphaStride);
    EXPECT_EQ(std::memcmp(copy->pixels.get(), image->pixels.get(), size_t(image->stride * 2)), 0);
    EXPECT_EQ(std::memcmp(copy->alpha.get(), image->alpha.get(), size_t(image->alphaStride * 2)),
              0);

    auto opaque = CreateImageBuffer(1, 2, 24);
    opaque->row(0)[0] = 7;
    auto flipped = CopyImage(opaque.get());
    ASSERT_TRUE(flipped);
    EXPECT_FALSE(flipped->alpha);
    FlipImageRows(*flipped);
    EXPECT_EQ(flipped->row(1)[0], 7);
    EXPECT_EQ(flipped->row(0)[0], 0);
    EXPECT_FALSE(CopyImage(nullptr));
}

TEST(ImageBufferCore, ClampingLandsOnTheNearestEdgePixel)
{
    // Every pixel distinct: red 10 x + y, so a wrong clamp reads a wrong value.
    auto image = CreateImage(3, 2);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 3; ++x)
            SetPixelRgb(*image, x, y, uint8_t(10 * x + y), 0, 0);
    const struct {
        int32_t x, y, red;
    } reads[] = {{-1, -1, 0}, {3, 2, 21}, {-1, 1, 1}, {7, 0, 20}, {1, INT32_MAX, 11},
                 {INT32_MIN, 1, 1}};
    for (const auto &c : reads)
        EXPECT_EQ(GetChannel(*image, c.x, c.y, 0), c.red) << c.x << "," << c.y;
    SetChannel(*image, 5, -3, 1, 77);
    EXPECT_EQ(GetChannel(*image, 2, 0, 1), 77);

    // 1-bit: x beyond the width is the last pixel's bit, not a bit of the padding.
    auto bits = CreateImageBuffer(10, 2, 1);
    SetChannel(*bits, 12, 5, 0, 255);
    EXPECT_EQ(GetChannel(*bits, 9, 1, 0), 255);
    EXPECT_EQ(GetChannel(*bits, 12, 1, 0), 255);
    EXPECT_EQ(GetChannel(*bits, 8, 1, 0), 0);
    EXPECT_EQ(GetChannel(*bits, 9, 0, 0), 0);
    EXPECT_EQ(bits->pixels[1], 0x40);  // row 1 is stored first
}

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
    for (const auto &row : test::readTable("exif.tsv")) {
        const auto text = row.at(1) == "-" ? std::nullopt : std::optional(row[1]);
        EXPECT_EQ(GetPhotoProperty(Tagged, uint16_t(std::stoi(row[0], nullptr, 16))), text) << row[0];
    }
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
    // A value that grows the text by the bound exactly is kept: 32 makers, 2^15 bytes longer each.
    std::string makers;
    for (int i = 0; i < 32; ++i)
        makers += "%MAKER%";
    const fs::path exact = dir.write("exact.jpg", jpegWithAsciiTags({{0x010F, std::string(7 + 32768, 'm')}}));
    EXPECT_EQ(ExpandPhotoPlaceholders(makers, exact).size(), 32u * (7 + 32768));
}
