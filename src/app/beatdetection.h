// BeatDetection: finds a song's beats on a worker thread while a progress window shows, whose
// Cancel button stops the work.
#pragma once

#include "audio/beattracker.h"
#include "base/cancel.h"

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <future>
#include <vector>

class QProgressDialog;
class QWidget;

namespace vorn {

class AudioClip;

// Interface-thread object; one detection at a time.
class BeatDetection : public QObject {
    Q_OBJECT

public:
    // The progress window is shown in front of `window`.
    explicit BeatDetection(QWidget *window);
    // Stops a detection still running (see stop()).
    ~BeatDetection() override;

    // Starts on `clip`, which must stay loaded and unchanged until finished is emitted or stop()
    // returns. `tag` comes back with the result. Ignored while a detection runs.
    void start(const AudioClip &clip, uint64_t tag);
    // Cancels the detection, waits for the worker (it stops at its next step) and drops its
    // result: nothing is emitted. No-op when none runs.
    void stop();
    // True from start() until finished or cancelled is emitted, or stop() returns.
    bool running() const { return m_beats.valid(); }
    // The progress window while a detection runs; null otherwise.
    QProgressDialog *progress() const;

signals:
    // The beats (song milliseconds) and their confidence of the detection started with `tag`;
    // `failed` when the tracker ran out of memory (no beats then).
    void finished(uint64_t tag, const BeatResult &result, bool failed);
    // The user pressed Cancel: the work has stopped and its result is gone.
    void cancelled();

private:
    void workerDone(uint64_t tag);
    void closeProgress();

    QWidget *m_window;
    CancelFlag m_cancel;
    std::future<BeatResult> m_beats;
    QPointer<QProgressDialog> m_progress;
};

} // namespace vorn
