// CVideoExportDlg: the draft video of the current scenario, written on a worker thread behind a
// progress dialog (bar, frame count, time left, cancel).
#pragma once

#include "export/videoexport.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>

class QLabel;
class QProgressBar;
class QPushButton;

namespace vorn {

class Prompter;
class Scenario;

class CVideoExportDlg : public QDialog {
    Q_OBJECT

public:
    explicit CVideoExportDlg(QWidget *parent = nullptr);
    // Waits for an export still running (after asking it to stop).
    ~CVideoExportDlg() override;

    // Writes `scenario` (which the export owns until this returns) to `output` while the dialog
    // shows; returns when the export has ended, by itself or by the cancel button.
    VideoExportResult run(std::unique_ptr<Scenario> scenario, const std::filesystem::path &output);

    // Asks the export to stop, as the cancel button does.
    void cancel();

    QProgressBar *bar() const { return m_bar; }
    QLabel *frames() const { return m_frames; }
    QLabel *timeLeft() const { return m_timeLeft; }
    QPushButton *cancelButton() const { return m_cancel; }

protected:
    // Escape and closing the window cancel; the dialog goes once the worker has stopped.
    void reject() override;

private:
    void poll();

    QProgressBar *m_bar = nullptr;
    QLabel *m_frames = nullptr;
    QLabel *m_timeLeft = nullptr;
    QPushButton *m_cancel = nullptr;
    QTimer m_timer;
    QElapsedTimer m_clock;
    std::thread m_worker;
    std::atomic<bool> m_cancelRequested{false};
    std::atomic<bool> m_finished{false};
    std::atomic<int32_t> m_done{0};
    std::atomic<int32_t> m_total{0};
};

// ファイル → 動画を書き出す: asks where to (an .mp4 file), exports a copy of `scenario` with the
// progress dialog and shows what went wrong through `prompter`. True when a file was written.
bool exportVideoFromWindow(QWidget *parent, const Scenario &scenario, Prompter &prompter);

} // namespace vorn
