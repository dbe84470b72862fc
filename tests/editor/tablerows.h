// Rows of a tab-separated table in data/ as Qt Test data.
#pragma once

#include "support/qthelpers.h"

namespace vorn::test {

// Every line of `file` whose first cell is one of `kinds`, the kind included, named by the
// `nameCells` cells after it.
inline void addRows(const char *file, const QStringList &kinds, int nameCells = 1)
{
    addTableRows(QStringLiteral(VORN_EDITOR_TEST_DATA "/") + QLatin1String(file), kinds, nameCells, false);
}

} // namespace vorn::test
