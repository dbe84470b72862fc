// Rows of the tables in data/ as Qt Test data.
#pragma once

#include <QtTest>

namespace vorn::test {

// One column "row": the cells after the kind of every line of `file` whose first cell is `kind`,
// with \t and \n standing for a tab and a line break, named by their first cell.
inline void addRows(const char *file, const QString &kind)
{
    QTest::addColumn<QStringList>("row");
    QFile table(QStringLiteral(VORN_APP_TEST_DATA "/") + QLatin1String(file));
    QVERIFY(table.open(QIODevice::ReadOnly | QIODevice::Text));
    for (const QString &line : QString::fromUtf8(table.readAll()).split(u'\n', Qt::SkipEmptyParts)) {
        QStringList cells = line.split(u'\t');
        for (QString &cell : cells)
            cell.replace(QStringLiteral("\\t"), QStringLiteral("\t")).replace(QStringLiteral("\\n"), QStringLiteral("\n"));
        if (cells.takeFirst() == kind)
            QTest::newRow(qPrintable(cells[0])) << cells;
    }
}

// Rows named by their tags only: the test reads QTest::currentDataTag().
inline void addTags(std::initializer_list<const char *> tags)
{
    QTest::addColumn<int>("tag");
    for (const char *tag : tags)
        QTest::newRow(tag) << 0;
}

// The numbers of a cell, "1 2 3".
inline QList<int> numbers(const QString &cell)
{
    QList<int> values;
    for (const QString &n : cell.split(u' ', Qt::SkipEmptyParts))
        values << n.toInt();
    return values;
}

} // namespace vorn::test
