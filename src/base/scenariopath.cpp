// Scenario file names to local paths and back.
#include "base/scenariopath.h"

#include <algorithm>

namespace vorn {
namespace {

std::optional<std::string> decodeSeparators(std::string_view sjis)
{
    auto utf8 = sjisToUtf8Strict(sjis);
    if (!utf8)
        return std::nullopt;
    std::replace(utf8->begin(), utf8->end(), '\\', '/');
    return utf8;
}

} // namespace

bool isAbsoluteScenarioName(std::string_view nameSjis)
{
    if (nameSjis.empty())
        return false;
    if (nameSjis[0] == '/' || nameSjis[0] == '\\')
        return true;
    return nameSjis.size() >= 2 && nameSjis[1] == ':';
}

std::optional<std::filesystem::path> resolveScenarioName(std::string_view nameSjis,
                                                         std::string_view directorySjis)
{
    if (nameSjis.size() >= 2 && nameSjis[1] == ':')
        return std::nullopt;
    const auto name = decodeSeparators(nameSjis);
    if (!name)
        return std::nullopt;
    std::filesystem::path path(*name);
    if (isAbsoluteScenarioName(nameSjis) || directorySjis.empty())
        return path;
    const auto directory = decodeSeparators(directorySjis);
    if (!directory)
        return std::nullopt;
    return std::filesystem::path(*directory) / path;
}

std::optional<SjisString> pathToSjis(const std::filesystem::path &path)
{
    return utf8ToSjis(path.string());
}

std::string notSjisMessage(const std::filesystem::path &path)
{
    return "次のパスは Shift-JIS で表すことができません。\n" + path.string();
}

SjisString scenarioBaseName(std::string_view nameSjis)
{
    // Scan byte by byte, skipping the trail byte of each double-byte character, so that a
    // trail byte 0x5C is not taken for a separator.
    size_t start = 0;
    for (size_t i = 0; i < nameSjis.size(); ++i) {
        const auto c = static_cast<unsigned char>(nameSjis[i]);
        if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) {
            ++i;
            continue;
        }
        if (c == '\\' || c == '/')
            start = i + 1;
    }
    return SjisString(nameSjis.substr(std::min(start, nameSjis.size())));
}

} // namespace vorn
