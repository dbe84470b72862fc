// libFuzzer target: any picture file, with any TEXT string, goes through the EXIF lookup and the
// expansion of the photo placeholders without crashing, hanging or growing the text past its
// bound; a text without '%' comes back unchanged, and a lone placeholder becomes the property's
// value (or " ") whenever that value holds no further '%'.
//
// The first input byte is the length n of the TEXT string, which follows it; the rest of the
// input is the picture file. With n = 0 the string is every placeholder twice.
#include "imaging/photoproperty.h"
#include "support/scratchfile.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// The lookup reads the picture by name as a TEXT block reads its picture.
const vorn::fuzz::ScratchFile Scratch("vorn-fuzz-exif");

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t textSize = std::min<size_t>(data[0], size - 1);
    std::string text(reinterpret_cast<const char *>(data + 1), textSize);
    if (text.empty())
        for (int round = 0; round < 2; ++round)
            for (const vorn::PhotoTag &tag : vorn::PhotoTagTable)
                text += std::string("[") + tag.placeholder + "]";
    Scratch.write(data + 1 + textSize, size - 1 - textSize);
    const std::filesystem::path picture = Scratch.path();

    const std::string expanded = vorn::ExpandPhotoPlaceholders(text, picture);
    if (expanded.size() > text.size() + vorn::MaxPhotoTextGrowth)
        std::abort();
    if (text.find('%') == std::string::npos && expanded != text)
        std::abort();

    // One row per input (chosen by the text's length), so that each input reads the file thrice.
    const vorn::PhotoTag &tag = vorn::PhotoTagTable[textSize % vorn::PhotoTagTable.size()];
    const std::string value = vorn::GetPhotoProperty(picture, tag.propertyId).value_or(" ");
    if (value.find('%') == std::string::npos &&
        vorn::ExpandPhotoPlaceholders(tag.placeholder, picture) != value)
        std::abort();
    return 0;
}
