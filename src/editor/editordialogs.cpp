// The real dialogs behind the editor's services: image file, font face and region picker.
#include "editor/editorservices.h"

#include "editor/regionselectdlg.h"

#include <QFileDialog>
#include <QFontDialog>

namespace vorn {

std::optional<QString> chooseImageFileWithDialog(QWidget *parent)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({QStringLiteral("JPEG(*.jpg)"), QStringLiteral("BITMAP(*.bmp)"),
                           QStringLiteral("全て(*.*)")});
    dialog.setDefaultSuffix(QStringLiteral("jpg"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().front();
}

std::optional<QString> chooseFontWithDialog(QWidget *parent, const QString &face)
{
    // The dialog starts from the face alone at a small size; only the face comes back, the
    // character size fields keep their own values.
    QFont initial(face.left(31));
    initial.setPixelSize(10);
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, initial, parent, QString(),
                                              QFontDialog::DontUseNativeDialog);
    if (!ok)
        return std::nullopt;
    return chosen.family();
}

std::optional<Rect> pickRegionWithDialog(QWidget *parent, const RegionRequest &request)
{
    if (!request.picture)
        return std::nullopt;
    CRegionSelectDlg dialog(parent);
    dialog.setPicture(request.picture, request.clampFlag);
    if (request.reference)
        dialog.setReference(*request.reference);
    dialog.setSelection(request.current);
    if (dialog.run() != CRegionSelectDlg::IdOk)
        return std::nullopt;
    return dialog.selection();
}

} // namespace vorn
