// Photo metadata (EXIF) lookup and the "%MAKER%"-style placeholders of TEXT strings.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vorn {

// The formatted value of one EXIF property of an image file, looked up by its tag id in IFD0
// or the Exif IFD (the first such datum wins). By EXIF type: ASCII gives the text itself
// (bytes as stored, trailing NULs dropped); SHORT, LONG and SLONG the first value as a decimal
// number; RATIONAL the first numerator and denominator as "n / d" (1/60 s reads "1 / 60").
// None for a missing or unreadable file, a file without the property, or another type.
// Thread-safe; never throws.
std::optional<std::string> GetPhotoProperty(const std::filesystem::path &path,
                                            uint16_t propertyId);

struct PhotoTag {
    const char *placeholder;  // matched case-sensitively, as bytes
    uint16_t propertyId;
};

// The nine placeholders a TEXT string may contain, in the order they are expanded.
extern const std::array<PhotoTag, 9> PhotoTagTable;

// Replaces, row by row in PhotoTagTable's order, every occurrence of the row's placeholder in
// `textSjis` (Shift-JIS bytes; '%' is never part of a double-byte character, so matching bytes
// is safe) by that property of the image file `path`, or by a single " " when the property
// cannot be read. Text without placeholders comes back unchanged and the file is not read.
// A value that would make the text more than MaxPhotoTextGrowth bytes longer than it came is
// treated as unreadable too: values may hold placeholders of later rows and multiply.
inline constexpr size_t MaxPhotoTextGrowth = size_t(1) << 20;
std::string ExpandPhotoPlaceholders(std::string_view textSjis, const std::filesystem::path &path);

} // namespace vorn
