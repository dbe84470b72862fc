// SourceText: byte-level scanning of one scenario text.
#include "scenario/reader/sourcetext.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace vorn {

namespace {
// A 256-entry membership table: delimiter sets are tested for every byte of the text, so the
// test must not scan the set each time.
struct ByteSet {
    bool member[256] = {};
    explicit ByteSet(std::string_view set)
    {
        for (char c : set)
            member[static_cast<unsigned char>(c)] = true;
    }
    bool contains(char c) const { return member[static_cast<unsigned char>(c)]; }
};
} // namespace

SourceText::SourceText(std::string data, std::optional<SjisString> fileName,
                       std::string displayName)
    : m_data(std::move(data)), m_fileName(std::move(fileName)),
      m_displayName(std::move(displayName))
{
    // Positions are int32: a longer text is cut, never indexed past its end.
    if (m_data.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        m_data.resize(static_cast<size_t>(std::numeric_limits<int32_t>::max()));
}

void SourceText::skip(std::string_view set)
{
    const ByteSet bytes(set);
    const int32_t size = static_cast<int32_t>(m_data.size());
    while (m_position < size && bytes.contains(m_data[m_position]))
        ++m_position;
}

void SourceText::skipTo(char byte)
{
    const size_t found = m_data.find(byte, static_cast<size_t>(m_position));
    m_position = found == std::string::npos ? static_cast<int32_t>(m_data.size())
                                             : static_cast<int32_t>(found);
}

std::optional<std::string_view> SourceText::takeToken(std::string_view delimiters)
{
    const ByteSet bytes(delimiters);
    const int32_t size = static_cast<int32_t>(m_data.size());
    int32_t end = m_position;
    while (end < size && !bytes.contains(m_data[end]))
        ++end;
    // Empty token, or one that would run to the very end of the text: no token.
    if (end == m_position || end >= size)
        return std::nullopt;
    std::string_view token(m_data.data() + m_position, static_cast<size_t>(end - m_position));
    m_position = end;
    return token;
}

char SourceText::take()
{
    if (atEnd())
        return 0;
    return m_data[m_position++];
}

char SourceText::peek() const
{
    return atEnd() ? 0 : m_data[m_position];
}

void SourceText::advance()
{
    if (!atEnd())
        ++m_position;
}

bool SourceText::atEnd() const
{
    return m_position >= static_cast<int32_t>(m_data.size());
}

int32_t SourceText::position() const
{
    return m_position;
}

void SourceText::setPosition(int32_t position)
{
    m_position = std::clamp(position, 0, static_cast<int32_t>(m_data.size()));
}

int32_t SourceText::lineNumber() const
{
    if (m_position < m_lineCachePosition) {
        m_lineCachePosition = 0;
        m_lineCacheLine = 1;
    }
    const char *begin = m_data.data() + m_lineCachePosition;
    const char *end = m_data.data() + m_position;
    m_lineCacheLine += static_cast<int32_t>(std::count(begin, end, '\n'));
    m_lineCachePosition = m_position;
    return m_lineCacheLine;
}

const std::optional<SjisString> &SourceText::fileName() const
{
    return m_fileName;
}

const std::string &SourceText::displayName() const
{
    return m_displayName;
}

std::string_view SourceText::data() const
{
    return m_data;
}

void SourceText::prepare()
{
    const size_t size = m_data.size();
    bool inComment = false;
    for (size_t i = 0; i < size; ++i) {
        char &c = m_data[i];
        if (c == '\r') {
            // CR LF and LF files read alike; a CR alone (old Macintosh files) ends a line too,
            // else the whole file would be one line and its first comment would blank the rest.
            c = i + 1 < size && m_data[i + 1] == '\n' ? ' ' : '\n';
        }
        if (c == '\n')
            inComment = false;
        else if (c == '#')
            inComment = true;
        if (inComment)
            c = ' ';
    }
    m_lineCachePosition = 0;
    m_lineCacheLine = 1;
}

} // namespace vorn
