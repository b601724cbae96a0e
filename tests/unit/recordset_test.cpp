// Recordset: cursor, look-ups and the errors callers rely on.
#include "db/recordset.h"

#include "platform/errors.h"

#include <gtest/gtest.h>

#include <functional>

using rh::Recordset;
using rh::RhError;

namespace {

int errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const RhError& e) {
        return e.number();
    }
    return 0;
}

Recordset twoRows()
{
    Recordset rs;
    rs.appendField(QStringLiteral("a.name"), 10);
    rs.appendField(QStringLiteral("Code"), 11);
    rs.open();
    rs.addRecord({QStringLiteral("x"), QStringLiteral("1")});
    rs.addRecord({QStringLiteral("y")}); // short record: the missing cell is empty
    return rs;
}

TEST(Recordset, CursorWalksRowsAndStopsAtTheEnd)
{
    Recordset rs = twoRows();
    EXPECT_EQ(rs.state(), Recordset::adStateOpen);
    EXPECT_EQ(rs.recordCount(), 2);
    EXPECT_FALSE(rs.isEOF());
    EXPECT_EQ(rs.value(0).toStdString(), "x");
    rs.moveNext();
    EXPECT_EQ(rs.value(QStringLiteral("code")).toStdString(), "");
    rs.moveNext();
    EXPECT_TRUE(rs.isEOF());
    EXPECT_EQ(errorOf([&] { rs.value(0); }), 3021);
    EXPECT_EQ(errorOf([&] { rs.moveNext(); }), 3021);
    rs.moveFirst();
    EXPECT_EQ(rs.value(QStringLiteral("A.NAME")).toStdString(), "x");
}

TEST(Recordset, UnknownColumnsEmptyAndClosedSetsRaise)
{
    Recordset rs = twoRows();
    EXPECT_EQ(rs.fieldIndex(QStringLiteral("name")), -1); // qualified names match whole
    EXPECT_EQ(errorOf([&] { rs.value(QStringLiteral("name")); }), 3265);
    EXPECT_EQ(errorOf([&] { rs.value(2); }), 3265);
    EXPECT_EQ(rs.field(1).definedSize, 11);

    Recordset empty;
    empty.appendField(QStringLiteral("id"), 11);
    empty.open();
    EXPECT_TRUE(empty.isEOF());
    EXPECT_EQ(errorOf([&] { empty.value(0); }), 3021);

    rs.close();
    EXPECT_EQ(rs.state(), Recordset::adStateClosed);
    EXPECT_EQ(errorOf([&] { rs.recordCount(); }), 3704);
    EXPECT_EQ(errorOf([&] { rs.close(); }), 3704);
}

} // namespace
