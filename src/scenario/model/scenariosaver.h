// Saving a scenario over a file a person may have written or changed by other means: the
// window's Save asks before it overwrites another program's changes or flattens a scenario
// written by hand, and keeps the hand-written original beside it.
#pragma once

#include <filesystem>

namespace vorn {

class Prompter;
class Scenario;

class ScenarioSaver {
public:
    enum class Outcome { Saved, Declined, Failed };

    // Questions and errors go through `prompter`, which must outlive the saver.
    explicit ScenarioSaver(Prompter &prompter) : m_prompter(prompter) {}

    // Writes `scenario` to `target` (writeScenario). Before that: when a file it was read from
    // (the target itself, and each INCLUDEd file) changed or vanished since, asks whether to
    // overwrite; when the target is the file it was read from and that used INCLUDE, MACRO,
    // variables or comments, says that they are written out in full, asks whether to continue
    // and keeps the original as TARGET.bak (or the next free .bakN). A "no" gives Declined with
    // nothing changed; a refused save shows "シナリオの出力に失敗しました。" with the reason and
    // gives Failed. After a save the scenario remembers the saved file as the one it was read
    // from, no longer hand-written.
    Outcome save(Scenario &scenario, const std::filesystem::path &target);

private:
    Prompter &m_prompter;
};

} // namespace vorn
