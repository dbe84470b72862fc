// JSON text for the command line.
#include "cli/json.h"

#include <cstdio>

namespace vorn::cli {

std::string jsonString(std::string_view utf8)
{
    std::string out = "\"";
    for (unsigned char c : utf8) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += char(c);
            }
        }
    }
    return out + "\"";
}

void JsonWriter::separate()
{
    if (m_needComma)
        m_text += ", ";
    m_needComma = false;
}

JsonWriter &JsonWriter::beginObject()
{
    separate();
    m_text += '{';
    return *this;
}

JsonWriter &JsonWriter::endObject()
{
    m_text += '}';
    m_needComma = true;
    return *this;
}

JsonWriter &JsonWriter::beginArray()
{
    separate();
    m_text += '[';
    return *this;
}

JsonWriter &JsonWriter::endArray()
{
    m_text += ']';
    m_needComma = true;
    return *this;
}

JsonWriter &JsonWriter::key(std::string_view name)
{
    separate();
    m_text += jsonString(name);
    m_text += ": ";
    return *this;
}

JsonWriter &JsonWriter::value(int64_t n)
{
    separate();
    m_text += std::to_string(n);
    m_needComma = true;
    return *this;
}

JsonWriter &JsonWriter::value(std::string_view utf8)
{
    separate();
    m_text += jsonString(utf8);
    m_needComma = true;
    return *this;
}

JsonWriter &JsonWriter::null()
{
    separate();
    m_text += "null";
    m_needComma = true;
    return *this;
}

} // namespace vorn::cli
