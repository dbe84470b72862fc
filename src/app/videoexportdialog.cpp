// CVideoExportDlg and the command that asks for the file name and runs it.
#include "app/videoexportdialog.h"

#include "base/prompter.h"
#include "base/scenariopath.h"
#include "scenario/model/scenario.h"
#include "scenario/reader/linker.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace vorn {

namespace {

QString clockText(qint64 seconds)
{
    return QStringLiteral("%1:%2").arg(seconds / 60, 2, 10, QLatin1Char('0')).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

CVideoExportDlg::CVideoExportDlg(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("動画を書き出す"));
    setAccessibleName(windowTitle());
    setModal(true);
    m_bar = new QProgressBar(this);
    m_bar->setAccessibleName(QStringLiteral("書き出しの進み具合"));
    m_bar->setRange(0, 1);
    m_bar->setValue(0);
    m_frames = new QLabel(QStringLiteral("フレーム 0 / 0"), this);
    m_frames->setAccessibleName(QStringLiteral("書き出したフレーム数"));
    m_timeLeft = new QLabel(QStringLiteral("残り時間 計算中"), this);
    m_timeLeft->setAccessibleName(QStringLiteral("残り時間"));
    m_cancel = new QPushButton(QStringLiteral("キャンセル"), this);
    m_cancel->setAccessibleName(m_cancel->text());
    connect(m_cancel, &QPushButton::clicked, this, &CVideoExportDlg::cancel);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_bar);
    layout->addWidget(m_frames);
    layout->addWidget(m_timeLeft);
    layout->addWidget(m_cancel, 0, Qt::AlignRight);
    setMinimumWidth(360);

    m_timer.setInterval(100);
    connect(&m_timer, &QTimer::timeout, this, &CVideoExportDlg::poll);
}

CVideoExportDlg::~CVideoExportDlg()
{
    m_cancelRequested = true;
    if (m_worker.joinable())
        m_worker.join();
}

VideoExportResult CVideoExportDlg::run(std::unique_ptr<Scenario> scenario,
                                       const std::filesystem::path &output)
{
    VideoExportResult result;
    m_finished = false;
    m_cancelRequested = false;
    m_done = 0;
    m_total = 0;
    m_clock.start();
    // The worker only stores numbers; the timer shows them on this thread.
    m_worker = std::thread([this, &result, &scenario, output] {
        VideoExportControl control;
        control.cancel = &m_cancelRequested;
        control.progress = [this](int32_t done, int32_t total) {
            m_total = total;
            m_done = done;
        };
        result = exportVideo(*scenario, output, {}, control);
        m_finished = true;
    });
    m_timer.start();
    exec();
    m_timer.stop();
    m_worker.join();
    return result;
}

void CVideoExportDlg::cancel()
{
    m_cancelRequested = true;
    m_cancel->setEnabled(false);
    m_timeLeft->setText(QStringLiteral("中止しています..."));
}

void CVideoExportDlg::reject()
{
    cancel();
}

void CVideoExportDlg::poll()
{
    if (m_finished) {
        done(Accepted);
        return;
    }
    const int32_t done = m_done;
    const int32_t total = m_total;
    if (total <= 0)
        return;
    m_bar->setRange(0, total);
    m_bar->setValue(done);
    // Screen readers hear the labels' names; the figures go in their descriptions.
    m_frames->setText(QStringLiteral("フレーム %1 / %2").arg(done).arg(total));
    m_frames->setAccessibleDescription(m_frames->text());
    if (m_cancelRequested || done <= 0)
        return;
    const qint64 elapsedMs = m_clock.elapsed();
    const qint64 leftSeconds = (elapsedMs * (total - done) / done + 999) / 1000;
    m_timeLeft->setText(QStringLiteral("残り時間 %1").arg(clockText(leftSeconds)));
    m_timeLeft->setAccessibleDescription(m_timeLeft->text());
}

bool exportVideoFromWindow(QWidget *parent, const Scenario &scenario, Prompter &prompter)
{
    // The scenario's own name with .mp4 beside it, as a first suggestion.
    QString suggestion;
    if (scenario.path)
        if (auto file = resolveScenarioName(*scenario.path, {}))
            suggestion = QString::fromStdString(file->replace_extension(".mp4").string());
    QFileDialog dialog(parent ? parent : QApplication::activeWindow());
    dialog.setWindowTitle(QStringLiteral("動画を書き出す"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("mp4"));
    dialog.setNameFilters({QStringLiteral("MP4 動画(*.mp4)"), QStringLiteral("全て(*)")});
    if (!suggestion.isEmpty())
        dialog.selectFile(suggestion);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    const std::filesystem::path output = dialog.selectedFiles().constFirst().toStdString();

    // The export renders a copy of its own, so the window's scenario and preview stay free.
    std::unique_ptr<Scenario> copy = Scenario::copyOf(scenario);
    if (!copy || link(*copy) != 0)
        return false;
    CVideoExportDlg progress(parent);
    const VideoExportResult result = progress.run(std::move(copy), output);
    for (const std::string &message : result.messages)
        prompter.showError(message);
    return result.status == VideoExportStatus::Written;
}

} // namespace vorn
