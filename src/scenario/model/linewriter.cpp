// LineWriter: lines into a temporary file beside the target, renamed over it at the end.
#include "scenario/model/linewriter.h"

namespace vorn {

LineWriter::~LineWriter()
{
    discard();
}

int32_t LineWriter::open(const std::filesystem::path &target)
{
    std::lock_guard guard(m_lock);
    m_failed = false;
    return m_file.open(target) == 0 ? 0 : -3;
}

int32_t LineWriter::line(std::string_view bytes)
{
    std::lock_guard guard(m_lock);
    if (!m_file.isOpen() || m_file.write(bytes) != 0 || m_file.write("\r\n") != 0) {
        m_failed = true;
        return -1;
    }
    return 0;
}

int32_t LineWriter::close()
{
    std::lock_guard guard(m_lock);
    if (!m_file.isOpen() || m_failed) {
        m_file.discard();
        m_failed = true;
        return -1;
    }
    if (m_file.commit() != 0) {
        m_failed = true;
        return -1;
    }
    return 0;
}

void LineWriter::discard()
{
    std::lock_guard guard(m_lock);
    m_file.discard();
}

std::string inQuotes(std::string_view bytes)
{
    std::string text;
    text.reserve(bytes.size() + 2);
    text += '"';
    text.append(bytes);
    text += '"';
    return text;
}

std::string num(int64_t value)
{
    return std::to_string(value);
}

bool readsBack(std::string_view line)
{
    if (line.find_first_of("\r\n") != std::string_view::npos)
        return false;
    const size_t hash = line.find('#');
    if (hash != std::string_view::npos)
        return line.find_first_not_of(" \t") == hash;
    const size_t open = line.find('"');
    if (open == std::string_view::npos)
        return true;
    const size_t close = line.find('"', open + 1);
    if (close == std::string_view::npos || line.find('"', close + 1) != std::string_view::npos)
        return false;
    const std::string_view value = line.substr(open + 1, close - open - 1);
    const bool wholeField = (open == 0 || line[open - 1] == '\t') &&
                            (close + 1 == line.size() || line[close + 1] == '\t');
    return wholeField && !value.empty() && value.find_first_of("\t}") == std::string_view::npos;
}

std::string commentText(std::string_view bytes)
{
    std::string text(bytes);
    for (char &c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return text;
}

} // namespace vorn
