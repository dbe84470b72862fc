// BeatDetection: the worker, its progress window and taking its result back.
#include "app/beatdetection.h"

#include <QProgressDialog>
#include <QPushButton>

namespace vorn {

BeatDetection::BeatDetection(QWidget *window) : QObject(window), m_window(window) {}

BeatDetection::~BeatDetection()
{
    stop();
}

void BeatDetection::start(const AudioClip &clip, uint64_t tag)
{
    if (running())
        return;
    m_cancel.reset();
    m_beats = std::async(std::launch::async, [this, &clip, tag] {
        const CancelScope scope(&m_cancel);
        BeatResult result = findBeats(clip);
        // This object outlives the worker (stop() waits for it); the call is queued and dropped
        // if the object has died by the time it would run.
        QMetaObject::invokeMethod(this, [this, tag] { workerDone(tag); }, Qt::QueuedConnection);
        return result;
    });
    auto *progress = new QProgressDialog(m_window);
    progress->setWindowTitle(QStringLiteral("ビートを検出"));
    progress->setAccessibleName(QStringLiteral("ビートの検出中"));
    progress->setLabelText(QStringLiteral("曲のビートを検出しています..."));
    auto *cancel = new QPushButton(QStringLiteral("キャンセル"), progress);
    cancel->setAccessibleName(QStringLiteral("ビートの検出を取り消す"));
    progress->setCancelButton(cancel);
    progress->setRange(0, 0);  // busy: the tracker reports no progress
    progress->setMinimumDuration(0);
    progress->setWindowModality(Qt::WindowModal);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    connect(progress, &QProgressDialog::canceled, this, [this] {
        if (!running())
            return;
        stop();
        emit cancelled();
    });
    m_progress = progress;
    progress->show();
}

QProgressDialog *BeatDetection::progress() const
{
    return m_progress;
}

void BeatDetection::stop()
{
    if (m_beats.valid()) {
        m_cancel.cancel();
        m_beats.wait();
        m_beats = {};
    }
    closeProgress();
}

void BeatDetection::closeProgress()
{
    // Later: this may run inside the window's own cancel signal.
    if (m_progress) {
        m_progress->hide();
        m_progress->deleteLater();
    }
    m_progress = nullptr;
}

void BeatDetection::workerDone(uint64_t tag)
{
    // A detection stopped meanwhile was waited for and dropped already.
    if (!m_beats.valid())
        return;
    BeatResult result;
    bool failed = false;
    try {
        result = m_beats.get();
    } catch (const std::exception &) {
        failed = true;  // out of memory in the tracker: nothing is added
    }
    m_beats = {};
    closeProgress();
    emit finished(tag, result, failed);
}

} // namespace vorn
