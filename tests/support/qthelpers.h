// Qt Test helpers of the window and editor tests: rows of a table in a test's data/ folder, and
// widgets found as a screen reader finds them.
#pragma once

#include <QtTest>

namespace vorn::test {

// One column "row": the cells of every line of `path` whose first cell is one of `kinds`, with
// \t and \n standing for a tab and a line break, named by the `nameCells` cells after the kind;
// `dropKind` leaves the kind out of the row.
inline void addTableRows(const QString &path, const QStringList &kinds, int nameCells, bool dropKind)
{
    QTest::addColumn<QStringList>("row");
    QFile table(path);
    QVERIFY2(table.open(QIODevice::ReadOnly | QIODevice::Text), qPrintable(path));
    for (const QString &line : QString::fromUtf8(table.readAll()).split(u'\n', Qt::SkipEmptyParts)) {
        QStringList row = line.split(u'\t');
        for (QString &cell : row)
            cell.replace(QStringLiteral("\\t"), QStringLiteral("\t")).replace(QStringLiteral("\\n"), QStringLiteral("\n"));
        if (!kinds.contains(row[0]))
            continue;
        const QString name = row.mid(1, nameCells).join(u' ');
        if (dropKind)
            row.removeFirst();
        QTest::newRow(qPrintable(name)) << row;
    }
}

// The child of `parent` of type W that a screen reader calls `name`.
template <typename W>
W *named(const QWidget &parent, const QString &name)
{
    for (W *w : parent.findChildren<W *>())
        if (w->accessibleName() == name)
            return w;
    return nullptr;
}

} // namespace vorn::test
