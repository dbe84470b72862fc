// The region picker: fitting, zoom limits, conversions, drags and clamping, what is drawn, the
// edits of the dialog, and pictures or windows of no size.
#include "editor/regionselect.h"
#include "editor/regionselectdlg.h"

#include <QAccessible>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <limits>
#include <memory>

using namespace vorn;

using Probes = QList<QPair<QPoint, QRgb>>;  // client pixel and the colour expected there

namespace {

constexpr int32_t Max = std::numeric_limits<int32_t>::max();
constexpr int32_t Min = std::numeric_limits<int32_t>::min();
constexpr QRgb Fill = 0xff102030;      // the test pictures' colour
constexpr QRgb Inverted = 0xffefdfcf;  // Fill under the exclusive-or rubber band

// The current row's value in a column, for use inside an expression.
template <typename T>
T data(const char *column)
{
    return *static_cast<T *>(QTest::qData(column, qMetaTypeId<T>()));
}

QList<int> corners(const Rect &r)
{
    return {r.left, r.top, r.right, r.bottom};
}

ImagePtr picture(QSize size)
{
    return CreateFilledImage(size.width(), size.height(), 0x10, 0x20, 0x30, 255);
}

// A shown picker whose client area is exactly `client`: the bars are held off so that the
// arithmetic has known sizes (the bars themselves are checked with the dialog).
std::unique_ptr<CRegionSelect> shownPicker(QSize client, const ImageBuffer *image, int clamp = 1)
{
    auto p = std::make_unique<CRegionSelect>();
    p->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    p->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    p->resize(client);
    p->show();
    if (!QTest::qWaitForWindowExposed(p.get()))
        return nullptr;
    p->setPicture(image, clamp);
    return p;
}

void drag(CRegionSelect &p, QPoint from, QPoint to)
{
    QWidget *v = p.viewport();
    QTest::mousePress(v, Qt::LeftButton, {}, from);
    if (to != from)
        QTest::mouseMove(v, to);
    QTest::mouseRelease(v, Qt::LeftButton, {}, to);
}

void checkProbes(const QImage &image, const Probes &probes)
{
    for (const auto &[at, colour] : probes)
        QVERIFY2(image.pixel(at) == colour,
                 qPrintable(QStringLiteral("(%1, %2): %3 instead of %4")
                                .arg(at.x()).arg(at.y()).arg(image.pixel(at), 8, 16)
                                .arg(colour, 8, 16)));
}

} // namespace

class TestRegionSelect : public QObject
{
    Q_OBJECT

private slots:
    void fit_data()
    {
        QTest::addColumn<QSize>("pictureSize");
        QTest::addColumn<QSize>("client");
        QTest::addColumn<double>("zoom");
        QTest::addColumn<QSize>("scaled");
        QTest::addColumn<QPoint>("offset");
        QTest::newRow("wide picture fits the width") << QSize(400, 100) << QSize(200, 200) << 0.5
                                                     << QSize(200, 50) << QPoint(0, -75);
        QTest::newRow("tall picture fits the height") << QSize(100, 400) << QSize(200, 200) << 0.5
                                                      << QSize(50, 200) << QPoint(-75, 0);
        QTest::newRow("scaled size rounds half up") << QSize(3, 3) << QSize(200, 100) << 100.0 / 3
                                                    << QSize(100, 100) << QPoint(-50, 0);
        // (63 - 100) / 2 truncates towards zero.
        QTest::newRow("centring truncates") << QSize(8, 5) << QSize(101, 100) << 101.0 / 8
                                            << QSize(101, 63) << QPoint(0, -18);
    }
    void fit()
    {
        QFETCH(QSize, pictureSize);
        QFETCH(QSize, client);
        auto image = picture(pictureSize);
        auto p = shownPicker(client, image.get());
        QVERIFY(p);
        QCOMPARE(p->clientSize(), client);
        QTEST(p->zoom(), "zoom");
        QTEST(p->scaledSize(), "scaled");
        QTEST(p->offset(), "offset");
    }

    // Steps of zoom in (or out) from zoom 1 until one is refused.
    void zoomLimits_data()
    {
        QTest::addColumn<QSize>("pictureSize");
        QTest::addColumn<bool>("in");
        QTest::addColumn<int>("steps");
        QTest::newRow("in: 625 x 16 = 10000 is refused") << QSize(625, 100) << true << 3;
        QTest::newRow("in: 624 x 16 = 9984 is taken") << QSize(624, 100) << true << 4;
        QTest::newRow("in: the height decides") << QSize(100, 625) << true << 3;
        QTest::newRow("out: 200 x 1/4 = 50 is refused") << QSize(800, 200) << false << 1;
        QTest::newRow("out: 204 x 1/4 = 51 is taken") << QSize(804, 204) << false << 2;
        QTest::newRow("out: the width decides") << QSize(200, 800) << false << 1;
    }
    void zoomLimits()
    {
        QFETCH(QSize, pictureSize);
        QFETCH(bool, in);
        QFETCH(int, steps);
        auto image = picture(pictureSize);
        auto p = shownPicker(pictureSize, image.get());
        QVERIFY(p);
        QCOMPARE(p->zoom(), 1.0);
        int taken = 0;
        while (taken < 20 && (in ? p->zoomIn() : p->zoomOut()))
            ++taken;
        QCOMPARE(taken, steps);
        QCOMPARE(p->zoom(), in ? std::pow(2.0, steps) : std::pow(0.5, steps));
    }

    // Zooming keeps the centre of the view; conversions round half up (floor, also below 0)
    // and saturate at the int32 range.
    void conversions_data()
    {
        QTest::addColumn<QSize>("pictureSize");
        QTest::addColumn<QSize>("client");
        QTest::addColumn<int>("zoomSteps");  // > 0 in, < 0 out
        QTest::addColumn<QPoint>("offset");
        QTest::addColumn<QPoint>("clientPoint");
        QTest::addColumn<QPoint>("toPicture");
        QTest::addColumn<QPoint>("picturePoint");
        QTest::addColumn<QPoint>("toClient");
        QTest::newRow("picture inside the client") << QSize(100, 100) << QSize(200, 100) << 0
            << QPoint(-50, 0) << QPoint(0, 7) << QPoint(-50, 7) << QPoint(0, 0) << QPoint(50, 0);
        QTest::newRow("zoomed in about the centre") << QSize(200, 100) << QSize(200, 100) << 1
            << QPoint(100, 50) << QPoint(1, 1) << QPoint(51, 26) << QPoint(3, 4) << QPoint(-94, -42);
        QTest::newRow("zoomed out about the centre") << QSize(400, 200) << QSize(400, 200) << -1
            << QPoint(-100, -50) << QPoint(1, 1) << QPoint(-198, -98) << QPoint(3, 3) << QPoint(102, 52);
        QTest::newRow("large zoom saturates") << QSize(2, 2) << QSize(200, 200) << 0 << QPoint(0, 0)
            << QPoint(149, 50) << QPoint(1, 1) << QPoint(Max, Min) << QPoint(Max, Min);
        QTest::newRow("small zoom saturates") << QSize(1000000, 1) << QSize(100, 100) << 0
            << QPoint(0, -50) << QPoint(Max, Min) << QPoint(Max, Min) << QPoint(Max, Min)
            << QPoint(214748, -214698);
    }
    void conversions()
    {
        QFETCH(QSize, pictureSize);
        QFETCH(QSize, client);
        QFETCH(int, zoomSteps);
        auto image = picture(pictureSize);
        auto p = shownPicker(client, image.get());
        QVERIFY(p);
        for (int i = 0; i < std::abs(zoomSteps); ++i)
            QVERIFY(zoomSteps > 0 ? p->zoomIn() : p->zoomOut());
        QTEST(p->offset(), "offset");
        QTEST(p->clientToPicture(data<QPoint>("clientPoint")), "toPicture");
        QTEST(p->pictureToClient(data<QPoint>("picturePoint")), "toClient");
    }

    // A 100 x 50 picture at zoom 2 fills a 200 x 100 client.
    void drag_data()
    {
        QTest::addColumn<bool>("hasPicture");
        QTest::addColumn<int>("clamp");
        QTest::addColumn<QPoint>("from");
        QTest::addColumn<QPoint>("to");
        QTest::addColumn<QList<int>>("expected");
        const QList<int> box{10, 5, 31, 16};
        QTest::newRow("down and right") << true << 1 << QPoint(20, 10) << QPoint(61, 31) << box;
        QTest::newRow("up and left") << true << 1 << QPoint(61, 31) << QPoint(20, 10) << box;
        QTest::newRow("up and right") << true << 1 << QPoint(20, 31) << QPoint(61, 10) << box;
        QTest::newRow("click without moving") << true << 1 << QPoint(20, 10) << QPoint(20, 10)
                                              << QList<int>{10, 5, 10, 5};
        QTest::newRow("clamped past the far corner") << true << 1 << QPoint(20, 10)
            << QPoint(250, 150) << QList<int>{10, 5, 99, 49};
        QTest::newRow("clamped before the origin") << true << 1 << QPoint(20, 10)
            << QPoint(-30, -20) << QList<int>{0, 0, 10, 5};
        QTest::newRow("flag 2 does not clamp") << true << 2 << QPoint(20, 10) << QPoint(250, 150)
                                               << QList<int>{10, 5, 125, 75};
        QTest::newRow("no picture, clamped") << false << 1 << QPoint(20, 10) << QPoint(61, 31)
                                             << QList<int>{0, 0, 0, 0};
        QTest::newRow("no picture, not clamped") << false << 3 << QPoint(20, 10) << QPoint(61, 31)
                                                 << QList<int>{20, 10, 61, 31};
    }
    void drag()
    {
        QFETCH(bool, hasPicture);
        QFETCH(int, clamp);
        auto image = picture({100, 50});
        auto p = shownPicker({200, 100}, hasPicture ? image.get() : nullptr, clamp);
        QVERIFY(p);
        QSignalSpy picked(p.get(), &CRegionSelect::selectionPicked);
        ::drag(*p, data<QPoint>("from"), data<QPoint>("to"));
        QVERIFY(!p->isDragging());
        QTEST(corners(p->selection()), "expected");
        QCOMPARE(picked.size(), 1);
        QTEST(corners(picked.at(0).at(0).value<Rect>()), "expected");
    }

    // The band inverts its one-pixel border (up to, not including, the far corner) and leaves
    // no trace once the mouse moves on or the button is released.
    void rubberBand()
    {
        auto image = picture({100, 50});
        auto p = shownPicker({200, 100}, image.get());
        QVERIFY(p);
        QWidget *v = p->viewport();
        QTest::mousePress(v, Qt::LeftButton, {}, {20, 10});
        QTest::mouseMove(v, {61, 31});
        QVERIFY(p->isDragging());
        checkProbes(v->grab().toImage(), {{{20, 10}, Inverted}, {{40, 10}, Inverted},
                                          {{60, 30}, Inverted}, {{61, 31}, Fill},
                                          {{40, 20}, Fill}});
        QTest::mouseMove(v, {30, 20});
        checkProbes(v->grab().toImage(), {{{29, 19}, Inverted}, {{60, 30}, Fill}});
        QTest::mouseRelease(v, Qt::LeftButton, {}, {30, 20});
        const QImage after = v->grab().toImage();
        for (int y = 0; y < after.height(); ++y)
            for (int x = 0; x < after.width(); ++x)
                QVERIFY(after.pixel(x, y) != Inverted);
    }

    // A 100 x 100 picture at zoom 1 in a 200 x 100 client, starting at client x 50.
    void drawing_data()
    {
        QTest::addColumn<QList<int>>("reference");
        QTest::addColumn<QList<int>>("selection");
        QTest::addColumn<Probes>("probes");
        const QList<int> reference{10, 10, 20, 20};
        const QList<int> selection{40, 30, 60, 40};
        const QRgb grey = 0xff333333, blue = 0xff0000ff, red = 0xffff0000, join = 0xff555555;
        QTest::newRow("both, joined") << reference << selection
            << Probes{{{10, 10}, grey}, {{55, 10}, Fill}, {{60, 15}, blue}, {{70, 20}, blue},
                      {{100, 30}, red}, {{110, 40}, red}, {{75, 20}, join}, {{61, 11}, Fill}};
        QTest::newRow("no reference, no lines") << QList<int>{0, 0, 0, 0} << selection
            << Probes{{{60, 15}, Fill}, {{75, 20}, Fill}, {{100, 30}, red}};
        QTest::newRow("selection of no width") << reference << QList<int>{40, 30, 40, 40}
            << Probes{{{90, 35}, Fill}, {{75, 20}, Fill}, {{60, 15}, blue}};
        QTest::newRow("far corners do not wrap") << reference << QList<int>{40, 30, Max, Max}
            << Probes{{{90, 35}, red}, {{150, 30}, red}, {{150, 50}, grey}, {{120, 50}, Fill}};
    }
    void drawing()
    {
        QFETCH(QList<int>, reference);
        QFETCH(QList<int>, selection);
        auto image = picture({100, 100});
        auto p = shownPicker({200, 100}, image.get());
        QVERIFY(p);
        p->setReference({reference[0], reference[1], reference[2], reference[3]});
        p->setSelection({selection[0], selection[1], selection[2], selection[3]});
        checkProbes(p->viewport()->grab().toImage(), data<Probes>("probes"));
    }

    // Typing moves the red rectangle as typed; the dialog orders the corners when read back.
    void typing_data()
    {
        QTest::addColumn<int>("edge");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("shown");
        QTest::addColumn<QList<int>>("read");
        QTest::addColumn<QPoint>("redAt");  // picture pixels
        QTest::newRow("left beyond right") << int(CRegionSelectDlg::Left) << "50"
            << QList<int>{50, 10, 40, 30} << QList<int>{40, 10, 50, 30} << QPoint(50, 20);
        QTest::newRow("bottom above top") << int(CRegionSelectDlg::Bottom) << "5"
            << QList<int>{10, 10, 40, 5} << QList<int>{10, 5, 40, 10} << QPoint(25, 5);
        QTest::newRow("beyond int32") << int(CRegionSelectDlg::Right) << "99999999999"
            << QList<int>{10, 10, Max, 30} << QList<int>{10, 10, Max, 30} << QPoint(10, 20);
        QTest::newRow("below int32") << int(CRegionSelectDlg::Left) << "-99999999999"
            << QList<int>{Min, 10, 40, 30} << QList<int>{Min, 10, 40, 30} << QPoint(40, 20);
        QTest::newRow("not a number") << int(CRegionSelectDlg::Top) << "abc"
            << QList<int>{10, 0, 40, 30} << QList<int>{10, 0, 40, 30} << QPoint(25, 0);
        QTest::newRow("sign and trailing text") << int(CRegionSelectDlg::Top) << " +12px"
            << QList<int>{10, 12, 40, 30} << QList<int>{10, 12, 40, 30} << QPoint(25, 12);
    }
    void typing()
    {
        QFETCH(int, edge);
        QFETCH(QString, text);
        QFETCH(QPoint, redAt);
        CRegionSelectDlg dialog;
        auto image = picture({64, 48});
        dialog.setPicture(image.get(), 1);
        image.reset();  // the dialog keeps its own copy
        dialog.setSelection({10, 10, 40, 30});
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QLineEdit *e = dialog.edit(CRegionSelectDlg::Edge(edge));
        e->clear();
        QTest::keyClicks(e, text);
        QTEST(corners(dialog.picker()->selection()), "shown");
        QTEST(corners(dialog.selection()), "read");
        CRegionSelect *p = dialog.picker();
        const QImage shot = p->viewport()->grab().toImage();
        QCOMPARE(shot.pixel(p->pictureToClient(redAt)), 0xffff0000u);
        QCOMPARE(shot.pixel(p->pictureToClient({10, 10}) + QPoint(-1, -1)), Fill);
        // A drag writes the four edits, ordered.
        ::drag(*p, p->pictureToClient({30, 20}), p->pictureToClient({5, 2}));
        const QList<int> picked = corners(p->selection());
        QVERIFY(picked[0] < picked[2] && picked[1] < picked[3]);
        QCOMPARE(e->text(), QString::number(picked[edge]));
        QCOMPARE(corners(dialog.selection()), picked);
    }

    // Nothing divides by a zero zoom or a zero size, and a picture that cannot be shown is
    // reported once while the view stays usable.
    void safety_data()
    {
        QTest::addColumn<int>("kind");  // 0 none, 1 of zero size, 2 24-bit, 3 8-bit
        QTest::addColumn<QSize>("client");
        QTest::addColumn<int>("errors");
        QTest::newRow("no picture") << 0 << QSize(200, 100) << 0;
        QTest::newRow("picture of zero size") << 1 << QSize(200, 100) << 0;
        QTest::newRow("client of zero size") << 2 << QSize(0, 0) << 0;
        QTest::newRow("picture that cannot be shown") << 3 << QSize(200, 100) << 1;
    }
    void safety()
    {
        QFETCH(int, kind);
        QFETCH(QSize, client);
        ImageBuffer empty;
        ImagePtr image = kind == 2 ? picture({100, 50}) : CreateImageBuffer(100, 50, 8);
        const ImageBuffer *given = kind == 0 ? nullptr : kind == 1 ? &empty : image.get();
        QWidget window;
        window.resize(300, 200);
        auto *p = new CRegionSelect(&window);
        p->resize(client);
        QStringList errors;
        p->setErrorHandler([&](const QString &text) { errors << text; });
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        p->setPicture(given, 1);
        p->fit();
        for (int i = 0; i < 40; ++i)
            p->zoomIn(), p->zoomOut(), p->zoomOut();
        QVERIFY(std::isfinite(p->zoom()) && p->zoom() > 0.0);
        ::drag(*p, {5, 5}, {150, 90});
        QVERIFY(std::isfinite(p->clientToPicture({5, 5}).x() + 0.0));
        p->viewport()->grab();
        QTRY_COMPARE(errors.size(), data<int>("errors"));
        if (!errors.isEmpty())
            QCOMPARE(errors[0], QStringLiteral("CreateDIBitmap failed."));
    }

    void dialog_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QRect>("picker");
        QTest::addColumn<QRect>("zoomOut");
        QTest::addColumn<QRect>("bottom");
        QTest::newRow("640 x 480") << QSize(640, 480) << QRect(10, 10, 530, 460)
                                   << QRect(550, 115, 80, 25) << QRect(550, 240, 80, 20);
        QTest::newRow("900 x 300") << QSize(900, 300) << QRect(10, 10, 790, 280)
                                   << QRect(810, 115, 80, 25) << QRect(810, 240, 80, 20);
    }
    void dialog()
    {
        CRegionSelectDlg dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("領域の選択"));
        auto image = picture({640, 480});
        dialog.setPicture(image.get(), 1);
        dialog.resize(data<QSize>("size"));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTEST(dialog.picker()->geometry(), "picker");
        QTEST(dialog.zoomOutButton()->geometry(), "zoomOut");
        QTEST(dialog.edit(CRegionSelectDlg::Bottom)->geometry(), "bottom");
        // Fitted to the client area it is shown with, not to the size it had before.
        CRegionSelect *p = dialog.picker();
        QVERIFY(p->scaledSize().width() == p->clientSize().width()
                || p->scaledSize().height() == p->clientSize().height());
        // The bars run over [-client, scaled] with a page of the client size.
        QVERIFY(dialog.zoomInButton()->isEnabled());
        dialog.zoomInButton()->click();
        QCOMPARE(p->horizontalScrollBar()->minimum(), -p->clientSize().width());
        QCOMPARE(p->horizontalScrollBar()->maximum(), p->scaledSize().width());
        QCOMPARE(p->verticalScrollBar()->pageStep(), p->clientSize().height());
        p->horizontalScrollBar()->setValue(0);
        QCOMPARE(p->offset().x(), 0);
        QCOMPARE(p->verticalScrollBar()->value(), p->offset().y());

        // What a screen reader announces.
        const QStringList names{"OK", "キャンセル", "拡大", "縮小", "左", "上", "右", "下"};
        QList<QWidget *> controls{dialog.okButton(), dialog.cancelButton(),
                                  dialog.zoomInButton(), dialog.zoomOutButton()};
        for (int e = 0; e < CRegionSelectDlg::EdgeCount; ++e)
            controls << dialog.edit(CRegionSelectDlg::Edge(e));
        controls << p->viewport();
        for (int i = 0; i < controls.size(); ++i)
            QCOMPARE(QAccessible::queryAccessibleInterface(controls[i])->text(QAccessible::Name),
                     i < names.size() ? names[i] : QStringLiteral("領域"));

        QTimer::singleShot(0, dialog.cancelButton(), &QPushButton::click);
        QCOMPARE(dialog.run(), CRegionSelectDlg::IdCancel);
        QTimer::singleShot(0, dialog.okButton(), &QPushButton::click);
        QCOMPARE(dialog.run(), CRegionSelectDlg::IdOk);
    }
};

QTEST_MAIN(TestRegionSelect)
#include "tst_regionselect.moc"
