// The time-line strips as the user sees them: exact pixels of the waveform and mark strips,
// the exclusive-or cursor and hover lines on screen, the lit flash, hovering, clicking,
// deleting and scrolling.
#include "app/markwnd.h"
#include "app/progresswnd.h"
#include "audio/audioclip.h"
#include "support/wavfile.h"
#include "timeline/markstrips.h"

#include <QAccessible>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace vorn;

namespace {

// Client 100 x 200 inside the two-pixel sunken edge.
constexpr int Edge = 2;
constexpr int ClientWidth = 100;
constexpr int ClientHeight = 200;

// 88,200 frames at 44.1 kHz on 200 rows: 441 frames per row, so row y starts at y * 441 and
// row 100 is exactly one second.
constexpr int32_t Total = 88200;

const QColor Black(0, 0, 0);
const QColor Green(0, 255, 0);
const QColor Blue(0, 0, 255);
const QColor Band(0, 0, 204);
const QColor Red(255, 0, 0);
const QColor White(255, 255, 255);

QColor xorColour(const QColor &a, const QColor &b)
{
    return QColor(a.red() ^ b.red(), a.green() ^ b.green(), a.blue() ^ b.blue());
}

// The widget painted from its state, in client coordinates.
QColor pixel(QWidget &w, int x, int y)
{
    return w.grab().toImage().pixelColor(x + Edge, y + Edge).toRgb();
}

// What the screen shows after the pending partial updates: the backing store of the shown
// window, so rows left unrepainted keep their old pixels.
QImage onScreen(QWidget &w)
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    return w.screen()->grabWindow(w.winId()).toImage();
}

QColor screenPixel(const QImage &image, int x, int y)
{
    return image.pixelColor(x + Edge, y + Edge).toRgb();
}

// Strips get their size notification when shown, as in the main view.
void place(QWidget &w)
{
    w.resize(ClientWidth + 2 * Edge, ClientHeight + 2 * Edge);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
}

void sendMove(QWidget &w, int clientY)
{
    const QPointF local(Edge + 10, Edge + clientY);
    QMouseEvent event(QEvent::MouseMove, local, w.mapToGlobal(local), Qt::NoButton, Qt::NoButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &event);
}

void sendPress(QWidget &w, int clientY)
{
    const QPointF local(Edge + 10, Edge + clientY);
    QMouseEvent event(QEvent::MouseButtonPress, local, w.mapToGlobal(local), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &event);
}

void sendLeave(QWidget &w)
{
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(&w, &event);
}

} // namespace

class TestStrips : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void centreLines_data();
    void centreLines();
    void waveformRowsAndBand();
    void cursorAndHoverAreExclusiveOr();
    void cursorTimeAndHoverTime();
    void clickSeeksOnlyWithSong();
    void scrollBarFollowsZoom();
    void wheelScrollsAndRepaintsLinked();
    void markPixels();
    void markLitByTick_data();
    void markLitByTick();
    void hoverPicksNearestAndDeletes_data();
    void hoverPicksNearestAndDeletes();
    void clickShowsFrame();
    void accessibleNames();

private:
    std::unique_ptr<AudioClip> loadSong(uint16_t channels);

    QTemporaryDir m_dir;
    std::unique_ptr<AudioClip> m_stereo;
    std::unique_ptr<AudioClip> m_mono;
};

std::unique_ptr<AudioClip> TestStrips::loadSong(uint16_t channels)
{
    const std::filesystem::path path =
        std::filesystem::path(m_dir.path().toStdString()) / ("song" + std::to_string(channels) + ".wav");
    // Channel 0 steady at +2,000 and channel 1 at -4,000: on 441-frame rows read every fourth
    // frame (111 samples) the envelope is +10 pixels and -20 pixels at width 100.
    test::writeWav16(path, channels, 44100, Total,
                     [](int channel, int32_t) { return int16_t(channel == 0 ? 2000 : -4000); });
    auto clip = std::make_unique<AudioClip>();
    clip->setPath(path);
    if (!clip->load())
        return nullptr;
    return clip;
}

void TestStrips::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_stereo = loadSong(2);
    m_mono = loadSong(1);
    QVERIFY(m_stereo && m_mono);
}

void TestStrips::centreLines_data()
{
    QTest::addColumn<int>("channels");  // 0: no song
    QTest::addColumn<QList<int>>("blueColumns");
    QTest::newRow("no song") << 0 << QList<int>{25, 75};
    QTest::newRow("mono") << 1 << QList<int>{50};
    QTest::newRow("stereo") << 2 << QList<int>{25, 75};
}

// Vertical centre lines from the top row to the bottom one, nowhere else; without a song
// nothing but them and the background.
void TestStrips::centreLines()
{
    QFETCH(int, channels);
    QFETCH(QList<int>, blueColumns);
    TimeLine timeLine;
    CProgressWnd wave(timeLine);
    place(wave);
    wave.setTotal(Total);
    wave.setSelection(0, Total);  // a band that only a loaded song shows
    if (channels == 1)
        wave.setSong(m_mono.get());
    else if (channels == 2)
        wave.setSong(m_stereo.get());
    const QImage image = wave.grab().toImage();
    for (int x : {0, 25, 50, 75, 99}) {
        for (int y : {0, 199}) {
            const QColor expected = blueColumns.contains(x) ? Blue
                                    : channels == 0       ? Black
                                                          : image.pixelColor(x + Edge, y + Edge);
            QCOMPARE(image.pixelColor(x + Edge, y + Edge).toRgb(), expected);
        }
    }
    if (channels == 0)
        QCOMPARE(image.pixelColor(5 + Edge, 100 + Edge).toRgb(), Black);
    else
        QCOMPARE(image.pixelColor(5 + Edge, 100 + Edge).toRgb(), Band);
}

// Stereo rows: channel 0 green from x 26 to 35 (centre 25 + 10, the end pixel at the centre
// left out), channel 1 from 56 to 74 and 75 under the centre line; the band (0, 0, 204) covers
// rows posToY(start) to posToY(end) - 1 and the waveform is drawn over it.
void TestStrips::waveformRowsAndBand()
{
    TimeLine timeLine;
    CProgressWnd wave(timeLine);
    place(wave);
    wave.setTotal(Total);
    wave.setSong(m_stereo.get());
    wave.setSelection(441 * 50, 441 * 120);
    const QImage image = wave.grab().toImage();
    auto at = [&image](int x, int y) { return image.pixelColor(x + Edge, y + Edge).toRgb(); };
    for (int y : {0, 49, 50, 119, 120, 199}) {
        const QColor background = (y >= 50 && y < 120) ? Band : Black;
        QCOMPARE(at(5, y), background);
        QCOMPARE(at(24, y), background);
        QCOMPARE(at(25, y), Blue);
        QCOMPARE(at(26, y), Green);
        QCOMPARE(at(35, y), Green);
        QCOMPARE(at(36, y), background);
        QCOMPARE(at(55, y), background);
        QCOMPARE(at(56, y), Green);
        QCOMPARE(at(74, y), Green);
        QCOMPARE(at(75, y), Blue);
        QCOMPARE(at(76, y), background);
    }
}

// The cursor (red) and the hover line (yellow) are drawn by exclusive-or over what is there,
// on screen, and moving them restores the rows they left.
void TestStrips::cursorAndHoverAreExclusiveOr()
{
    TimeLine timeLine;
    CProgressWnd wave(timeLine);
    place(wave);
    wave.setTotal(Total);
    wave.setSong(m_stereo.get());

    wave.drawCursor(-1, 441 * 100);
    QImage screen = onScreen(wave);
    QCOMPARE(screenPixel(screen, 30, 100), QColor(255, 255, 0));  // green ^ red
    QCOMPARE(screenPixel(screen, 5, 100), Red);                   // black ^ red
    QCOMPARE(screenPixel(screen, 25, 100), QColor(255, 0, 255));  // blue ^ red
    QCOMPARE(screenPixel(screen, 99, 100), Red);                  // the line spans the width
    QCOMPARE(screenPixel(screen, 30, 99), Green);
    wave.drawCursor(-1, 441 * 150);
    screen = onScreen(wave);
    QCOMPARE(screenPixel(screen, 5, 100), Black);
    QCOMPARE(screenPixel(screen, 5, 150), Red);
    wave.drawCursor(-1, 441 * 100);

    sendMove(wave, 100);
    QCOMPARE(wave.hoverY(), 100);
    screen = onScreen(wave);
    QCOMPARE(screenPixel(screen, 30, 100), Black);                // green ^ red ^ yellow
    QCOMPARE(screenPixel(screen, 5, 100), Green);                 // black ^ red ^ yellow

    wave.drawCursor(-1, 441 * 150);
    sendMove(wave, 20);
    screen = onScreen(wave);
    QCOMPARE(screenPixel(screen, 30, 100), Green);
    QCOMPARE(screenPixel(screen, 5, 100), Black);
    QCOMPARE(screenPixel(screen, 5, 150), Red);
    QCOMPARE(screenPixel(screen, 5, 20), QColor(255, 255, 0));

    // A repaint forgets both lines: the next draw at the same position draws it again.
    wave.repaintStrip();
    QCOMPARE(wave.cursorPosition(), -1);
    QCOMPARE(wave.hoverY(), -1);
    screen = onScreen(wave);
    QCOMPARE(screenPixel(screen, 5, 150), Black);
    QCOMPARE(screenPixel(screen, 5, 20), Black);
    wave.drawCursor(-1, 441 * 150);
    QCOMPARE(screenPixel(onScreen(wave), 5, 150), Red);
}

// Pane 1 shows the playing time while nothing is hovered, the hovered time while something
// is, and is emptied when the mouse leaves; the mouse hands the focus to the main view.
void TestStrips::cursorTimeAndHoverTime()
{
    TimeLine timeLine;
    CProgressWnd wave(timeLine);
    place(wave);
    wave.setTotal(Total);
    wave.setSong(m_stereo.get());
    QSignalSpy status(&wave, &CProgressWnd::statusText);
    QSignalSpy focus(&wave, &CProgressWnd::focusToView);

    wave.drawCursor(61234, 10);
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.at(0).at(0).toInt(), 1);
    QCOMPARE(status.at(0).at(1).toString(), QStringLiteral("01:01.234"));
    wave.drawCursor(99999, 10);  // same position: nothing at all
    QCOMPARE(status.count(), 1);

    sendMove(wave, 100);
    QCOMPARE(focus.count(), 1);
    QCOMPARE(status.last().at(1).toString(), QStringLiteral("00:01.000"));
    wave.drawCursor(2000, 20);  // hovering: the time goes only to the strip
    QCOMPARE(status.last().at(1).toString(), QStringLiteral("00:01.000"));

    sendLeave(wave);
    QCOMPARE(status.last().at(0).toInt(), 1);
    QCOMPARE(status.last().at(1).toString(), QString());
    QCOMPARE(wave.hoverY(), -1);
}

void TestStrips::clickSeeksOnlyWithSong()
{
    TimeLine timeLine;
    CProgressWnd wave(timeLine);
    place(wave);
    wave.setTotal(Total);
    QSignalSpy seek(&wave, &CProgressWnd::seekRequested);
    sendPress(wave, 100);
    QCOMPARE(seek.count(), 0);
    QCOMPARE(wave.cursorPosition(), -1);

    wave.setSong(m_stereo.get());
    sendPress(wave, 100);
    QCOMPARE(seek.count(), 1);
    QCOMPARE(seek.at(0).at(0).toInt(), 44100);
    QCOMPARE(wave.cursorPosition(), 44100);
    QCOMPARE(pixel(wave, 5, 100), Red);
}

// The bar shows only while zoomed and then narrows the client; its range, page and value
// follow the time line, and its buttons scroll by the time line's rules.
void TestStrips::scrollBarFollowsZoom()
{
    TimeLine timeLine;
    CProgressWnd wave(timeLine);
    wave.makeScrollable();
    place(wave);
    wave.setTotal(Total);
    QScrollBar *bar = wave.scrollBar();
    QVERIFY(bar);
    QVERIFY(!bar->isVisibleTo(&wave));
    QCOMPARE(wave.clientWidth(), ClientWidth);

    wave.zoomIn();
    QVERIFY(bar->isVisibleTo(&wave));
    QCOMPARE(wave.clientWidth(), ClientWidth - bar->sizeHint().width());
    QCOMPARE(bar->geometry(), QRect(Edge + wave.clientWidth(), Edge, bar->sizeHint().width(), ClientHeight));
    QCOMPARE(timeLine.top(), 22050);
    QCOMPARE(bar->pageStep(), 44100);
    QCOMPARE(bar->maximum(), Total - 44100 + 1);
    QCOMPARE(bar->value(), 22050);

    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QCOMPARE(timeLine.top(), Total - 44100 - 1);  // one short of the end, as the bar keeps it
    QCOMPARE(bar->value(), Total - 44100 - 1);
    bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    QCOMPARE(timeLine.top(), Total - 44100 - 1 - 44100 / 20);
    QCOMPARE(bar->value(), timeLine.top());

    wave.zoomOut();
    QVERIFY(!bar->isVisibleTo(&wave));
    QCOMPARE(wave.clientWidth(), ClientWidth);
    QCOMPARE(timeLine.top(), 0);
}

// The wheel does nothing at zoom 1; zoomed, it moves by a fiftieth of the span and repaints
// the linked mark strips (which lose their lit fill).
void TestStrips::wheelScrollsAndRepaintsLinked()
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

    mark.tick(true, 1000, 44100);
    QVERIFY(mark.showsLit());
    wave.wheel(-120);
    QCOMPARE(timeLine.top(), 0);
    QVERIFY(mark.showsLit());

    wave.zoomIn();
    wave.wheel(-120);
    QCOMPARE(timeLine.top(), 22050 + 44100 / 50);
    QCOMPARE(wave.scrollBar()->value(), timeLine.top());
    QVERIFY(!mark.showsLit());
    wave.wheel(120);
    QCOMPARE(timeLine.top(), 22050);
}

// Mark lines in the strip's colour across the width, the selected mark in white, the band
// under them, the hover line by exclusive-or; with total 0 only the background.
void TestStrips::markPixels()
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
    QCOMPARE(pixel(mark, 0, 10), Black);  // total 0: background only
    timeLine.setTotal(Total);
    timeLine.setSelection(441 * 50, 441 * 100);
    timeLine.setSelectedMark(441 * 150);
    mark.repaintStrip();

    const QImage image = mark.grab().toImage();
    auto at = [&image](int x, int y) { return image.pixelColor(x + Edge, y + Edge).toRgb(); };
    QCOMPARE(at(0, 10), cyan);
    QCOMPARE(at(99, 10), cyan);
    QCOMPARE(at(50, 9), Black);
    QCOMPARE(at(50, 11), Black);
    QCOMPARE(at(50, 50), Band);
    QCOMPARE(at(50, 60), cyan);
    QCOMPARE(at(50, 99), Band);
    QCOMPARE(at(50, 100), Black);
    QCOMPARE(at(50, 150), White);
    QCOMPARE(at(50, 199), Black);

    sendMove(mark, 62);
    QCOMPARE(strips.strip(0).hoverPos(), 441 * 60);
    QImage screen = onScreen(mark);
    QCOMPARE(screenPixel(screen, 50, 60), xorColour(cyan, White));
    sendMove(mark, 12);
    screen = onScreen(mark);
    QCOMPARE(screenPixel(screen, 50, 60), cyan);
    QCOMPARE(screenPixel(screen, 50, 10), xorColour(cyan, White));
}

void TestStrips::markLitByTick_data()
{
    QTest::addColumn<int>("markMs");
    QTest::addColumn<int>("playMs");
    QTest::addColumn<bool>("request");
    QTest::addColumn<bool>("lit");
    QTest::newRow("30 ms ahead") << 1030 << 1000 << false << true;
    QTest::newRow("1 ms ahead") << 1001 << 1000 << false << true;
    QTest::newRow("49 ms ahead") << 1049 << 1000 << false << true;
    QTest::newRow("50 ms ahead") << 1050 << 1000 << false << false;
    QTest::newRow("at the playback time") << 1000 << 1000 << false << false;
    QTest::newRow("behind") << 990 << 1000 << false << false;
    QTest::newRow("key request") << 5000 << 1000 << true << true;
}

// A lit strip fills its whole client with its colour; the next tick without a mark ahead
// repaints it normally.
void TestStrips::markLitByTick()
{
    QFETCH(int, markMs);
    QFETCH(int, playMs);
    QFETCH(bool, request);
    QFETCH(bool, lit);
    TimeLine timeLine;
    MarkStrips strips;
    CMarkWnd mark(timeLine, strips.strip(2), 2);
    place(mark);
    mark.setColour(204, 204, 0);
    timeLine.setTotal(Total);
    mark.addMark(markMs, 441 * 10);
    mark.tick(request, playMs, 441 * 20);
    QCOMPARE(mark.showsLit(), lit);
    QCOMPARE(strips.strip(2).isLit(), lit);
    QCOMPARE(strips.strip(2).marks().size(), size_t(request ? 2 : 1));
    const QColor fill = lit ? QColor(204, 204, 0) : Black;
    QCOMPARE(pixel(mark, 0, 0), fill);
    QCOMPARE(pixel(mark, 99, 199), fill);
    QCOMPARE(pixel(mark, 50, 30), fill);

    mark.tick(false, 100000, 441 * 30);
    QVERIFY(!mark.showsLit());
    QCOMPARE(pixel(mark, 50, 30), Black);
    QCOMPARE(pixel(mark, 50, 10), QColor(204, 204, 0));
}

void TestStrips::hoverPicksNearestAndDeletes_data()
{
    QTest::addColumn<QList<int>>("rows");  // rows of the marks, in list order
    QTest::addColumn<int>("mouseY");
    QTest::addColumn<int>("picked");       // index of the hovered mark
    QTest::newRow("5 and 8 pixels away") << QList<int>{92, 105} << 100 << 1;
    QTest::newRow("8 and 5 pixels away") << QList<int>{105, 92} << 97 << 1;
    QTest::newRow("equal distances: the first") << QList<int>{95, 105} << 100 << 0;
    QTest::newRow("off screen counts") << QList<int>{150, -20} << 0 << 1;
    QTest::newRow("same position: the first goes") << QList<int>{40, 40, 60} << 41 << 0;
}

// The nearest mark is hovered and its time shown in pane 2; Delete removes the first mark at
// that position; leaving clears the pane.
void TestStrips::hoverPicksNearestAndDeletes()
{
    QFETCH(QList<int>, rows);
    QFETCH(int, mouseY);
    QFETCH(int, picked);
    TimeLine timeLine;
    MarkStrips strips;
    CMarkWnd mark(timeLine, strips.strip(1), 1);
    place(mark);
    timeLine.setTotal(Total);
    timeLine.zoomIn();  // top 22,050: rows are (position - 22,050) / 220.5
    QSignalSpy status(&mark, &CMarkWnd::statusText);
    for (int i = 0; i < rows.size(); ++i)
        mark.addMark(1000 * (i + 1), 22050 + rows[i] * 441 / 2);

    QVERIFY(!mark.removeHoveredMark());
    sendMove(mark, mouseY);
    const Mark hovered = strips.strip(1).marks()[size_t(picked)];
    QCOMPARE(strips.strip(1).hoverPos(), hovered.position);
    QCOMPARE(status.last().at(0).toInt(), 2);
    QCOMPARE(status.last().at(1).toString(), QString::fromStdString(formatTimeText(hovered.time)));

    QVERIFY(mark.removeHoveredMark());
    const std::vector<Mark> &left = strips.strip(1).marks();
    QCOMPARE(left.size(), size_t(rows.size() - 1));
    QVERIFY(std::find(left.begin(), left.end(), hovered) == left.end());
    QCOMPARE(strips.strip(1).hoverPos(), -1);
    if (hovered.position == 22050 + 40 * 441 / 2) {
        QCOMPARE(pixel(mark, 50, 40), QColor(0, 255, 0));  // its twin stays
    }

    sendMove(mark, mouseY);
    sendLeave(mark);
    QCOMPARE(strips.strip(1).hoverPos(), -1);
    QCOMPARE(status.last().at(1).toString(), QString());
}

// A click shows the hovered mark's moment and makes it the selected mark; without a hovered
// mark a click does nothing.
void TestStrips::clickShowsFrame()
{
    TimeLine timeLine;
    MarkStrips strips;
    CMarkWnd mark(timeLine, strips.strip(3), 3);
    place(mark);
    timeLine.setTotal(Total);
    QSignalSpy show(&mark, &CMarkWnd::showFrameRequested);
    sendPress(mark, 50);
    QCOMPARE(show.count(), 0);
    mark.addMark(500, 441 * 50);
    sendMove(mark, 48);
    sendPress(mark, 48);
    QCOMPARE(show.count(), 1);
    QCOMPARE(show.at(0).at(0).toInt(), 441 * 50);
    QCOMPARE(timeLine.selectedMark(), 441 * 50);
}

void TestStrips::accessibleNames()
{
    TimeLine timeLine;
    MarkStrips strips;
    CProgressWnd wave(timeLine);
    wave.makeScrollable();
    QCOMPARE(wave.accessibleName(), QStringLiteral("波形"));
    QVERIFY(!wave.scrollBar()->accessibleName().isEmpty());
    const QStringList names{QStringLiteral("マーク 1"), QStringLiteral("マーク 2"),
                            QStringLiteral("マーク 3"), QStringLiteral("キーフレーム")};
    for (int k = 0; k < 4; ++k)
        QCOMPARE(CMarkWnd(timeLine, strips.strip(k), k).accessibleName(), names[k]);
}

QTEST_MAIN(TestStrips)
#include "tst_strips.moc"
