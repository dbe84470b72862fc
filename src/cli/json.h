// A small JSON writer for the command line's one-object answers (UTF-8 in, UTF-8 out).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vorn::cli {

// Quotes and escapes a UTF-8 string.
std::string jsonString(std::string_view utf8);

// Builds an object or array by appending members; commas are placed automatically.
class JsonWriter {
public:
    JsonWriter &beginObject();
    JsonWriter &endObject();
    JsonWriter &beginArray();
    JsonWriter &endArray();
    JsonWriter &key(std::string_view name);
    JsonWriter &value(int64_t n);
    JsonWriter &value(std::string_view utf8);
    JsonWriter &value(const char *utf8) { return value(std::string_view(utf8)); }
    JsonWriter &null();
    const std::string &text() const { return m_text; }

private:
    void separate();
    std::string m_text;
    bool m_needComma = false;
};

} // namespace vorn::cli
