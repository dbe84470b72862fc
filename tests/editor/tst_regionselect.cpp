// The region picker: fitting and zoom, conversions, drags and clamping, what is drawn, the
// dialog's edits and layout, and pictures or windows of no size.
#include "editor/regionselect.h"
#include "editor/regionselectdlg.h"
#include "tablerows.h"

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
using namespace vorn::test;

using Probes = QList<QPair<QPoint, QRgb>>;  // client pixel and the colour expected there
using Corners = QList<int>;                 // left, top, right, bottom

namespace {

constexpr int32_t Max = std::numeric_limits<int32_t>::max();
constexpr int32_t Min = std::numeric_limits<int32_t>::min();
constexpr QRgb Fill = 0xff102030;      // the test pictures' colour
constexpr QRgb Inverted = 0xffefdfcf;  // Fill under the exclusive-or rubber band
constexpr QRgb Red = 0xffff0000;

Corners corners(const Rect &r) { return {r.left, r.top, r.right, r.bottom}; }
Rect rect(const Corners &c) { return {c[0], c[1], c[2], c[3]}; }

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
    QTest::mousePress(p.viewport(), Qt::LeftButton, {}, from);
    if (to != from)
        QTest::mouseMove(p.viewport(), to);
    QTest::mouseRelease(p.viewport(), Qt::LeftButton, {}, to);
}

void checkProbes(QWidget *w, const Probes &probes)
{
    const QImage image = w->grab().toImage();
    for (const auto &[at, colour] : probes)
        QVERIFY2(image.pixel(at) == colour,
                 qPrintable(QStringLiteral("(%1, %2): %3 instead of %4").arg(at.x()).arg(at.y())
                                .arg(image.pixel(at), 8, 16).arg(colour, 8, 16)));
}

// The current row of data/regionselect.tsv, read cell by cell after its kind and name.
class Cells {
public:
    Cells() : m_cells(*static_cast<QStringList *>(QTest::qData("row", qMetaTypeId<QStringList>()))) {}
    QString text() { return m_cells.value(m_at++); }
    QList<int> ints()
    {
        QList<int> values;
        for (const QString &n : text().split(u' '))
            values << (n == QStringLiteral("max") ? Max : n == QStringLiteral("min") ? Min : n.toInt());
        return values;
    }
    int integer() { return ints().value(0); }
    double real() { return text().toDouble(); }
    QPoint point() { return pointOf(ints()); }
    QSize size() { const QPoint p = point(); return {p.x(), p.y()}; }
    QRect rectangle() { const QList<int> v = ints(); return QRect(v.value(0), v.value(1), v.value(2), v.value(3)); }
    // "x y colour, ...": client pixels and their colours by name.
    Probes probes()
    {
        const QMap<QString, QRgb> colours{{"fill", Fill}, {"grey", 0xff333333}, {"blue", 0xff0000ff},
                                          {"red", Red}, {"join", 0xff555555}};
        Probes probes;
        for (const QString &probe : text().split(QStringLiteral(", ")))
            probes << qMakePair(pointOf({probe.section(u' ', 0, 0).toInt(), probe.section(u' ', 1, 1).toInt()}),
                                colours.value(probe.section(u' ', 2)));
        return probes;
    }

private:
    static QPoint pointOf(const QList<int> &v) { return {v.value(0), v.value(1)}; }
    QStringList m_cells;
    int m_at = 2;
};

} // namespace

class TestRegionSelect : public QObject
{
    Q_OBJECT

private slots:
    void view_data() { addRows("regionselect.tsv", {QStringLiteral("view")}); }
    void view()
    {
        Cells row;
        auto image = picture(row.size());
        const QSize client = row.size();
        const int zoomSteps = row.integer();
        auto p = shownPicker(client, image.get());
        QVERIFY(p);
        QCOMPARE(p->clientSize(), client);
        for (int i = 0; i < std::abs(zoomSteps); ++i)
            QVERIFY(zoomSteps > 0 ? p->zoomIn() : p->zoomOut());
        QCOMPARE(p->zoom(), row.real());
        QCOMPARE(p->scaledSize(), row.size());
        QCOMPARE(p->offset(), row.point());
        const QPoint clientPoint = row.point();
        QCOMPARE(p->clientToPicture(clientPoint), row.point());
        const QPoint picturePoint = row.point();
        QCOMPARE(p->pictureToClient(picturePoint), row.point());
    }

    // Zoom steps until one is refused.
    void zoomLimits_data() { addRows("regionselect.tsv", {QStringLiteral("zoom")}); }
    void zoomLimits()
    {
        Cells row;
        const QSize pictureSize = row.size();
        const bool in = row.integer() != 0;
        const int steps = row.integer();
        auto image = picture(pictureSize);
        auto p = shownPicker(pictureSize, image.get());
        QVERIFY(p);
        QCOMPARE(p->zoom(), 1.0);
        int taken = 0;
        while (taken < 20 && (in ? p->zoomIn() : p->zoomOut()))
            ++taken;
        QCOMPARE(taken, steps);
        QCOMPARE(p->zoom(), std::pow(in ? 2.0 : 0.5, steps));
    }

    // Drags, clamped to the picture or not.
    void drag_data() { addRows("regionselect.tsv", {QStringLiteral("drag")}); }
    void drag()
    {
        Cells row;
        auto image = picture({100, 50});
        const bool hasPicture = row.integer() != 0;
        auto p = shownPicker({200, 100}, hasPicture ? image.get() : nullptr, row.integer());
        QVERIFY(p);
        QSignalSpy picked(p.get(), &CRegionSelect::selectionPicked);
        const QPoint from = row.point();
        ::drag(*p, from, row.point());
        QVERIFY(!p->isDragging());
        const Corners expected = row.ints();
        QCOMPARE(corners(p->selection()), expected);
        QCOMPARE(picked.size(), 1);
        QCOMPARE(corners(picked.at(0).at(0).value<Rect>()), expected);
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
        checkProbes(v, {{{20, 10}, Inverted}, {{40, 10}, Inverted}, {{60, 30}, Inverted},
                        {{61, 31}, Fill}, {{40, 20}, Fill}, {{40, 11}, Fill}, {{21, 20}, Fill}});
        QTest::mouseMove(v, {30, 20});
        checkProbes(v, {{{29, 19}, Inverted}, {{60, 30}, Fill}, {{40, 10}, Fill}});
        QTest::mouseRelease(v, Qt::RightButton, {}, {30, 20});  // another button ends nothing
        QVERIFY(p->isDragging());
        QTest::mouseRelease(v, Qt::LeftButton, {}, {30, 20});
        checkProbes(v, {{{29, 15}, Fill}, {{25, 19}, Fill}, {{20, 10}, Red}});
    }

    // A 100 x 100 picture at zoom 1 in a 200 x 100 client, starting at client x 50.
    void drawing_data() { addRows("regionselect.tsv", {QStringLiteral("drawing")}); }
    void drawing()
    {
        Cells row;
        auto image = picture({100, 100});
        auto p = shownPicker({200, 100}, image.get());
        QVERIFY(p);
        p->setReference(rect(row.ints()));
        p->setSelection(rect(row.ints()));
        checkProbes(p->viewport(), row.probes());
    }

    // Typing moves the red rectangle as typed; the dialog orders the corners when read back.
    void typing_data() { addRows("regionselect.tsv", {QStringLiteral("typing")}); }
    void typing()
    {
        Cells row;
        const int edge = row.integer();
        const QString text = row.text();
        const Corners shown = row.ints(), read = row.ints();
        const QPoint redAt = row.point();
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
        CRegionSelect *p = dialog.picker();
        QCOMPARE(corners(p->selection()), shown);
        QCOMPARE(corners(dialog.selection()), read);
        checkProbes(p->viewport(), {{p->pictureToClient(redAt), Red},
                                    {p->pictureToClient({9, 9}), Fill}});
        // A drag writes the four edits, ordered.
        ::drag(*p, p->pictureToClient({30, 20}), p->pictureToClient({5, 2}));
        const Corners picked = corners(p->selection());
        QVERIFY(picked[0] < picked[2] && picked[1] < picked[3]);
        QCOMPARE(e->text(), QString::number(picked[edge]));
        QCOMPARE(corners(dialog.selection()), picked);
    }

    // Nothing divides by a zero zoom or a zero size, and a picture that cannot be shown is
    // reported once while the view stays usable.
    void safety_data() { addRows("regionselect.tsv", {QStringLiteral("safety")}); }
    void safety()
    {
        Cells row;
        const int kind = row.integer();  // 0 none, 1 of zero size, 2 24-bit, 3 8-bit
        const QSize client = row.size();
        const int expectedErrors = row.integer();
        ImageBuffer empty;
        ImagePtr image = kind == 2 ? picture({100, 50}) : CreateImageBuffer(100, 50, 8);
        QWidget window;
        window.resize(300, 200);
        auto *p = new CRegionSelect(&window);
        p->resize(client);
        QStringList errors;
        p->setErrorHandler([&](const QString &text) { errors << text; });
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        p->setPicture(kind == 0 ? nullptr : kind == 1 ? &empty : image.get(), 1);
        p->fit();
        for (int i = 0; i < 40; ++i)
            p->zoomIn(), p->zoomOut(), p->zoomOut();
        QVERIFY(std::isfinite(p->zoom()) && p->zoom() > 0.0);
        ::drag(*p, {5, 5}, {150, 90});
        p->viewport()->grab();
        QTRY_COMPARE(errors.size(), expectedErrors);
        QVERIFY(errors.isEmpty() || errors[0] == QStringLiteral("CreateDIBitmap failed."));
    }

    void dialog_data() { addRows("regionselect.tsv", {QStringLiteral("dialog")}); }
    void dialog()
    {
        Cells row;
        CRegionSelectDlg dialog;
        auto image = picture({640, 480});
        dialog.setPicture(image.get(), 1);
        dialog.resize(row.size());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        CRegionSelect *p = dialog.picker();
        QCOMPARE(p->geometry(), row.rectangle());
        QCOMPARE(dialog.zoomOutButton()->geometry(), row.rectangle());
        QCOMPARE((QList<QRect>{dialog.edit(CRegionSelectDlg::Left)->geometry(), dialog.edit(CRegionSelectDlg::Bottom)->geometry()}),
                 (QList<QRect>{row.rectangle(), row.rectangle()}));
        // Fitted to the client area it is shown with, not to the size it had before.
        QVERIFY(p->scaledSize().width() == p->clientSize().width()
                || p->scaledSize().height() == p->clientSize().height());
        // The bars run over [-client, scaled] with a page of the client size; every position
        // is taken, 0 included.
        dialog.zoomInButton()->click();
        QCOMPARE(p->zoom(), 2 * std::min(p->clientSize().width() / 640.0,
                                         p->clientSize().height() / 480.0));
        QScrollBar *h = p->horizontalScrollBar(), *v = p->verticalScrollBar();
        QCOMPARE(QList<int>({h->minimum(), h->maximum(), v->pageStep()}),
                 QList<int>({-p->clientSize().width(), p->scaledSize().width(),
                             p->clientSize().height()}));
        h->setValue(0);
        QCOMPARE(p->offset(), QPoint(0, v->value()));

        // What a screen reader announces.
        QList<QWidget *> controls{dialog.okButton(), dialog.cancelButton(), dialog.zoomInButton(), dialog.zoomOutButton()};
        for (int e = 0; e < CRegionSelectDlg::EdgeCount; ++e)
            controls << dialog.edit(CRegionSelectDlg::Edge(e));
        QStringList spoken;
        for (QWidget *w : controls << p->viewport())
            spoken << QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
        QCOMPARE(spoken, QStringList({"OK", "キャンセル", "拡大", "縮小", "左", "上", "右", "下", "領域"}));

        QTimer::singleShot(0, dialog.cancelButton(), &QPushButton::click);
        QCOMPARE(dialog.run(), CRegionSelectDlg::IdCancel);
        QTimer::singleShot(0, dialog.okButton(), &QPushButton::click);
        QCOMPARE(dialog.run(), CRegionSelectDlg::IdOk);
    }
};

QTEST_MAIN(TestRegionSelect)
#include "tst_regionselect.moc"
