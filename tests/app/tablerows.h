// Rows of the tables in data/ as Qt Test data.
#pragma once

#include "support/qthelpers.h"

namespace vorn::test {

// The cells after the kind of every line of `file` whose first cell is `kind`, named by their
// first cell.
inline void addRows(const char *file, const QString &kind)
{
    addTableRows(QStringLiteral(VORN_APP_TEST_DATA "/") + QLatin1String(file), {kind}, 1, true);
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
