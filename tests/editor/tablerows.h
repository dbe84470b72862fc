// Rows of a tab-separated table in data/ as Qt Test data.
#pragma once

#include <QtTest>

namespace vorn::test {

// One column "row": the cells of every line of `file` whose first cell is one of `kinds`, with
// \t and \n standing for a tab and a line break, named by the `nameCells` cells after the kind.
inline void addRows(const char *file, const QStringList &kinds, int nameCells = 1)
{
    QTest::addColumn<QStringList>("row");
    QFile table(QStringLiteral(VORN_EDITOR_TEST_DATA "/") + QLatin1String(file));
    QVERIFY(table.open(QIODevice::ReadOnly | QIODevice::Text));
    for (const QString &line : QString::fromUtf8(table.readAll()).split(u'\n', Qt::SkipEmptyParts)) {
        QStringList row = line.split(u'\t');
        for (QString &cell : row)
            cell.replace(QStringLiteral("\\t"), QStringLiteral("\t")).replace(QStringLiteral("\\n"), QStringLiteral("\n"));
        if (kinds.contains(row[0]))
            QTest::newRow(qPrintable(row.mid(1, nameCells).join(u' '))) << row;
    }
}

} // namespace vorn::test
