// Prompter: the one way the core shows a message box ("エラー") or asks a yes/no question
// ("確認"). The desktop shows boxes, the command line prints, tests record and answer.
#pragma once

#include <string>
#include <string_view>

namespace vorn {

class Prompter {
public:
    virtual ~Prompter() = default;
    // Texts are UTF-8; bytes that came from a scenario were decoded from Shift-JIS already.
    virtual void showError(std::string_view text) = 0;
    // true for "yes".
    virtual bool askYesNo(std::string_view text) = 0;
};

// Prints errors and questions to standard error and answers every question the same way.
class StderrPrompter final : public Prompter {
public:
    explicit StderrPrompter(bool answer = true) : m_answer(answer) {}
    void showError(std::string_view text) override;
    bool askYesNo(std::string_view text) override;

private:
    bool m_answer;
};

} // namespace vorn
