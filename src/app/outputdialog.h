// COutputDlg: the CHECKPOINT text in a read-only box, and its copy to the clipboard.
#pragma once

#include <QDialog>

#include <string>

class QPlainTextEdit;
class QPushButton;

namespace vorn {

// Modal; interface thread only. The text is MarkStrips::buildCheckpointText (ASCII, CR LF).
class COutputDlg : public QDialog
{
    Q_OBJECT

public:
    explicit COutputDlg(std::string text, QWidget *parent = nullptr);

    const std::string &text() const { return m_text; }
    // "クリップボードへコピー": selects the whole box and puts the text, byte for byte with its
    // CR LF line ends, on the system clipboard as plain text. The dialog stays open.
    void copyToClipboard();

    QPlainTextEdit *textBox() const { return m_box; }
    QPushButton *copyButton() const { return m_copy; }

private:
    std::string m_text;
    QPlainTextEdit *m_box = nullptr;
    QPushButton *m_copy = nullptr;
};

} // namespace vorn
