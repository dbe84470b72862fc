// Whether a picture file is whole: the JPEG and PNG structure walked before the decoder sees it.
#pragma once

#include <cstdint>
#include <string_view>

namespace vorn {

// Where a walk of the file's structure stops.
enum class WalkTo {
    Header,  // the chunks the decoder reads to learn the picture's size
    End,     // the whole file
};

// A PNG's chunks are whole and the critical ones (IHDR, PLTE, IDAT, IEND) carry their right
// CRC, IHDR first with valid fields; with WalkTo::End, an IDAT comes before IEND and the
// compressed data inflates without error to the end of its stream. The decoder
// prints its own error line to standard error for a damaged header or a cut-off file and
// decodes a truncated one without saying so; this walk turns both away first.
// `bytes` may hold only the start of the file for WalkTo::Header.
bool PngStructureSound(std::string_view bytes, WalkTo to);

// A JPEG runs from its start marker through complete segments and entropy-coded data to an
// end marker (bytes after it are allowed). The decoder pads a cut-off picture with grey and
// reports success.
bool JpegComplete(std::string_view bytes);

bool IsPng(std::string_view bytes);
bool IsJpeg(std::string_view bytes);

} // namespace vorn
