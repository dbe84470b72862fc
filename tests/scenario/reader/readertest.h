// Helpers for the reader tests: the composed error texts, and loading scenario text from a file.
#pragma once

#include "base/scenariopath.h"
#include "scenario/model/scenario.h"
#include "scenario/reader/linker.h"
#include "scenario/reader/reader.h"
#include "support/recordingprompter.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace vorn::test {

inline std::string readingError(std::string_view file, int line, std::string_view message)
{
    return "シナリオ読み込み時にエラーが発生しました。\n" + std::string(file) + " : " +
           std::to_string(line) + "行目 :\n" + std::string(message);
}

inline std::string linkingError(std::string_view message)
{
    return "シナリオ読み込み時にエラーが発生しました。\n" + std::string(message);
}

// A scenario with a recording prompter, loaded from text written to a temporary file.
struct Loaded {
    RecordingPrompter prompter;
    Scenario scenario;
    int32_t result = 0;
    Loaded() { scenario.prompter = &prompter; }
    std::string lastError() const { return prompter.lastError(); }
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
