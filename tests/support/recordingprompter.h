// A Prompter that records every error and question instead of showing them.
#pragma once

#include "base/prompter.h"

#include <string>
#include <string_view>
#include <vector>

namespace vorn::test {

// Answers every question with `answer`.
class RecordingPrompter final : public Prompter {
public:
    void showError(std::string_view text) override { errors.emplace_back(text); }
    bool askYesNo(std::string_view text) override { questions.emplace_back(text); return answer; }
    std::string lastError() const { return errors.empty() ? std::string() : errors.back(); }

    std::vector<std::string> errors;
    std::vector<std::string> questions;
    bool answer = true;
};

} // namespace vorn::test
