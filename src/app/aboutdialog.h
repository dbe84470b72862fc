// CAboutDlg: the about box of command 57664.
#pragma once

#include <QDialog>

namespace vorn {

// Modal; shows the application icon, the version line and two lines about the tool.
class CAboutDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget *parent = nullptr);
};

} // namespace vorn
