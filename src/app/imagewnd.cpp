// CImageWnd: starting renders, taking their pictures back, fitting and painting them.
#include "app/imagewnd.h"

#include "app/renderworker.h"
#include "base/prompter.h"
#include "imaging/qimageconvert.h"
#include "imaging/resample.h"
#include "scenario/model/scenario.h"

#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>

#include <algorithm>

namespace vorn {

namespace {

constexpr int FramePane = 3;
const char *const Description = "選んだ時点のシナリオの画像";

// What the window says about a frame that could not be made: short for the status pane, whole
// for the banner and screen readers.
QString failedText(int32_t frame, bool whole)
{
    return whole ? QStringLiteral("フレーム %1 の画像を作成できませんでした。").arg(frame)
                 : QStringLiteral("%1 作成失敗").arg(frame);
}

} // namespace

const char *const CImageWnd::AccessibleName = "プレビュー";

CImageWnd::CImageWnd(QWidget *parent) : QFrame(parent), m_render(std::make_unique<CRenderThread>())
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(QString::fromUtf8(AccessibleName));
    setAccessibleDescription(QString::fromUtf8(Description));
    m_clientWidth = contentsRect().width();
    m_clientHeight = contentsRect().height();
}

CImageWnd::~CImageWnd()
{
    // Messages of a render still running are dropped: the program is closing the window.
    if (isBusy()) {
        m_render->cancel();
        RenderResult result = m_render->finish();
        if (result.picture)
            result.scenario->release(result.picture, result.frame);
    }
    releaseFrameImage();
}

bool CImageWnd::isBusy() const
{
    return m_render->isRunning();
}

void CImageWnd::setScenario(Scenario *scenario)
{
    detachScenario();
    m_scenario = scenario;
}

void CImageWnd::detachScenario()
{
    // The scenario is about to change or go: a frame of it half made is worth nothing.
    m_render->cancel();
    waitIdle();
    releaseFrameImage();
    setFailedFrame(-1);
    m_scenario = nullptr;
}

void CImageWnd::waitIdle()
{
    if (!isBusy())
        return;
    ++m_ticket;  // the render's own notification, still queued, is then ignored
    takeResult();
}

void CImageWnd::showFrame(int32_t frame)
{
    if (!m_scenario || isBusy() || frame < 0 || frame >= m_scenario->totalFrames)
        return;
    m_wantedFrame = frame;
    const quint64 ticket = ++m_ticket;
    // Called on the render thread: it only posts the notification to this window's thread.
    m_render->start(*m_scenario, frame, [this, ticket] {
        QMetaObject::invokeMethod(this, [this, ticket] { renderDone(ticket); },
                                  Qt::QueuedConnection);
    });
    emit statusText(FramePane, QStringLiteral("レンダリング中"));
}

void CImageWnd::renderDone(quint64 ticket)
{
    if (ticket != m_ticket || !isBusy())
        return;
    takeResult();
}

void CImageWnd::takeResult()
{
    RenderResult result = m_render->finish();
    bool shown = false;
    if (result.picture && result.frame == m_wantedFrame) {
        releaseFrameImage();
        m_frameImage = result.picture;
        m_frameImageScenario = result.scenario;
        m_frameImageFrame = result.frame;
        m_shownFrame = result.frame;
        setFailedFrame(-1);
        refit();
        emit statusText(FramePane, QString::number(result.frame));
        update();
        shown = true;
    } else if (result.picture) {
        result.scenario->release(result.picture, result.frame);
    } else if (result.cancelled) {
        // Nobody waits for a cancelled frame: the previous picture and its number stay.
        emit statusText(FramePane, m_shownFrame >= 0 ? QString::number(m_shownFrame) : QString());
    } else {
        // No picture: the previous one stays, marked as not being the frame asked for.
        setFailedFrame(result.frame);
        emit statusText(FramePane, failedText(result.frame, false));
    }
    // Shown now, on this thread and with no render running, so a message box open here holds
    // nothing up.
    if (result.prompter)
        for (const std::string &message : result.messages)
            result.prompter->showError(message);
    emit frameReady(result.frame, shown);
}

void CImageWnd::setFailedFrame(int32_t frame)
{
    if (frame == m_failedFrame)
        return;
    m_failedFrame = frame;
    // Screen readers hear what the banner over the picture says.
    setAccessibleDescription(frame >= 0 ? failedText(frame, true) : QString::fromUtf8(Description));
    update();
}

void CImageWnd::releaseFrameImage()
{
    if (!m_frameImage)
        return;
    m_frameImageScenario->release(m_frameImage, m_frameImageFrame);
    m_frameImage = nullptr;
    m_frameImageScenario = nullptr;
    m_frameImageFrame = -1;
}

void CImageWnd::refit()
{
    // The size is read here rather than kept from resize events, which a hidden window gets
    // only when it is shown.
    m_clientWidth = std::max(contentsRect().width(), 0);
    m_clientHeight = std::max(contentsRect().height(), 0);
    if (!m_frameImage)
        return;
    m_viewImage = FitImage(m_frameImage, m_clientWidth, m_clientHeight, FIT_INSIDE);
    m_viewQImage = m_viewImage ? ImageBufferToQImage(*m_viewImage, AlphaUse::Ignore) : QImage();
}

void CImageWnd::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    const QRect inside = contentsRect();
    if (inside.width() != m_clientWidth || inside.height() != m_clientHeight)
        refit();
}

void CImageWnd::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    drawFrame(&painter);
    const QRect inside = contentsRect();
    painter.setClipRect(inside);
    painter.fillRect(inside, Qt::black);
    // The fitted picture is the client's size; it is put one pixel in from the corner and its
    // last row and column fall outside.
    if (!m_viewQImage.isNull())
        painter.drawImage(inside.topLeft() + QPoint(1, 1), m_viewQImage);
    if (m_failedFrame >= 0) {
        // A banner across the top, over whatever picture is kept.
        const QString text = failedText(m_failedFrame, true);
        QRect band = inside;
        band.setHeight(std::min(inside.height(), 2 * painter.fontMetrics().height()));
        painter.fillRect(band, QColor(160, 0, 0));
        painter.setPen(Qt::white);
        painter.drawText(band.adjusted(4, 0, -4, 0), Qt::AlignVCenter | Qt::TextWordWrap, text);
    }
}

} // namespace vorn
