// The window's message boxes and file dialogs behind small interfaces, so tests answer them.
#pragma once

#include "base/prompter.h"

#include <QString>

#include <optional>
#include <string_view>

class QWidget;

namespace vorn {

// The shell's message boxes: the core's errors ("エラー") and yes/no questions ("確認"), and the
// shell's own OK / Cancel question ("確認").
class ShellPrompter : public Prompter {
public:
    // true for OK.
    virtual bool askOkCancel(std::string_view text) = 0;
};

// QMessageBox in front of the given window (or the active one when none).
class MessageBoxPrompter final : public ShellPrompter {
public:
    explicit MessageBoxPrompter(QWidget *parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget *parent) { m_parent = parent; }

    void showError(std::string_view text) override;
    bool askYesNo(std::string_view text) override;
    bool askOkCancel(std::string_view text) override;

private:
    QWidget *m_parent;
};

// The three file dialogs of the shell. Each gives the chosen path (this machine's), or none
// when the user cancels.
class FileChooser {
public:
    virtual ~FileChooser() = default;
    // An existing scenario file (default extension "txt").
    virtual std::optional<QString> openScenario() = 0;
    // A scenario file to save to (default extension "txt"; an existing file is overwritten
    // without asking).
    virtual std::optional<QString> saveScenario() = 0;
    // An existing song (default extension "wav").
    virtual std::optional<QString> openSong() = 0;
    // A label file to read marks from, and one to write them to (default extension "txt").
    // By default the user cancels.
    virtual std::optional<QString> openLabels() { return std::nullopt; }
    virtual std::optional<QString> saveLabels() { return std::nullopt; }
};

// QFileDialog with the shell's filters.
class DialogFileChooser final : public FileChooser {
public:
    explicit DialogFileChooser(QWidget *parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget *parent) { m_parent = parent; }

    std::optional<QString> openScenario() override;
    std::optional<QString> saveScenario() override;
    std::optional<QString> openSong() override;
    std::optional<QString> openLabels() override;
    std::optional<QString> saveLabels() override;

private:
    QWidget *m_parent;
};

// The strip that detected beats go to: a small modal choice of "マーク 1" to "マーク 3".
// Gives 0, 1 or 2, or none when the user cancels.
std::optional<int> chooseBeatStripDialog(QWidget *parent);

} // namespace vorn
