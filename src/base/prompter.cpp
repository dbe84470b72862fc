// The command line's prompter.
#include "base/prompter.h"

#include <cstdio>
#include <string>

namespace vorn {

namespace {

// The whole text and a line feed. printf's "%.*s" would stop at a NUL byte (a scenario token
// may hold one), so the bytes are written as they are, a NUL shown as U+FFFD.
void printLine(std::string_view text)
{
    std::string line;
    line.reserve(text.size() + 1);
    for (const char c : text) {
        if (c == '\0')
            line += "\xEF\xBF\xBD";
        else
            line += c;
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

} // namespace

void StderrPrompter::showError(std::string_view text)
{
    printLine(text);
}

bool StderrPrompter::askYesNo(std::string_view text)
{
    printLine(text);
    return m_answer;
}

} // namespace vorn
