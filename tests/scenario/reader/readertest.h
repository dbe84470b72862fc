// Helpers for the reader tests: a prompter that records, temporary scenario files, and loading.
#pragma once

#include "base/prompter.h"
#include "base/scenariopath.h"
#include "scenario/model/scenario.h"
#include "scenario/reader/linker.h"
#include "scenario/reader/reader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace vorn::test {

// Records every error and question; answers questions with `answer`.
class RecordingPrompter final : public Prompter {
public:
    void showError(std::string_view text) override { errors.emplace_back(text); }
    bool askYesNo(std::string_view text) override
    {
        questions.emplace_back(text);
        return answer;
    }
    std::vector<std::string> errors;
    std::vector<std::string> questions;
    bool answer = true;
};

inline std::string readingError(std::string_view file, int line, std::string_view message)
{
    return "シナリオ読み込み時にエラーが発生しました。\n" + std::string(file) + " : " +
           std::to_string(line) + "行目 :\n" + std::string(message);
}

inline std::string linkingError(std::string_view message)
{
    return "シナリオ読み込み時にエラーが発生しました。\n" + std::string(message);
}

// A fresh directory under the system's temporary directory, removed with the object.
class TempDir {
public:
    TempDir()
    {
        static std::atomic<int> counter{0};
        m_path = std::filesystem::temp_directory_path() /
                 ("vorn-reader-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
    }
    ~TempDir()
    {
        std::error_code error;
        std::filesystem::remove_all(m_path, error);
    }
    const std::filesystem::path &path() const { return m_path; }

    // Writes `bytes` to the relative name (directories made as needed); gives the full path.
    std::filesystem::path write(const std::string &name, std::string_view bytes) const
    {
        const auto file = m_path / name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return file;
    }
    // The directory as the model holds it (Shift-JIS bytes).
    SjisString sjis() const { return pathToSjis(m_path).value(); }

private:
    std::filesystem::path m_path;
};

// A scenario with a recording prompter, loaded from text written to a temporary file.
struct Loaded {
    RecordingPrompter prompter;
    Scenario scenario;
    int32_t result = 0;
    Loaded() { scenario.prompter = &prompter; }
    std::string lastError() const { return prompter.errors.empty() ? "" : prompter.errors.back(); }
};

inline std::unique_ptr<Loaded> loadFile(const std::filesystem::path &file)
{
    auto loaded = std::make_unique<Loaded>();
    loaded->result = load(loaded->scenario, pathToSjis(file).value());
    return loaded;
}

inline std::unique_ptr<Loaded> loadString(const TempDir &dir, std::string_view text,
                                          const std::string &name = "test.txt")
{
    return loadFile(dir.write(name, text));
}

} // namespace vorn::test
