// Message boxes and file dialogs of the window.
#include "app/shellservices.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace vorn {

namespace {

QString toQString(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QWidget *ownerOf(QWidget *parent)
{
    return parent ? parent : QApplication::activeWindow();
}

// The dialog Qt offers for the platform, with the options the commands ask for: no read-only
// box (Qt shows none), an existing file for opening, no overwrite question for saving. "All"
// is "*" here: files on this system need no dot.
std::optional<QString> runFileDialog(QWidget *parent, QFileDialog::AcceptMode mode,
                                     const QString &suffix, const QStringList &filters)
{
    QFileDialog dialog(ownerOf(parent));
    dialog.setAcceptMode(mode);
    dialog.setDefaultSuffix(suffix);
    dialog.setNameFilters(filters);
    if (mode == QFileDialog::AcceptOpen)
        dialog.setFileMode(QFileDialog::ExistingFile);
    else
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

const QStringList &scenarioFilters()
{
    static const QStringList filters{QStringLiteral("シナリオ(*.txt)"), QStringLiteral("全て(*)")};
    return filters;
}

} // namespace

void MessageBoxPrompter::showError(std::string_view text)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("エラー"), toQString(text), QMessageBox::Ok,
                    ownerOf(m_parent));
    box.exec();
}

bool MessageBoxPrompter::askYesNo(std::string_view text)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("確認"), toQString(text),
                    QMessageBox::Yes | QMessageBox::No, ownerOf(m_parent));
    return box.exec() == QMessageBox::Yes;
}

bool MessageBoxPrompter::askOkCancel(std::string_view text)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("確認"), toQString(text),
                    QMessageBox::Ok | QMessageBox::Cancel, ownerOf(m_parent));
    return box.exec() == QMessageBox::Ok;
}

std::optional<QString> DialogFileChooser::openScenario()
{
    return runFileDialog(m_parent, QFileDialog::AcceptOpen, QStringLiteral("txt"), scenarioFilters());
}

std::optional<QString> DialogFileChooser::saveScenario()
{
    return runFileDialog(m_parent, QFileDialog::AcceptSave, QStringLiteral("txt"), scenarioFilters());
}

std::optional<QString> DialogFileChooser::openSong()
{
    return runFileDialog(m_parent, QFileDialog::AcceptOpen, QStringLiteral("wav"),
                         {QStringLiteral("オーディオファイル(*.wav)"), QStringLiteral("全て(*)")});
}

static QStringList labelFilters()
{
    return {QStringLiteral("ラベル(*.txt)"), QStringLiteral("全て(*)")};
}

std::optional<QString> DialogFileChooser::openLabels()
{
    return runFileDialog(m_parent, QFileDialog::AcceptOpen, QStringLiteral("txt"), labelFilters());
}

std::optional<QString> DialogFileChooser::saveLabels()
{
    return runFileDialog(m_parent, QFileDialog::AcceptSave, QStringLiteral("txt"), labelFilters());
}

std::optional<int> chooseBeatStripDialog(QWidget *parent)
{
    QDialog dialog(ownerOf(parent));
    dialog.setWindowTitle(QStringLiteral("ビートを検出"));
    dialog.setAccessibleName(QStringLiteral("ビートを検出"));
    auto *layout = new QVBoxLayout(&dialog);
    auto *label = new QLabel(QStringLiteral("マークを置く列 (&M):"), &dialog);
    auto *strips = new QComboBox(&dialog);
    strips->setObjectName(QStringLiteral("beatStrip"));
    strips->setAccessibleName(QStringLiteral("マークを置く列"));
    // The names the strips themselves carry for assistive technology.
    for (int k = 0; k < 3; ++k)
        strips->addItem(QStringLiteral("マーク %1").arg(k + 1));
    label->setBuddy(strips);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Ok)->setAccessibleName(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    buttons->button(QDialogButtonBox::Cancel)->setAccessibleName(QStringLiteral("キャンセル"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(label);
    layout->addWidget(strips);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return strips->currentIndex();
}

} // namespace vorn
