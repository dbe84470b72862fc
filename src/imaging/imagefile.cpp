// Decoding image files through QImageReader into bottom-up blue-green-red pictures.
#include "imaging/imagefile.h"

#include "imaging/filestructure.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>

#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <list>
#include <mutex>
#include <optional>

namespace vorn {
namespace {

// Qt refuses to allocate images above a process-wide limit (128 MB by default), which would
// turn away ordinary large photos. Raise it once to what the engine itself accepts for a plane;
// the size check below keeps anything larger out before decoding starts.
void startDecoder()
{
    static std::once_flag once;
    std::call_once(once, [] {
        const int limitMb = int(MaxPlaneBytes >> 20);
        if (QImageReader::allocationLimit() < limitMb)
            QImageReader::setAllocationLimit(limitMb);
    });
}

bool fitsPlane(int64_t width, int64_t height)
{
    if (width <= 0 || height <= 0)
        return false;
    const int64_t stride = (3 * width + 3) & ~int64_t(3);
    return stride <= MaxPlaneBytes / height;
}

bool fitsBudget(int64_t width, int64_t height, int64_t pixelBudget)
{
    return fitsPlane(width, height) && width <= pixelBudget / height;
}

// The whole file, or none when it cannot be read or is larger than any picture we decode.
std::optional<QByteArray> readBytes(const std::filesystem::path &path)
{
    QFile file(QFile::decodeName(QByteArray(path.native().c_str())));
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxPlaneBytes)
        return std::nullopt;
    QByteArray bytes = file.readAll();
    if (bytes.size() != file.size())
        return std::nullopt;
    return bytes;
}

std::string_view viewOf(const QByteArray &bytes)
{
    return std::string_view(bytes.constData(), size_t(bytes.size()));
}

// A JPEG or PNG whose structure is damaged or cut short before `to` never reaches the decoder.
bool structureSound(const QByteArray &bytes, WalkTo to)
{
    const std::string_view view = viewOf(bytes);
    if (IsPng(view))
        return PngStructureSound(view, to);
    if (IsJpeg(view) && to == WalkTo::End)
        return JpegComplete(view);
    return true;
}

void configure(QImageReader &reader)
{
    // The content decides the format, not the file name; the stored orientation is kept.
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(false);
}

// One row of 0xAARRGGBB words to blue-green-red bytes, the alpha byte dropped.
void wordsToBgr(const QRgb *src, int32_t width, uint8_t *dst)
{
    int32_t x = 0;
    if constexpr (std::endian::native == std::endian::little) {
        // Four pixels to three words: each word in memory is blue, green, red, alpha.
        for (; x + 4 <= width; x += 4, src += 4, dst += 12) {
            const uint32_t w[3] = {(src[0] & 0xffffffu) | (src[1] << 24),
                                   ((src[1] >> 8) & 0xffffu) | (src[2] << 16),
                                   ((src[2] >> 16) & 0xffu) | (src[3] << 8)};
            std::memcpy(dst, w, sizeof w);
        }
    }
    for (; x < width; ++x, ++src, dst += 3) {
        dst[0] = uint8_t(qBlue(*src));
        dst[1] = uint8_t(qGreen(*src));
        dst[2] = uint8_t(qRed(*src));
    }
}

ImagePtr decodeFile(const std::filesystem::path &path, int64_t pixelBudget)
{
    startDecoder();
    std::optional<QByteArray> bytes = readBytes(path);
    if (!bytes || !structureSound(*bytes, WalkTo::Header))
        return nullptr;
    QBuffer device(&*bytes);
    device.open(QIODevice::ReadOnly);
    QImageReader reader(&device);
    configure(reader);
    if (!reader.canRead())
        return nullptr;
    // The declared size decides before a byte is decoded, or inflated to prove the file whole.
    const QSize declared = reader.size();
    if (declared.isValid() && !fitsBudget(declared.width(), declared.height(), pixelBudget))
        return nullptr;
    if (!structureSound(*bytes, WalkTo::End))
        return nullptr;

    // The JPEG decoder writes into a picture handed to it when its size and format are the
    // ones it would make (and writes every row, as it does into one it makes); made here first,
    // the picture can take huge pages before the first write. Other decoders are left alone:
    // some clear only a picture they allocate themselves.
    QImage decoded;
    if (declared.isValid() && reader.format() == "jpeg") {
        const QImage::Format format = reader.imageFormat();
        if (format != QImage::Format_Invalid) {
            decoded = QImage(declared, format);
            if (!decoded.isNull())
                AdviseLargeBlock(decoded.bits(), size_t(decoded.sizeInBytes()));
        }
    }
    if (!reader.read(&decoded) || decoded.isNull())
        return nullptr;
    if (!fitsBudget(decoded.width(), decoded.height(), pixelBudget))
        return nullptr;
    // Alpha is dropped with the colour left as stored: a non-premultiplied format keeps its
    // colour bytes, and premultiplied ones are converted back first.
    if (decoded.hasAlphaChannel() && decoded.format() != QImage::Format_ARGB32)
        decoded = decoded.convertToFormat(QImage::Format_ARGB32);
    // 32-bit pixels (what JPEG colour decodes to) go straight into the picture's rows; other
    // formats through Qt's conversion first.
    const bool fromWords =
        decoded.format() == QImage::Format_RGB32 || decoded.format() == QImage::Format_ARGB32;
    if (!fromWords) {
        decoded = decoded.convertToFormat(QImage::Format_BGR888);
        if (decoded.isNull())
            return nullptr;
    }

    // Every pixel byte is written below.
    ImagePtr out = CreateImageBufferUninitialised(decoded.width(), decoded.height(), 24);
    if (!out)
        return nullptr;
    // QImage rows run top-down; ImageBuffer::row() addresses them bottom-up.
    const int32_t width = out->width;
    for (int32_t y = 0; y < out->height; ++y) {
        const uchar *line = decoded.constScanLine(y);
        if (fromWords)
            wordsToBgr(reinterpret_cast<const QRgb *>(line), width, out->row(y));
        else
            std::memcpy(out->row(y), line, size_t(3) * size_t(width));
    }
    return out;
}

// What identifies one version of a file: rewriting it changes its change time at least, and
// replacing it changes the inode.
struct FileIdentity {
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    bool operator==(const FileIdentity &o) const
    {
        return path == o.path && device == o.device && inode == o.inode && size == o.size
               && modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec
               && changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
    }
};

std::optional<FileIdentity> identify(const std::filesystem::path &path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return FileIdentity{path.native(), st.st_dev, st.st_ino, st.st_size, st.st_mtim,
                        st.st_ctim};
}

bool recentlyModified(const FileIdentity &id)
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return id.modified.tv_sec >= now.tv_sec - 1;
}

int64_t planeBytes(const ImageBuffer &image)
{
    return int64_t(image.stride) * image.height;
}

// Decoded pictures, most recently used first, within a byte budget.
class DecodedCache {
public:
    std::shared_ptr<const ImageBuffer> find(const FileIdentity &id)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
            if (it->id == id) {
                m_entries.splice(m_entries.begin(), m_entries, it);
                ++m_stats.hits;
                return it->image;
            }
        }
        ++m_stats.misses;
        return nullptr;
    }

    void insert(const FileIdentity &id, std::shared_ptr<const ImageBuffer> image)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        removeIf([&](const Entry &e) { return e.id.path == id.path; });
        const int64_t bytes = planeBytes(*image);
        if (bytes > m_budget)
            return;
        m_entries.push_front({id, std::move(image)});
        m_stats.bytes += bytes;
        while (m_stats.bytes > m_budget) {
            m_stats.bytes -= planeBytes(*m_entries.back().image);
            m_entries.pop_back();
        }
    }

    void setBudget(int64_t bytes)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_budget = std::max<int64_t>(0, bytes);
        removeIf([](const Entry &) { return true; });
        m_stats = {};
    }

    ImageFileCacheStats stats()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        ImageFileCacheStats s = m_stats;
        s.entries = int32_t(m_entries.size());
        return s;
    }

private:
    struct Entry {
        FileIdentity id;
        std::shared_ptr<const ImageBuffer> image;
    };

    template<typename Pred>
    void removeIf(Pred pred)
    {
        for (auto it = m_entries.begin(); it != m_entries.end();) {
            if (pred(*it)) {
                m_stats.bytes -= planeBytes(*it->image);
                it = m_entries.erase(it);
            } else {
                ++it;
            }
        }
    }

    std::mutex m_lock;
    std::list<Entry> m_entries;
    int64_t m_budget = DefaultImageFileCacheBytes;
    ImageFileCacheStats m_stats;
};

DecodedCache &decodedCache()
{
    static DecodedCache cache;
    return cache;
}

} // namespace

int64_t PicturePixelBudget(int32_t screenWidth, int32_t screenHeight)
{
    const int64_t screen = int64_t(std::max(screenWidth, 0)) * std::max(screenHeight, 0);
    return std::max(MinPicturePixels, 16 * screen);
}

bool ImageFileHeader::fits(int64_t pixelBudget) const
{
    return readable && ((width == 0 && height == 0) || fitsBudget(width, height, pixelBudget));
}

ImageFileHeader ReadImageFileHeader(const std::filesystem::path &path)
{
    ImageFileHeader header;
    if (!identify(path))
        return header;
    startDecoder();
    // A PNG's header chunks are checked before the decoder reads them (it would print its own
    // error for a damaged one); other formats are read straight from the file.
    QBuffer device;
    QFile file(QFile::decodeName(QByteArray(path.native().c_str())));
    QImageReader reader;
    if (!file.open(QIODevice::ReadOnly))
        return header;
    if (IsPng(viewOf(file.peek(8)))) {
        std::optional<QByteArray> bytes = readBytes(path);
        if (!bytes || !structureSound(*bytes, WalkTo::Header))
            return header;
        device.setData(*bytes);
        device.open(QIODevice::ReadOnly);
        reader.setDevice(&device);
    } else {
        reader.setDevice(&file);
    }
    configure(reader);
    if (!reader.canRead())
        return header;
    // A format whose size is known only after decoding passes here; decoding tests it then.
    const QSize size = reader.size();
    if (size.isValid() && size.isEmpty())
        return header;
    header.readable = true;
    if (size.isValid()) {
        header.width = size.width();
        header.height = size.height();
    }
    return header;
}

ImagePtr LoadImageFile(const std::filesystem::path &path, int64_t pixelBudget)
{
    const std::optional<FileIdentity> before = identify(path);
    if (!before)
        return nullptr;  // missing, a directory, a FIFO or a device: nothing to decode
    DecodedCache &cache = decodedCache();
    if (std::shared_ptr<const ImageBuffer> cached = cache.find(*before)) {
        if (!fitsBudget(cached->width, cached->height, pixelBudget))
            return nullptr;
        return CopyImage(cached.get());
    }

    ImagePtr decoded = decodeFile(path, pixelBudget);
    if (!decoded)
        return nullptr;
    // Only a file that did not change while it was decoded is remembered under its identity,
    // and only once its modification time lies in the past: file times advance in coarse
    // ticks, so a file written again within the same tick would otherwise look unchanged.
    if (identify(path) == before && !recentlyModified(*before)) {
        ImagePtr copy = CopyImage(decoded.get());
        if (copy)
            cache.insert(*before, std::shared_ptr<const ImageBuffer>(std::move(copy)));
    }
    return decoded;
}

void SetImageFileCacheBudget(int64_t bytes)
{
    decodedCache().setBudget(bytes);
}

ImageFileCacheStats GetImageFileCacheStats()
{
    return decodedCache().stats();
}

} // namespace vorn
