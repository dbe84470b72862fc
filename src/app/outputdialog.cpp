// COutputDlg: shows the CHECKPOINT text and copies it whole.
#include "app/outputdialog.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vorn {

COutputDlg::COutputDlg(std::string text, QWidget *parent)
    : QDialog(parent)
    , m_text(std::move(text))
{
    setWindowTitle(QStringLiteral("出力"));
    setModal(true);

    m_box = new QPlainTextEdit;
    m_box->setReadOnly(true);
    m_box->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_box->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // Tab stops every eight characters keep the CF columns of a line together.
    m_box->setTabStopDistance(8 * m_box->fontMetrics().horizontalAdvance(QLatin1Char(' ')));
    m_box->setAccessibleName(QStringLiteral("出力"));
    // The box shows lines; the clipboard gets the text's own CR LF (copyToClipboard).
    m_box->setPlainText(QString::fromUtf8(m_text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));

    m_copy = new QPushButton(QStringLiteral("クリップボードへコピー"));
    m_copy->setAccessibleName(m_copy->text());
    m_copy->setAutoDefault(false);
    auto *ok = new QPushButton(QStringLiteral("OK"));
    ok->setAccessibleName(ok->text());
    ok->setDefault(true);
    connect(m_copy, &QPushButton::clicked, this, &COutputDlg::copyToClipboard);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_copy);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    auto *page = new QVBoxLayout(this);
    page->addWidget(m_box, 1);
    page->addLayout(buttons);
    resize(460, 360);
}

void COutputDlg::copyToClipboard()
{
    m_box->selectAll();
    QGuiApplication::clipboard()->setText(QString::fromUtf8(m_text), QClipboard::Clipboard);
}

} // namespace vorn
