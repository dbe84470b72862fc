// Walking JPEG markers and PNG chunks without decoding anything.
#include "imaging/filestructure.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include <zlib.h>

namespace vorn {
namespace {

constexpr std::string_view PngSignature("\x89PNG\r\n\x1a\n", 8);

uint32_t bigEndian32(const unsigned char *p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// The CRC-32 of PNG chunks, zlib's (which reads several bytes a step).
uint32_t chunkCrc(const unsigned char *data, size_t size)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    while (size > 0) {
        const uInt part = uInt(std::min<size_t>(size, 1u << 30));
        crc = crc32(crc, data, part);
        data += part;
        size -= part;
    }
    return uint32_t(crc);
}

// The bit depths each PNG colour type allows.
bool validDepth(unsigned colourType, unsigned depth)
{
    switch (colourType) {
    case 0: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2: case 4: case 6: return depth == 8 || depth == 16;
    default: return false;
    }
}

bool validHeader(const unsigned char *ihdr)
{
    const uint32_t width = bigEndian32(ihdr);
    const uint32_t height = bigEndian32(ihdr + 4);
    return width >= 1 && width <= 0x7FFFFFFFu && height >= 1 && height <= 0x7FFFFFFFu
           && validDepth(ihdr[9], ihdr[8]) && ihdr[10] == 0 && ihdr[11] == 0 && ihdr[12] <= 1;
}

bool isCritical(const unsigned char *type)
{
    return (type[0] & 0x20) == 0;  // an upper-case first letter
}

// The filtered rows the compressed data must hold, pass by pass: each row is one filter-type
// byte and the row's packed pixels.
class RowLayout {
public:
    explicit RowLayout(const unsigned char *ihdr)
    {
        const uint64_t width = bigEndian32(ihdr);
        const uint64_t height = bigEndian32(ihdr + 4);
        static constexpr int channels[7] = {1, 0, 3, 1, 2, 0, 4};
        const uint64_t bitsPerPixel = uint64_t(ihdr[8]) * channels[ihdr[9] % 7];
        auto add = [&](uint64_t w, uint64_t h) {
            if (w > 0 && h > 0)
                m_passes.push_back({1 + (w * bitsPerPixel + 7) / 8, h});
        };
        if (ihdr[12] == 0) {
            add(width, height);
            return;
        }
        // Adam7: the seven passes' first column and row and their steps.
        static constexpr int adam7[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                            {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
        for (const auto &p : adam7) {
            add(width > uint64_t(p[0]) ? (width - p[0] + p[2] - 1) / p[2] : 0,
                height > uint64_t(p[1]) ? (height - p[1] + p[3] - 1) / p[3] : 0);
        }
    }

    // Takes the next inflated bytes; false at a filter-type byte above 4.
    bool take(const unsigned char *data, size_t size)
    {
        size_t at = 0;
        while (at < size && m_pass < m_passes.size()) {
            const Pass &pass = m_passes[m_pass];
            if (m_inRow == 0 && data[at] > 4)
                return false;
            const uint64_t step = std::min<uint64_t>(pass.rowBytes - m_inRow, size - at);
            at += size_t(step);
            m_inRow += step;
            if (m_inRow == pass.rowBytes) {
                m_inRow = 0;
                if (++m_row == pass.rows) {
                    m_row = 0;
                    ++m_pass;
                }
            }
        }
        return true;  // bytes past the last row are tolerated, as the decoder tolerates them
    }
    bool complete() const { return m_pass == m_passes.size(); }

private:
    struct Pass {
        uint64_t rowBytes;
        uint64_t rows;
    };
    std::vector<Pass> m_passes;
    size_t m_pass = 0;
    uint64_t m_row = 0;
    uint64_t m_inRow = 0;
};

// Runs the compressed picture data through zlib into a small scratch buffer, keeping nothing,
// and follows its rows: the decoder prints its own error line for a damaged stream, a wrong
// filter type or too few rows, so those are found first.
class InflateCheck {
public:
    explicit InflateCheck(const unsigned char *ihdr) : m_rows(ihdr)
    {
        m_ok = inflateInit(&m_stream) == Z_OK;
        m_open = m_ok;
    }
    ~InflateCheck()
    {
        if (m_open)
            inflateEnd(&m_stream);
    }
    InflateCheck(const InflateCheck &) = delete;
    InflateCheck &operator=(const InflateCheck &) = delete;

    // Feeds one IDAT chunk's bytes; false once the data is damaged or follows the stream's end.
    bool feed(const unsigned char *data, size_t size)
    {
        if (!m_ok || (m_ended && size > 0))
            return m_ok = false;
        m_stream.next_in = const_cast<unsigned char *>(data);
        m_stream.avail_in = uInt(size);
        while (m_stream.avail_in > 0 && !m_ended) {
            m_stream.next_out = m_scratch.get();
            m_stream.avail_out = ScratchBytes;
            const int result = inflate(&m_stream, Z_NO_FLUSH);
            if (result == Z_STREAM_END)
                m_ended = true;
            else if (result != Z_OK)
                return m_ok = false;
            if (!m_rows.take(m_scratch.get(), ScratchBytes - m_stream.avail_out))
                return m_ok = false;
        }
        return true;
    }
    bool complete() const { return m_ok && m_ended && m_rows.complete(); }

private:
    static constexpr uInt ScratchBytes = 64 * 1024;
    RowLayout m_rows;
    std::unique_ptr<unsigned char[]> m_scratch{new unsigned char[ScratchBytes]};
    z_stream m_stream{};
    bool m_ok = false;
    bool m_open = false;
    bool m_ended = false;
};

} // namespace

bool IsPng(std::string_view bytes)
{
    return bytes.starts_with(PngSignature);
}

bool IsJpeg(std::string_view bytes)
{
    return bytes.size() >= 3 && bytes.starts_with("\xFF\xD8\xFF");
}

bool PngStructureSound(std::string_view bytes, WalkTo to)
{
    if (!IsPng(bytes))
        return false;
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
    const size_t size = bytes.size();
    size_t at = PngSignature.size();
    bool first = true;
    bool sawData = false;
    std::unique_ptr<InflateCheck> pixels;
    bool indexed = false;
    bool palette = false;
    for (;;) {
        if (size - at < 12)
            return false;
        const uint32_t length = bigEndian32(data + at);
        const unsigned char *type = data + at + 4;
        if (length > 0x7FFFFFFFu || size - at - 12 < length)
            return false;
        for (int i = 0; i < 4; ++i)
            if (!((type[i] >= 'A' && type[i] <= 'Z') || (type[i] >= 'a' && type[i] <= 'z')))
                return false;
        const bool isHeader = std::memcmp(type, "IHDR", 4) == 0;
        if (first != isHeader || (isHeader && (length != 13 || !validHeader(type + 4))))
            return false;
        if (isHeader) {
            indexed = type[4 + 9] == 3;
            if (to == WalkTo::End)
                pixels = std::make_unique<InflateCheck>(type + 4);
        }
        // An indexed picture needs its palette, whole entries of at most 256, before the data.
        if (std::memcmp(type, "PLTE", 4) == 0)
            palette = length > 0 && length % 3 == 0 && length <= 3 * 256;
        if (std::memcmp(type, "IDAT", 4) == 0 && indexed && !palette)
            return false;
        first = false;
        const uint32_t storedCrc = bigEndian32(type + 4 + length);
        if (isCritical(type) && chunkCrc(type, 4 + size_t(length)) != storedCrc)
            return false;
        if (std::memcmp(type, "IDAT", 4) == 0) {
            if (to == WalkTo::Header)
                return true;
            sawData = true;
            if (!pixels->feed(type + 4, length))
                return false;
        }
        if (std::memcmp(type, "IEND", 4) == 0)
            return sawData && pixels->complete();
        at += 12 + size_t(length);
    }
}

bool JpegComplete(std::string_view bytes)
{
    if (!IsJpeg(bytes))
        return false;
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
    const size_t size = bytes.size();
    size_t at = 2;
    for (;;) {
        // Stray bytes before a marker are tolerated, as the decoder tolerates them.
        const void *ff = std::memchr(data + at, 0xFF, size - at);
        if (!ff)
            return false;
        at = size_t(static_cast<const unsigned char *>(ff) - data);
        while (at < size && data[at] == 0xFF)
            ++at;
        if (at >= size)
            return false;
        const unsigned char marker = data[at++];
        if (marker == 0xD9)
            return true;  // end of image
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8))
            continue;  // markers without a length
        if (size - at < 2)
            return false;
        const size_t length = (size_t(data[at]) << 8) | data[at + 1];
        if (length < 2 || size - at < length)
            return false;
        at += length;
        if (marker != 0xDA)
            continue;
        // Entropy-coded data after a start of scan runs to the next marker that is neither a
        // stuffed 0xFF 0x00 nor a restart marker.
        for (;;) {
            const void *next = std::memchr(data + at, 0xFF, size - at);
            if (!next)
                return false;
            at = size_t(static_cast<const unsigned char *>(next) - data);
            if (size - at < 2)
                return false;
            const unsigned char after = data[at + 1];
            if (after == 0x00 || (after >= 0xD0 && after <= 0xD7)) {
                at += 2;
                continue;
            }
            if (after == 0xFF) {
                ++at;
                continue;
            }
            break;
        }
    }
}

} // namespace vorn
