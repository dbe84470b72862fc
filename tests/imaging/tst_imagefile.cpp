// LoadImageFile: the decoder's pixels in bottom-up blue-green-red rows, refusal of bad files,
// and the cache of decoded files.
#include "imaging/imagefile.h"
#include "imaging/qimageconvert.h"
#include "support/pixelprobe.h"

#include "support/tempdir.h"

#include <QImage>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

using namespace vorn;
using vorn::test::pixelAt;
using vorn::test::Rgba;
using vorn::test::setPixel;
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
    ImageFileCacheStats stats = GetImageFileCacheStats();
    EXPECT_EQ(stats.hits, 1);
    EXPECT_EQ(stats.entries, 1);
    EXPECT_EQ(stats.bytes, 4 * 20);

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
    EXPECT_EQ(GetImageFileCacheStats().hits, 0);
    EXPECT_EQ(GetImageFileCacheStats().entries, 0);

    // Threads sharing the cached picture each get the whole of it.
    SetImageFileCacheBudget(DefaultImageFileCacheBytes);
    writeFilled(qRgb(11, 12, 13), 5);
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 25; ++i) {
                good += loaded() == Rgba{11, 12, 13, -1};
            }
        });
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(good.load(), 100);
    EXPECT_GE(GetImageFileCacheStats().hits, 1);
}
