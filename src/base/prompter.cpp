// The command line's prompter.
#include "base/prompter.h"

#include <cstdio>

namespace vorn {

void StderrPrompter::showError(std::string_view text)
{
    std::fprintf(stderr, "%.*s\n", int(text.size()), text.data());
}

bool StderrPrompter::askYesNo(std::string_view text)
{
    std::fprintf(stderr, "%.*s\n", int(text.size()), text.data());
    return m_answer;
}

} // namespace vorn
