// CImageWnd: the preview window: the picture of one scenario frame fitted into the client area,
// rendered on a worker thread, one frame at a time.
#pragma once

#include "imaging/imagebuffer.h"

#include <QFrame>
#include <QImage>
#include <QString>

#include <cstdint>
#include <memory>

namespace vorn {

class CRenderThread;
class Scenario;

// Interface-thread object; the render thread shares nothing with it but the scenario it
// renders and the picture that comes back.
//
// Scenario ownership: the window renders the main view's current scenario but does not own
// it. While a render runs, that scenario belongs to the render thread, and the window also holds
// the last picture the scenario rendered until it is replaced. So before the main view replaces,
// changes (a property page's apply, a new song's total) or frees the scenario it must call
// detachScenario() (or setScenario() with the next one, which detaches first): that waits for the
// render in flight, hands every picture back to the scenario that rendered it, and forgets the
// scenario. The fitted picture stays on screen until the next frame arrives. The render in
// flight is cancelled first, so detaching never waits for a heavy frame to finish.
class CImageWnd : public QFrame
{
    Q_OBJECT

public:
    static const char *const AccessibleName;

    explicit CImageWnd(QWidget *parent = nullptr);
    // Waits for a render in flight and hands the pictures back to their scenario (messages of
    // that render are dropped). The scenario must still be alive: an owner that frees it first
    // calls detachScenario() before.
    ~CImageWnd() override;

    // The scenario to render frames of, or null; detaches from the previous one first.
    void setScenario(Scenario *scenario);
    Scenario *scenario() const { return m_scenario; }
    // Cancels the render in flight and waits for it to stop, hands the pictures back to the
    // scenario that rendered them and forgets the scenario. The cancelled frame's errors are
    // dropped. No-op without a scenario.
    void detachScenario();
    // Waits for the render in flight and takes its picture as if it had arrived; the scenario
    // stays. Interface thread; never called from within the scenario's prompter.
    void waitIdle();

    // True while a render runs (the window drops show requests meanwhile).
    bool isBusy() const;
    // Frame of the last request that started a render; -1 before the first.
    int32_t wantedFrame() const { return m_wantedFrame; }
    // Frame of the picture on screen, -1 for none.
    int32_t shownFrame() const { return m_shownFrame; }
    // The last frame whose render yielded no picture, until a picture is shown or the scenario
    // goes; -1 for none. The window says so over the picture it keeps.
    int32_t failedFrame() const { return m_failedFrame; }
    // The picture as painted (fitted to the client size); null when there is none.
    const QImage &viewImage() const { return m_viewQImage; }

public slots:
    // IW_SHOW_FRAME: renders `frame` of the scenario unless a render is running, there is no
    // scenario or the frame lies outside [0, totalFrames); such requests are dropped.
    void showFrame(int32_t frame);

signals:
    // Text for a status-bar pane: pane 3 gets "レンダリング中" while rendering and the frame
    // number once its picture is shown.
    void statusText(int pane, const QString &text);
    // A render came back and was handled: `shown` when its picture is now on screen.
    void frameReady(int32_t frame, bool shown);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void renderDone(quint64 ticket);
    void takeResult();
    void refit();
    void releaseFrameImage();
    void setFailedFrame(int32_t frame);

    Scenario *m_scenario = nullptr;
    std::unique_ptr<CRenderThread> m_render;
    quint64 m_ticket = 0;           // identifies the render whose notification is awaited
    ImageBuffer *m_frameImage = nullptr;  // the scenario's, handed back with m_frameImageFrame
    Scenario *m_frameImageScenario = nullptr;
    int32_t m_frameImageFrame = -1;
    int32_t m_wantedFrame = -1;
    int32_t m_shownFrame = -1;
    int32_t m_failedFrame = -1;
    ImagePtr m_viewImage;           // m_frameImage fitted to the client size
    QImage m_viewQImage;            // m_viewImage as painted, made once per fit
    int32_t m_clientWidth = 0;   // the client size the picture was last fitted to
    int32_t m_clientHeight = 0;
};

} // namespace vorn
