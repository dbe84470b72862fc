// ScenarioSaver: the questions before a save over a file read earlier, and the backup.
#include "scenario/model/scenariosaver.h"

#include "base/atomicfile.h"
#include "base/prompter.h"
#include "scenario/model/scenario.h"
#include "scenario/model/scenariowriter.h"

namespace vorn {
namespace {

const char ChangedQuestion[] = "は他のプログラムによって変更されています。上書きしますか？";
std::string flattenQuestion(const std::filesystem::path &backup)
{
    return "このシナリオの INCLUDE、MACRO、変数、コメントは、保存すると展開された内容で書き出され、"
           "元の書き方は残りません。\n元のファイルは " + backup.string() +
           " として残します。続けますか？";
}

std::filesystem::path physical(const std::filesystem::path &path)
{
    std::error_code error;
    auto canonical = std::filesystem::weakly_canonical(path, error);
    return error ? path.lexically_normal() : canonical;
}

// The same file: the same name (links resolved), or the same inode under another name.
bool sameFile(const std::filesystem::path &target, const ScenarioSourceFile &read)
{
    if (physical(target) == physical(read.path))
        return true;
    const auto now = fileIdentity(target);
    return now && now->device == read.identity.device && now->inode == read.identity.inode;
}

} // namespace

ScenarioSaver::Outcome ScenarioSaver::save(Scenario &scenario, const std::filesystem::path &target)
{
    const bool overRead = !scenario.filesRead.empty() && sameFile(target, scenario.filesRead.front());
    // The first file matters only when it is the one overwritten; an INCLUDEd file changed
    // since would be lost from the expanded text whichever file is written.
    std::string changed;
    for (size_t i = overRead ? 0 : 1; i < scenario.filesRead.size(); ++i) {
        const auto &read = scenario.filesRead[i];
        if (fileIdentity(read.path) != std::optional(read.identity))
            changed += read.path.string() + "\n";
    }
    if (!changed.empty() && !m_prompter.askYesNo(changed + ChangedQuestion))
        return Outcome::Declined;

    if (overRead && scenario.handWritten) {
        if (!m_prompter.askYesNo(flattenQuestion(backupName(target))))
            return Outcome::Declined;
        SaveFailure why;
        // Only a file is kept: anything else the save refuses below, saying why.
        std::error_code error;
        if (std::filesystem::is_regular_file(target, error) && !keepCopy(target, &why)) {
            why.reason = "元のファイルを残せません: " + why.reason;
            m_prompter.showError(saveFailedMessage({}, why));
            return Outcome::Failed;
        }
    }

    SjisString unreadable;
    SaveFailure why;
    if (writeScenario(scenario, target, &unreadable, &why) != 0) {
        m_prompter.showError(saveFailedMessage(unreadable, why));
        return Outcome::Failed;
    }
    scenario.filesRead.clear();
    if (const auto saved = fileIdentity(target)) {
        std::error_code error;
        const auto absolute = std::filesystem::absolute(target, error);
        scenario.filesRead.push_back(
            ScenarioSourceFile{error ? target : absolute.lexically_normal(), *saved});
    }
    scenario.handWritten = false;
    return Outcome::Saved;
}

} // namespace vorn
