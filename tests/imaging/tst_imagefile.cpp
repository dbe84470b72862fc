// LoadImageFile: exact pixels and row order for lossless files, JPEG, and refusal of bad files.
#include "imaging/imagefile.h"
#include "pixelprobe.h"

#include <QImage>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <cstdlib>
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

class LoadImageFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path()
                / ("vorn-imagefile-" + std::to_string(::getpid()) + "-"
                   + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    fs::path path(const char *name) const { return m_dir / name; }

    static QImage patterned(int w, int h)
    {
        QImage image(w, h, QImage::Format_RGB32);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                image.setPixel(x, y, qRgb(40 * x + 3, 50 * y + 7, (x * 7 + y * 11) & 255));
        return image;
    }

    static void writeBytes(const fs::path &p, const std::string &bytes)
    {
        std::ofstream(p, std::ios::binary) << bytes;
    }

    static std::string readBytes(const fs::path &p)
    {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    fs::path m_dir;
};

} // namespace

TEST_F(LoadImageFileTest, LosslessFilesGiveExactPixelsBottomUp)
{
    const QImage source = patterned(5, 3);
    for (const char *name : {"p.png", "p.bmp", "p.ppm"}) {
        ASSERT_TRUE(source.save(QString::fromUtf8(path(name).c_str()))) << name;
        ImagePtr image = LoadImageFile(path(name));
        ASSERT_TRUE(image) << name;
        EXPECT_EQ(image->width, 5);
        EXPECT_EQ(image->height, 3);
        EXPECT_EQ(image->bitCount, 24);
        EXPECT_FALSE(image->alpha);
        EXPECT_EQ(image->stride, 16);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x) {
                const QRgb c = source.pixel(x, y);
                ASSERT_EQ(pixelAt(*image, x, y), (Rgba{qRed(c), qGreen(c), qBlue(c), -1}))
                    << name << " " << x << "," << y;
            }
        // The top row of the picture is the last row in memory, blue first.
        const uint8_t *top = image->pixels.get() + 2 * image->stride;
        EXPECT_EQ(top[0], qBlue(source.pixel(0, 0)));
        EXPECT_EQ(top[2], qRed(source.pixel(0, 0)));
    }
}

TEST_F(LoadImageFileTest, AlphaPaletteAndGreyFilesKeepTheirColours)
{
    QImage withAlpha(2, 1, QImage::Format_ARGB32);
    withAlpha.setPixel(0, 0, qRgba(200, 100, 50, 128));
    withAlpha.setPixel(1, 0, qRgba(10, 20, 30, 0));
    ASSERT_TRUE(withAlpha.save(QString::fromUtf8(path("a.png").c_str())));
    ImagePtr a = LoadImageFile(path("a.png"));
    ASSERT_TRUE(a);
    EXPECT_FALSE(a->alpha);
    EXPECT_EQ(pixelAt(*a, 0, 0), (Rgba{200, 100, 50, -1}));
    EXPECT_EQ(pixelAt(*a, 1, 0), (Rgba{10, 20, 30, -1}));

    QImage indexed(3, 2, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(1, 2, 3), qRgb(250, 128, 0)});
    indexed.fill(0);
    indexed.setPixel(2, 1, 1);
    ASSERT_TRUE(indexed.save(QString::fromUtf8(path("i.gif").c_str()), "GIF")
                || indexed.save(QString::fromUtf8(path("i.gif").c_str()), "PNG"));
    ImagePtr i = LoadImageFile(path("i.gif"));
    ASSERT_TRUE(i);
    EXPECT_EQ(pixelAt(*i, 0, 0), (Rgba{1, 2, 3, -1}));
    EXPECT_EQ(pixelAt(*i, 2, 1), (Rgba{250, 128, 0, -1}));

    QImage grey(2, 2, QImage::Format_Grayscale8);
    grey.fill(0);
    grey.setPixel(1, 0, qRgb(77, 77, 77));
    ASSERT_TRUE(grey.save(QString::fromUtf8(path("g.png").c_str())));
    ImagePtr g = LoadImageFile(path("g.png"));
    ASSERT_TRUE(g);
    EXPECT_EQ(pixelAt(*g, 1, 0), (Rgba{77, 77, 77, -1}));
    EXPECT_EQ(pixelAt(*g, 0, 1), (Rgba{0, 0, 0, -1}));
}

TEST_F(LoadImageFileTest, JpegKeepsOrientationAndColourWithinCompressionError)
{
    // Top half orange, bottom half dark blue, blocks aligned to the 8-pixel grid.
    QImage source(16, 16, QImage::Format_RGB32);
    source.fill(qRgb(240, 120, 20));
    for (int y = 8; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            source.setPixel(x, y, qRgb(10, 20, 120));
    // A misleading extension: the content decides the format.
    ASSERT_TRUE(source.save(QString::fromUtf8(path("photo.bmp").c_str()), "JPEG", 100));
    ImagePtr image = LoadImageFile(path("photo.bmp"));
    ASSERT_TRUE(image);
    ASSERT_EQ(image->width, 16);
    ASSERT_EQ(image->height, 16);
    auto near = [](Rgba got, Rgba want) {
        return std::abs(got.r - want.r) <= 4 && std::abs(got.g - want.g) <= 4
               && std::abs(got.b - want.b) <= 4;
    };
    EXPECT_TRUE(near(pixelAt(*image, 3, 2), {240, 120, 20, -1})) << pixelAt(*image, 3, 2);
    EXPECT_TRUE(near(pixelAt(*image, 12, 13), {10, 20, 120, -1})) << pixelAt(*image, 12, 13);
}

TEST_F(LoadImageFileTest, JpegAndGreyPixelsAreTheDecoderOutputExactly)
{
    // Widths 1, 7 and 13 leave 1 to 3 pixels after the groups of four, and the padding of each
    // row must stay 0 (pictures written out byte for byte are compared elsewhere).
    for (int w : {1, 7, 13, 64}) {
        for (const char *format : {"JPEG", "PGM"}) {
            const fs::path file = path((std::to_string(w) + format).c_str());
            QImage source = patterned(w, 9);
            if (std::string(format) == "PGM")
                source = source.convertToFormat(QImage::Format_Grayscale8);
            ASSERT_TRUE(source.save(QString::fromUtf8(file.c_str()), format, 85));
            ImagePtr image = LoadImageFile(file);
            ASSERT_TRUE(image);
            const QImage expected =
                QImage(QString::fromUtf8(file.c_str())).convertToFormat(QImage::Format_BGR888);
            ASSERT_EQ(image->width, expected.width());
            ASSERT_EQ(image->height, expected.height());
            for (int y = 0; y < image->height; ++y) {
                ASSERT_EQ(std::memcmp(image->row(y), expected.constScanLine(y), size_t(3 * w)), 0)
                    << format << " width " << w << " row " << y;
                for (int i = 3 * w; i < image->stride; ++i)
                    ASSERT_EQ(image->row(y)[i], 0) << format << " width " << w;
            }
        }
    }
}

TEST_F(LoadImageFileTest, BadFilesGiveNone)
{
    EXPECT_FALSE(LoadImageFile(path("missing.png")));
    EXPECT_FALSE(LoadImageFile(m_dir));  // a directory
    // A FIFO with no writer would block a reader forever.
    ASSERT_EQ(::mkfifo(path("fifo.png").c_str(), 0600), 0);
    EXPECT_FALSE(LoadImageFile(path("fifo.png")));

    writeBytes(path("text.jpg"), "This is not a picture.\n");
    EXPECT_FALSE(LoadImageFile(path("text.jpg")));
    writeBytes(path("empty.png"), "");
    EXPECT_FALSE(LoadImageFile(path("empty.png")));

    // Cut inside the header: nothing can be decoded.
    ASSERT_TRUE(patterned(40, 30).save(QString::fromUtf8(path("whole.png").c_str())));
    ASSERT_TRUE(patterned(40, 30).save(QString::fromUtf8(path("whole.jpg").c_str()), "JPEG"));
    for (const char *name : {"whole.png", "whole.jpg"}) {
        const std::string bytes = readBytes(path(name));
        writeBytes(path("cut"), bytes.substr(0, 20));
        EXPECT_FALSE(LoadImageFile(path("cut"))) << name;
        // Cut in the pixel data: whatever the decoder recovers keeps the declared size.
        writeBytes(path("half"), bytes.substr(0, bytes.size() / 2));
        if (ImagePtr half = LoadImageFile(path("half"))) {
            EXPECT_EQ(half->width, 40) << name;
            EXPECT_EQ(half->height, 30) << name;
        }
    }
}

TEST_F(LoadImageFileTest, HugeDeclaredSizeIsRefusedBeforeDecoding)
{
    // A BMP header declaring 40000 x 40000 pixels at 24 bits (4.8 GB) and no pixel data.
    std::string bmp(54, '\0');
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bmp[at + size_t(i)] = char((v >> (8 * i)) & 0xFF);
    };
    bmp[0] = 'B';
    bmp[1] = 'M';
    put32(2, 54 + 64);
    put32(10, 54);
    put32(14, 40);
    put32(18, 40000);
    put32(22, 40000);
    bmp[26] = 1;
    bmp[28] = 24;
    bmp += std::string(64, '\x7f');
    writeBytes(path("huge.bmp"), bmp);
    EXPECT_FALSE(LoadImageFile(path("huge.bmp")));
}

TEST_F(LoadImageFileTest, CacheHandsOutCopiesAndNoticesChangedFiles)
{
    SetImageFileCacheBudget(DefaultImageFileCacheBytes);
    const fs::path file = path("cached.png");
    auto writeFilled = [&](QRgb colour, int hoursAgo) {
        QImage image(6, 4, QImage::Format_RGB32);
        image.fill(colour);
        ASSERT_TRUE(image.save(QString::fromUtf8(file.c_str())));
        fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::hours(hoursAgo));
    };
    writeFilled(qRgb(10, 20, 30), 1);

    ImagePtr first = LoadImageFile(file);
    ASSERT_TRUE(first);
    setPixel(*first, 0, 0, {99, 99, 99, -1});  // the caller's own copy
    ImagePtr second = LoadImageFile(file);
    ASSERT_TRUE(second);
    EXPECT_EQ(pixelAt(*second, 0, 0), (Rgba{10, 20, 30, -1}));
    ImageFileCacheStats stats = GetImageFileCacheStats();
    EXPECT_EQ(stats.hits, 1);
    EXPECT_EQ(stats.entries, 1);
    EXPECT_EQ(stats.bytes, 4 * 20);

    // Rewritten (same size on disk, another time): decoded again.
    writeFilled(qRgb(200, 100, 0), 2);
    ImagePtr third = LoadImageFile(file);
    ASSERT_TRUE(third);
    EXPECT_EQ(pixelAt(*third, 5, 3), (Rgba{200, 100, 0, -1}));
    EXPECT_EQ(GetImageFileCacheStats().entries, 1);

    // A file modified just now is not trusted to the cache; a removed file is not served.
    writeFilled(qRgb(1, 2, 3), 0);
    LoadImageFile(file);
    ImagePtr fresh = LoadImageFile(file);
    ASSERT_TRUE(fresh);
    EXPECT_EQ(pixelAt(*fresh, 1, 1), (Rgba{1, 2, 3, -1}));
    EXPECT_EQ(GetImageFileCacheStats().hits, 1);
    writeFilled(qRgb(4, 5, 6), 3);
    ASSERT_TRUE(LoadImageFile(file));
    fs::remove(file);
    EXPECT_FALSE(LoadImageFile(file));

    // A budget smaller than the picture keeps nothing.
    SetImageFileCacheBudget(16);
    writeFilled(qRgb(7, 8, 9), 4);
    LoadImageFile(file);
    LoadImageFile(file);
    EXPECT_EQ(GetImageFileCacheStats().hits, 0);
    EXPECT_EQ(GetImageFileCacheStats().entries, 0);
    SetImageFileCacheBudget(DefaultImageFileCacheBytes);
}

TEST_F(LoadImageFileTest, ConcurrentLoadsAgree)
{
    SetImageFileCacheBudget(DefaultImageFileCacheBytes);
    const QImage source = patterned(5, 3);
    const fs::path file = path("shared.png");
    ASSERT_TRUE(source.save(QString::fromUtf8(file.c_str())));
    fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::hours(1));
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 25; ++i) {
                ImagePtr image = LoadImageFile(file);
                const QRgb c = source.pixel(4, 2);
                if (image && pixelAt(*image, 4, 2) == Rgba{qRed(c), qGreen(c), qBlue(c), -1})
                    ++good;
            }
        });
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(good.load(), 100);
    EXPECT_GE(GetImageFileCacheStats().hits, 1);
}
