// EXIF lookup through Exiv2 and the expansion of photo placeholders in TEXT strings.
#include "imaging/photoproperty.h"

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <cstdio>
#include <mutex>

namespace vorn {

const std::array<PhotoTag, 9> PhotoTagTable = {{
    {"%MAKER%", 0x010F},
    {"%MODEL%", 0x0110},
    {"%SOFTWARE%", 0x0131},
    {"%DATE%", 0x0132},
    {"%EXPOSURE%", 0x829A},
    {"%FNUMBER%", 0x829D},
    {"%ISO%", 0x8827},
    {"%FLASH%", 0x9209},
    {"%FOCUS%", 0x920A},
}};

namespace {

// Exiv2 0.27 initialises its XMP parser lazily and not thread-safely, and keeps a global log
// level; every use goes through this lock.
std::mutex &exivLock()
{
    static std::mutex lock;
    return lock;
}

// The metadata of one file, read once and asked for any number of tags.
class PhotoProperties {
public:
    explicit PhotoProperties(const std::filesystem::path &path)
    {
        // Only regular files: opening a FIFO or a device would block or never end.
        std::error_code error;
        if (!std::filesystem::is_regular_file(path, error))
            return;
        std::lock_guard<std::mutex> guard(exivLock());
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        try {
            auto image = Exiv2::ImageFactory::open(path.string(), false);
            if (!image.get())
                return;
            image->readMetadata();
            m_exif = image->exifData();
        } catch (const std::exception &) {
            m_exif.clear();  // unreadable or not an image: no properties
        }
    }

    std::optional<std::string> property(uint16_t id) const
    {
        try {
            for (const Exiv2::Exifdatum &datum : m_exif) {
                if (datum.tag() != id)
                    continue;
                const std::string group = datum.groupName();
                if (group != "Image" && group != "Photo")
                    continue;
                return format(datum);
            }
        } catch (const std::exception &) {
        }
        return std::nullopt;
    }

private:
    static std::optional<std::string> format(const Exiv2::Exifdatum &datum)
    {
        const Exiv2::TypeId type = datum.typeId();
        if (type == Exiv2::asciiString) {
            // Up to the first NUL, as a C string would read it.
            std::string text = datum.toString();
            const size_t nul = text.find('\0');
            if (nul != std::string::npos)
                text.resize(nul);
            return text;
        }
        if (datum.count() == 0)
            return std::nullopt;
        char buffer[64];
        switch (type) {
        case Exiv2::unsignedShort:
        case Exiv2::unsignedLong:
            // LONG is unsigned in EXIF: large values must not read as negative.
            std::snprintf(buffer, sizeof buffer, "%u", unsigned(uint32_t(datum.toLong(0))));
            break;
        case Exiv2::signedLong:
            std::snprintf(buffer, sizeof buffer, "%d", int(int32_t(datum.toLong(0))));
            break;
        case Exiv2::unsignedRational: {
            const Exiv2::Rational r = datum.toRational(0);
            std::snprintf(buffer, sizeof buffer, "%u / %u", unsigned(uint32_t(r.first)),
                          unsigned(uint32_t(r.second)));
            break;
        }
        default:
            return std::nullopt;  // BYTE, UNDEFINED, SRATIONAL: no text form is defined
        }
        return std::string(buffer);
    }

    Exiv2::ExifData m_exif;
};

} // namespace

std::optional<std::string> GetPhotoProperty(const std::filesystem::path &path,
                                            uint16_t propertyId)
{
    return PhotoProperties(path).property(propertyId);
}

std::string ExpandPhotoPlaceholders(std::string_view textSjis, const std::filesystem::path &path)
{
    std::string text(textSjis);
    if (text.find('%') == std::string::npos)
        return text;
    const size_t limit = textSjis.size() + MaxPhotoTextGrowth;
    std::optional<PhotoProperties> properties;
    for (const PhotoTag &tag : PhotoTagTable) {
        const std::string_view placeholder = tag.placeholder;
        size_t count = 0;
        for (size_t at = text.find(placeholder); at != std::string::npos;
             at = text.find(placeholder, at + placeholder.size()))
            ++count;
        if (count == 0)
            continue;
        if (!properties)
            properties.emplace(path);
        std::string value = properties->property(tag.propertyId).value_or(" ");
        // A value that would grow the text past the limit (values that hold later placeholders
        // multiply with every row) is left out as an unreadable one is.
        if (value.size() > placeholder.size() &&
            (value.size() - placeholder.size()) > (limit - std::min(limit, text.size())) / count)
            value = " ";
        // One pass; replaced text is not searched again for this placeholder, later rows see it.
        std::string out;
        out.reserve(text.size() + count * value.size());
        size_t p = 0;
        for (size_t at = text.find(placeholder); at != std::string::npos;
             at = text.find(placeholder, p)) {
            out.append(text, p, at - p);
            out.append(value);
            p = at + placeholder.size();
        }
        out.append(text, p, std::string::npos);
        text = std::move(out);
    }
    return text;
}

} // namespace vorn
