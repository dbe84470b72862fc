// The time-line strips as the user sees them: exact pixels of the waveform and mark strips,
// the exclusive-or cursor and hover lines on screen, the lit flash, hovering, clicking,
// deleting and scrolling.
#include "app/markwnd.h"
#include "app/progresswnd.h"
#include "audio/audioclip.h"
#include "support/wavfile.h"
#include "tablerows.h"
#include "timeline/markstrips.h"

#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace vorn;
using namespace vorn::test;

namespace {

// Client 100 x 200 inside the two-pixel sunken edge.
constexpr int Edge = 2, ClientWidth = 100, ClientHeight = 200;

// 88,200 frames at 44.1 kHz on 200 rows: 441 frames per row, so row y starts at y * 441 and
// row 100 is exactly one second.
constexpr int32_t Total = 88200;

const QColor Black(0, 0, 0), Green(0, 255, 0), Blue(0, 0, 255), Band(0, 0, 204), Red(255, 0, 0), White(255, 255, 255);

struct Probe {
    int x, y;
    QColor colour;
};

// The pixels at client points: of the widget painted from its state, or of the screen after the
// pending partial updates (the backing store of the shown window, so rows left unrepainted keep
// their old pixels).
void expectPixels(QWidget &w, std::initializer_list<Probe> probes, bool onScreen = false)
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    const QImage image = (onScreen ? w.screen()->grabWindow(w.winId()) : w.grab()).toImage();
    for (const Probe &p : probes)
        QCOMPARE(image.pixelColor(p.x + Edge, p.y + Edge).toRgb(), p.colour);
}

void expectOnScreen(QWidget &w, std::initializer_list<Probe> probes) { expectPixels(w, probes, true); }

// Strips get their size notification when shown, as in the main view.
void place(QWidget &w)
{
    w.resize(ClientWidth + 2 * Edge, ClientHeight + 2 * Edge);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
}

// A mouse event at client row y (MouseMove, MouseButtonPress) or a Leave.
void send(QWidget &w, QEvent::Type type, int clientY = 0)
{
    if (type == QEvent::Leave) {
        QEvent event(type);
        QCoreApplication::sendEvent(&w, &event);
        return;
    }
    const QPointF local(Edge + 10, Edge + clientY);
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, local, w.mapToGlobal(local), button, button, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &event);
}

} // namespace

class TestStrips : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_stereo = loadSong(2);
        m_mono = loadSong(1);
        QVERIFY(m_stereo && m_mono);
    }

    void waveformPixels_data() { addRows("window.tsv", QStringLiteral("wave")); }

    // Whole rows inside and outside the band (0, 0, 204), which covers rows posToY(start) to
    // posToY(end) - 1 under the waveform, and only with a song.
    void waveformPixels()
    {
        QFETCH(QStringList, row);
        const int channels = row[1].toInt();
        const QList<int> blue = numbers(row[2]), green = numbers(row[3]);
        TimeLine timeLine;
        CProgressWnd wave(timeLine);
        place(wave);
        wave.setTotal(Total);
        wave.setSelection(441 * 50, 441 * 120);
        wave.setSong(channels == 1 ? m_mono.get() : channels == 2 ? m_stereo.get() : nullptr);
        const QImage image = wave.grab().toImage();
        for (int y : {0, 49, 50, 119, 120, 199}) {
            const QColor background = (channels != 0 && y >= 50 && y < 120) ? Band : Black;
            for (int x = 0; x < ClientWidth; ++x) {
                bool isGreen = false;
                for (int i = 0; i + 1 < green.size(); i += 2)
                    isGreen = isGreen || (x >= green[i] && x <= green[i + 1]);
                const QColor expected = blue.contains(x) ? Blue : isGreen ? Green : background;
                QCOMPARE(image.pixelColor(x + Edge, y + Edge).toRgb(), expected);
            }
        }
    }

    // The cursor (red) and the hover line (yellow) are drawn by exclusive-or over what is there,
    // on screen, and moving them restores the rows they left.
    void cursorAndHoverAreExclusiveOr()
    {
        TimeLine timeLine;
        CProgressWnd wave(timeLine);
        place(wave);
        wave.setTotal(Total);
        wave.setSong(m_stereo.get());

        const QColor Yellow(255, 255, 0);
        wave.drawCursor(-1, 441 * 100);
        // Green, black and blue under red; the line spans the width; the row above is untouched.
        expectOnScreen(wave, {{30, 100, Yellow}, {5, 100, Red}, {25, 100, QColor(255, 0, 255)}, {99, 100, Red},
                              {30, 99, Green}});
        wave.drawCursor(-1, 441 * 150);
        expectOnScreen(wave, {{5, 100, Black}, {5, 150, Red}});
        wave.drawCursor(-1, 441 * 100);

        send(wave, QEvent::MouseMove, 100);
        QCOMPARE(wave.hoverY(), 100);
        expectOnScreen(wave, {{30, 100, Black}, {5, 100, Green}});  // under red and yellow
        wave.drawCursor(-1, 441 * 150);
        send(wave, QEvent::MouseMove, 20);
        expectOnScreen(wave, {{30, 100, Green}, {5, 100, Black}, {5, 150, Red}, {5, 20, Yellow}});

        // A repaint forgets both lines: the next draw at the same position draws it again.
        wave.repaintStrip();
        QVERIFY(wave.cursorPosition() == -1 && wave.hoverY() == -1);
        expectOnScreen(wave, {{5, 150, Black}, {5, 20, Black}});
        wave.drawCursor(-1, 441 * 150);
        expectOnScreen(wave, {{5, 150, Red}});
    }

    // Pane 1 shows the playing time while nothing is hovered, the hovered time while something
    // is, and is emptied when the mouse leaves; the mouse hands the focus to the main view. A click
    // seeks and moves the cursor, only with a song.
    void paneTextsAndClicks()
    {
        TimeLine timeLine;
        CProgressWnd wave(timeLine);
        place(wave);
        wave.setTotal(Total);
        QSignalSpy status(&wave, &CProgressWnd::statusText);
        QSignalSpy focus(&wave, &CProgressWnd::focusToView);
        QSignalSpy seek(&wave, &CProgressWnd::seekRequested);
        send(wave, QEvent::MouseButtonPress, 100);
        send(wave, QEvent::MouseMove, 100);
        QCOMPARE(seek.count(), 0);
        QCOMPARE(wave.cursorPosition(), -1);
        QCOMPARE(status.count(), 0);  // no song, no time
        send(wave, QEvent::Leave);
        status.clear();

        // The pane and the text last said.
        auto said = [&status] { return status.last().at(0).toString() + u' ' + status.last().at(1).toString(); };
        wave.setSong(m_stereo.get());
        wave.drawCursor(61234, 10);
        wave.drawCursor(99999, 10);  // same position: nothing at all
        QCOMPARE(status.count(), 1);
        QCOMPARE(said(), QStringLiteral("1 01:01.234"));
        send(wave, QEvent::MouseMove, 100);
        QCOMPARE(focus.count(), 2);
        QCOMPARE(said(), QStringLiteral("1 00:01.000"));
        wave.drawCursor(2000, 20);  // hovering: the time goes only to the strip
        QCOMPARE(said(), QStringLiteral("1 00:01.000"));
        send(wave, QEvent::Leave);
        QVERIFY(said() == QStringLiteral("1 ") && wave.hoverY() == -1);

        send(wave, QEvent::MouseButtonPress, -1);  // on the sunken edges: no seek
        send(wave, QEvent::MouseButtonPress, ClientHeight);
        QCOMPARE(seek.count(), 0);
        send(wave, QEvent::MouseButtonPress, 100);
        QVERIFY(seek.count() == 1 && seek.at(0).at(0).toInt() == 44100 && wave.cursorPosition() == 44100);
        expectPixels(wave, {{5, 100, Red}});
    }

    // The bar shows only while zoomed and then narrows the client; its range, page and value
    // follow the time line and its buttons scroll it (by its own rules, proven there). The wheel does nothing
    // at zoom 1; zoomed, it moves by a fiftieth of the span and repaints the linked mark strips
    // (which lose their lit fill).
    void scrollBarAndWheel()
    {
        TimeLine timeLine;
        MarkStrips strips;
        CProgressWnd wave(timeLine);
        CMarkWnd mark(timeLine, strips.strip(0), 0);
        wave.makeScrollable();
        wave.link(&mark);
        place(wave);
        place(mark);
        wave.setTotal(Total);
        QScrollBar *bar = wave.scrollBar();
        QVERIFY(!bar->isVisibleTo(&wave) && wave.clientWidth() == ClientWidth);
        mark.tick(true, 1000, 44100);
        wave.wheel(-120);
        QVERIFY(timeLine.top() == 0 && mark.showsLit());

        wave.zoomIn();
        QVERIFY(bar->isVisibleTo(&wave));
        QCOMPARE(wave.clientWidth(), ClientWidth - bar->sizeHint().width());
        QCOMPARE(bar->geometry(),
                 QRect(Edge + wave.clientWidth(), Edge, bar->sizeHint().width(), ClientHeight));
        QCOMPARE(timeLine.top(), 22050);
        QCOMPARE(QList<int>({bar->pageStep(), bar->maximum(), bar->value()}), QList<int>({44100, Total - 44100 + 1, 22050}));

        wave.wheel(-120);
        QCOMPARE(timeLine.top(), 22050 + 44100 / 50);
        QVERIFY(bar->value() == timeLine.top() && !mark.showsLit());
        wave.wheel(120);
        QCOMPARE(timeLine.top(), 22050);

        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        // One short of the end, as the bar keeps it.
        QCOMPARE(QList<int>({timeLine.top(), bar->value()}), QList<int>(2, Total - 44100 - 1));

        wave.zoomOut();
        QVERIFY(!bar->isVisibleTo(&wave) && wave.clientWidth() == ClientWidth);
    }

    // Mark lines in the strip's colour across the width, the selected mark in white, the band
    // under them, the hover line by exclusive-or; with total 0 only the background.
    void markPixels()
    {
        TimeLine timeLine;
        MarkStrips strips;
        CMarkWnd mark(timeLine, strips.strip(0), 0);
        place(mark);
        mark.setColour(0, 255, 255);
        const QColor cyan(0, 255, 255);
        mark.addMark(0, 441 * 10);
        mark.addMark(0, 441 * 60);
        mark.addMark(0, 441 * 150);
        mark.addMark(0, Total);  // row 200 = height: drawn, but outside the client
        expectPixels(mark, {{0, 10, Black}});  // total 0: background only
        timeLine.setTotal(Total);
        timeLine.setSelection(441 * 50, 441 * 100);
        timeLine.setSelectedMark(441 * 150);
        mark.repaintStrip();

        expectPixels(mark, {{0, 10, cyan}, {99, 10, cyan}, {50, 9, Black}, {50, 11, Black}, {50, 50, Band},
                            {50, 60, cyan}, {50, 99, Band}, {50, 100, Black}, {50, 150, White}, {50, 199, Black}});

        send(mark, QEvent::MouseMove, 62);
        QCOMPARE(strips.strip(0).hoverPos(), 441 * 60);
        expectOnScreen(mark, {{50, 60, Red}});  // cyan ^ white
        send(mark, QEvent::MouseMove, 12);
        expectOnScreen(mark, {{50, 60, cyan}, {50, 10, Red}});

        // A key's request marks and lights: the whole client in the strip's colour; the next tick
        // without a mark ahead repaints it normally. (When a mark ahead lights is the time line's
        // rule, proven there.)
        mark.tick(true, 1000, 441 * 20);
        QVERIFY(mark.showsLit() && strips.strip(0).isLit() && strips.strip(0).marks().size() == 5);
        expectPixels(mark, {{0, 0, cyan}, {99, 199, cyan}, {50, 30, cyan}});
        mark.tick(false, 100000, 441 * 30);
        QVERIFY(!mark.showsLit());
        expectPixels(mark, {{50, 30, Black}, {50, 20, cyan}, {50, 150, White}});
    }


    void hoverClickAndDelete_data() { addRows("window.tsv", QStringLiteral("hover")); }

    // The nearest mark is hovered and its time shown in pane 2; a click selects it and asks for
    // its picture; Delete removes the first mark at its position; leaving clears the pane. Without
    // a hovered mark neither click nor Delete does anything.
    void hoverClickAndDelete()
    {
        QFETCH(QStringList, row);
        const QList<int> rows = numbers(row[1]);
        const int mouseY = row[2].toInt(), picked = row[3].toInt();
        TimeLine timeLine;
        MarkStrips strips;
        CMarkWnd mark(timeLine, strips.strip(1), 1);
        place(mark);
        timeLine.setTotal(Total);
        timeLine.zoomIn();  // top 22,050: rows are (position - 22,050) / 220.5
        QSignalSpy status(&mark, &CMarkWnd::statusText);
        QSignalSpy show(&mark, &CMarkWnd::showFrameRequested);
        for (int i = 0; i < rows.size(); ++i)
            mark.addMark(1000 * (i + 1), 22050 + rows[i] * 441 / 2);
        send(mark, QEvent::MouseButtonPress, mouseY);
        QVERIFY(show.isEmpty() && !mark.removeHoveredMark());

        send(mark, QEvent::MouseMove, mouseY);
        const Mark hovered = strips.strip(1).marks()[size_t(picked)];
        QCOMPARE(strips.strip(1).hoverPos(), hovered.position);
        QCOMPARE(status.last().at(0).toString() + u' ' + status.last().at(1).toString(),
                 QStringLiteral("2 ") + QString::fromStdString(formatTimeText(hovered.time)));
        send(mark, QEvent::MouseButtonPress, mouseY);
        QVERIFY(show.count() == 1 && show.at(0).at(0).toInt() == hovered.position);
        QCOMPARE(timeLine.selectedMark(), hovered.position);

        QVERIFY(mark.removeHoveredMark());
        const std::vector<Mark> &left = strips.strip(1).marks();
        QCOMPARE(left.size(), size_t(rows.size() - 1));
        QVERIFY(std::find(left.begin(), left.end(), hovered) == left.end() && strips.strip(1).hoverPos() == -1);

        send(mark, QEvent::MouseMove, mouseY);
        send(mark, QEvent::Leave);
        QVERIFY(strips.strip(1).hoverPos() == -1 && status.last().at(1).toString().isEmpty());
    }

    void accessibleNames()
    {
        TimeLine timeLine;
        MarkStrips strips;
        CProgressWnd wave(timeLine);
        wave.makeScrollable();
        QStringList spoken{wave.accessibleName(), wave.scrollBar()->accessibleName().isEmpty() ? "" : "bar"};
        for (int k = 0; k < 4; ++k) {
            const CMarkWnd strip(timeLine, strips.strip(k), k);
            spoken << strip.accessibleName() + ": " + strip.accessibleDescription();
        }
        QCOMPARE(spoken, (QStringList{"波形", "bar", "マーク 1: チェックポイントのマーク", "マーク 2: チェックポイントのマーク",
                                      "マーク 3: チェックポイントのマーク", "キーフレーム: シナリオのキーフレーム"}));
    }

private:
    // Channel 0 steady at +2,000 and channel 1 at -4,000: on 441-frame rows read every fourth
    // frame (111 samples) the envelope is +10 pixels and -20 pixels at width 100.
    std::unique_ptr<AudioClip> loadSong(uint16_t channels)
    {
        const std::string path = m_dir.filePath(QStringLiteral("song%1.wav").arg(channels)).toStdString();
        test::writeWav16(path, channels, 44100, Total, [](int channel, int32_t) { return int16_t(channel == 0 ? 2000 : -4000); });
        auto clip = std::make_unique<AudioClip>();
        clip->setPath(path);
        return clip->load() ? std::move(clip) : nullptr;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<AudioClip> m_stereo;
    std::unique_ptr<AudioClip> m_mono;
};

QTEST_MAIN(TestStrips)
#include "tst_strips.moc"
