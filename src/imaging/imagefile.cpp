// Decoding image files through QImageReader into bottom-up blue-green-red pictures.
#include "imaging/imagefile.h"

#include <QFile>
#include <QImage>
#include <QImageReader>

#include <cstring>
#include <mutex>

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

} // namespace

ImagePtr LoadImageFile(const std::filesystem::path &path)
{
    startDecoder();
    QImageReader reader(QFile::decodeName(QByteArray(path.native().c_str())));
    // The content decides the format, not the file name; the stored orientation is kept.
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(false);
    if (!reader.canRead())
        return nullptr;
    const QSize declared = reader.size();
    if (declared.isValid() && !fitsPlane(declared.width(), declared.height()))
        return nullptr;

    QImage decoded;
    if (!reader.read(&decoded) || decoded.isNull())
        return nullptr;
    if (!fitsPlane(decoded.width(), decoded.height()))
        return nullptr;
    // Alpha is dropped with the colour left as stored: a non-premultiplied format keeps its
    // colour bytes, and premultiplied ones are converted back first.
    if (decoded.hasAlphaChannel())
        decoded = decoded.convertToFormat(QImage::Format_ARGB32);
    const QImage rgb = decoded.convertToFormat(QImage::Format_BGR888);
    if (rgb.isNull())
        return nullptr;

    ImagePtr out = CreateImageBuffer(rgb.width(), rgb.height(), 24);
    if (!out)
        return nullptr;
    // QImage rows run top-down; ImageBuffer::row() addresses them bottom-up.
    const size_t rowBytes = size_t(3) * size_t(rgb.width());
    for (int32_t y = 0; y < out->height; ++y)
        std::memcpy(out->row(y), rgb.constScanLine(y), rowBytes);
    return out;
}

} // namespace vorn
