#pragma once

#include <QTest>

namespace zendral::help::test
{

// One row of a QtTest data table, on one line.
template <typename... Values> void Row(const char* name, const Values&... values)
{
    (QTest::newRow(name) << ... << values);
}

} // namespace zendral::help::test
