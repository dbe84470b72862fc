// CAboutDlg: icon, version and two lines about the tool.
#include "app/aboutdialog.h"

#include "app/appicons.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vorn {

namespace {

QLabel *line(const QString &text)
{
    auto *l = new QLabel(text);
    l->setAccessibleName(text);
    return l;
}

} // namespace

CAboutDlg::CAboutDlg(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("バージョン情報 ね"));
    setModal(true);

    auto *icon = new QLabel;
    icon->setPixmap(appIcon().pixmap(32, 32));
    icon->setAccessibleName(QStringLiteral("アイコン"));
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto *texts = new QVBoxLayout;
    texts->addWidget(line(QStringLiteral("ね Version 0.1.2")));
    texts->addWidget(line(QStringLiteral("「ぬ」用チェックポイント作成ツール")));
    texts->addWidget(line(QStringLiteral("Qt %1 版").arg(QString::fromLatin1(qVersion()))));
    texts->addStretch(1);

    auto *ok = new QPushButton(QStringLiteral("OK"));
    ok->setAccessibleName(ok->text());
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto *okColumn = new QVBoxLayout;
    okColumn->addWidget(ok);
    okColumn->addStretch(1);

    auto *page = new QHBoxLayout(this);
    page->addWidget(icon);
    page->addSpacing(8);
    page->addLayout(texts, 1);
    page->addLayout(okColumn);
}

} // namespace vorn
