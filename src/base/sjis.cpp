// iconv-based conversions; "CP932" rather than "SHIFT_JIS" keeps 0x5C a backslash and the
// NEC/IBM extension characters.
#include "base/sjis.h"

#include <cerrno>
#include <iconv.h>

namespace vorn {
namespace {

class Converter {
public:
    Converter(const char *to, const char *from) : m_cd(iconv_open(to, from)) {}
    ~Converter()
    {
        if (valid())
            iconv_close(m_cd);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    bool valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // Converts as much as possible. On an invalid or incomplete sequence, either appends
    // `replacement` and skips one input byte, or (when replacement is null) fails.
    std::optional<std::string> run(std::string_view in, const char *replacement)
    {
        if (!valid())
            return std::nullopt;
        std::string out;
        out.reserve(in.size() * 2 + 8);
        char *src = const_cast<char *>(in.data());
        size_t srcLeft = in.size();
        char buffer[4096];
        while (srcLeft > 0) {
            char *dst = buffer;
            size_t dstLeft = sizeof buffer;
            const size_t r = iconv(m_cd, &src, &srcLeft, &dst, &dstLeft);
            out.append(buffer, dst - buffer);
            if (r != static_cast<size_t>(-1))
                continue;
            if (errno == E2BIG)
                continue;
            // EILSEQ, EINVAL (cut off at the end) or a character with no target form.
            if (!replacement)
                return std::nullopt;
            out.append(replacement);
            ++src;
            --srcLeft;
            iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        }
        char *dst = buffer;
        size_t dstLeft = sizeof buffer;
        iconv(m_cd, nullptr, nullptr, &dst, &dstLeft);
        out.append(buffer, dst - buffer);
        return out;
    }

private:
    iconv_t m_cd;
};

bool isAscii(std::string_view s)
{
    for (unsigned char c : s)
        if (c >= 0x80)
            return false;
    return true;
}

} // namespace

std::string sjisToUtf8(std::string_view sjis)
{
    if (isAscii(sjis))
        return std::string(sjis);
    Converter c("UTF-8", "CP932");
    return c.run(sjis, "\xEF\xBF\xBD").value_or(std::string());
}

std::optional<std::string> sjisToUtf8Strict(std::string_view sjis)
{
    if (isAscii(sjis))
        return std::string(sjis);
    Converter c("UTF-8", "CP932");
    return c.run(sjis, nullptr);
}

std::optional<SjisString> utf8ToSjis(std::string_view utf8)
{
    if (isAscii(utf8))
        return std::string(utf8);
    Converter c("CP932", "UTF-8");
    return c.run(utf8, nullptr);
}

} // namespace vorn
