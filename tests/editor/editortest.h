// Helpers of the editor tests: scenarios read from text or the test data, and written lines.
#pragma once

#include "base/linesink.h"
#include "base/scenariopath.h"
#include "scenario/model/scenario.h"
#include "scenario/model/scenariowriter.h"
#include "scenario/reader/linker.h"
#include "scenario/reader/reader.h"
#include "support/qthelpers.h"
#include "support/recordingprompter.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fstream>
#include <memory>
#include <string>

namespace vorn::test {

// Reads and links a scenario file; null (and a failed check) when it does not read.
inline std::unique_ptr<Scenario> readScenario(const std::filesystem::path &path, Prompter &prompter)
{
    auto scenario = std::make_unique<Scenario>();
    scenario->prompter = &prompter;
    if (load(*scenario, pathToSjis(path).value()) != 0 || link(*scenario) != 0)
        return nullptr;
    return scenario;
}

// Writes `text` as scenario.txt into `dir` and reads it.
inline std::unique_ptr<Scenario> scenarioFromText(const QTemporaryDir &dir, const std::string &text,
                                                  Prompter &prompter)
{
    const std::filesystem::path path = dir.filePath(QStringLiteral("scenario.txt")).toStdString();
    std::ofstream(path, std::ios::binary) << text;
    return readScenario(path, prompter);
}


inline std::filesystem::path testData(const char *name) { return std::filesystem::path(VORN_TEST_DATA_DIR) / "scenario" / name; }

// Everything a save writes, with a fixed header, as text.
inline std::string writtenText(const Scenario &scenario)
{
    struct : LineSink {
        int32_t line(std::string_view bytes) override { text.append(bytes).append("\n"); return 0; }
        std::string text;
    } sink;
    writeScenarioLines(scenario, "test.txt", "2000/01/01(Sat) 00:00:00", sink);
    return sink.text;
}

} // namespace vorn::test
