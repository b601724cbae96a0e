#include "platform/errors.h"
#include "util/stringbuilder.h"

#include <gtest/gtest.h>

#include <functional>

using namespace rh;

namespace {

int errorNumberOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const RhError& e) {
        return e.number();
    }
    return 0;
}

} // namespace

TEST(StringBuilder, NewAndClearedBuildersAreEmpty)
{
    cStringBuilder sb;
    EXPECT_EQ(sb.toString(), QString());
    EXPECT_EQ(sb.Length(), 0);
    EXPECT_EQ(sb.Capacity(), 0);
    EXPECT_EQ(sb.ChunkSize(), 8192);

    sb.setChunkSize(100);
    sb.Append(QStringLiteral("텍스트"));
    sb.Clear();
    EXPECT_EQ(sb.toString(), QString());
    EXPECT_EQ(sb.Capacity(), 0);
    EXPECT_EQ(sb.ChunkSize(), 100) << "Clear keeps the chunk size";
}

TEST(StringBuilder, GrowsInWholeChunks)
{
    cStringBuilder sb;
    const QString text(8193, QLatin1Char('x'));
    sb.Append(text);
    EXPECT_EQ(sb.Length(), 8193);
    EXPECT_EQ(sb.Capacity(), 16384);
    EXPECT_EQ(sb.toString(), text);

    cStringBuilder small;
    small.setChunkSize(10);
    small.Append(QStringLiteral("0123456789"));
    EXPECT_EQ(small.Capacity(), 10) << "an exact fit needs no further chunk";
    small.AppendByVal(QStringLiteral("a"));
    small.AppendNL(QStringLiteral("bc"));
    EXPECT_EQ(small.Capacity(), 20);
    EXPECT_EQ(small.toString(), QStringLiteral("0123456789abc\r\n"));
    small.Append(QString());
    EXPECT_EQ(small.Length(), 15);
}

TEST(StringBuilder, TheStringReplacesContent)
{
    cStringBuilder sb;
    sb.setChunkSize(4);
    sb.setTheString(QStringLiteral("abcdefghij"));
    EXPECT_EQ(sb.toString(), QStringLiteral("abcdefghij"));
    EXPECT_EQ(sb.Capacity(), 12);
    sb.setTheString(QStringLiteral("xy"));
    EXPECT_EQ(sb.toString(), QStringLiteral("xy"));
    EXPECT_EQ(sb.Capacity(), 12) << "a shorter value keeps the buffer";
    sb.setTheString(QString());
    EXPECT_EQ(sb.Length(), 0);
    EXPECT_EQ(sb.Capacity(), 0) << "the empty value gives the buffer back";
}

TEST(StringBuilder, InsertPositionsAndRange)
{
    cStringBuilder sb;
    sb.Append(QStringLiteral("middle"));
    sb.Insert(0, QStringLiteral("<"));
    sb.InsertByVal(sb.Length(), QStringLiteral(">"));
    sb.Insert(4, QStringLiteral("--"));
    EXPECT_EQ(sb.toString(), QStringLiteral("<mid--dle>"));

    const int length = sb.Length();
    EXPECT_EQ(errorNumberOf([&] { sb.Insert(length + 1, QStringLiteral("x")); }),
              err::SubscriptOutOfRange);
    EXPECT_EQ(errorNumberOf([&] { sb.Insert(-1, QStringLiteral("x")); }),
              err::SubscriptOutOfRange);
    EXPECT_EQ(sb.toString(), QStringLiteral("<mid--dle>")) << "a refused insert changes nothing";

    cStringBuilder empty;
    empty.Insert(0, QStringLiteral("first"));
    EXPECT_EQ(empty.toString(), QStringLiteral("first"));
}

TEST(StringBuilder, InsertLongerThanAChunkGrowsByEnoughChunks)
{
    cStringBuilder sb;
    sb.Append(QString(8190, QLatin1Char('a')));
    ASSERT_EQ(sb.Capacity(), 8192);
    const QString big(20000, QLatin1Char('b'));
    sb.Insert(10, big);
    EXPECT_EQ(sb.Length(), 28190);
    EXPECT_EQ(sb.Capacity(), 4 * 8192);
    const QString s = sb.toString();
    EXPECT_EQ(s.left(10), QString(10, QLatin1Char('a')));
    EXPECT_EQ(s.mid(10, 20000), big);
    EXPECT_EQ(s.mid(20010), QString(8180, QLatin1Char('a')));
}

TEST(StringBuilder, RemoveKeepsCapacityAndHeapMinimizeGivesItBack)
{
    cStringBuilder sb;
    sb.Append(QString(30000, QLatin1Char('z')));
    ASSERT_EQ(sb.Capacity(), 32768);
    sb.Remove(0, sb.Length());
    EXPECT_EQ(sb.toString(), QString());
    EXPECT_EQ(sb.Capacity(), 32768);
    sb.HeapMinimize();
    EXPECT_EQ(sb.Capacity(), 8192) << "exactly one chunk of spare room may remain";

    cStringBuilder part;
    part.Append(QString(30000, QLatin1Char('y')));
    part.Remove(10000, 20000);
    EXPECT_EQ(part.Length(), 10000);
    part.HeapMinimize();
    EXPECT_EQ(part.Capacity(), 16384);
    EXPECT_EQ(part.toString(), QString(10000, QLatin1Char('y')));
    part.Append(QStringLiteral("!"));
    EXPECT_EQ(part.toString().right(2), QStringLiteral("y!"));
}

TEST(StringBuilder, RemoveMiddleAndOutOfRange)
{
    cStringBuilder sb;
    sb.Append(QStringLiteral("0123456789"));
    sb.Remove(2, 3);
    EXPECT_EQ(sb.toString(), QStringLiteral("0156789"));
    sb.Remove(7, 0);
    EXPECT_EQ(sb.toString(), QStringLiteral("0156789"));

    for (auto [index, len] : std::initializer_list<std::pair<int, int>>{{8, 0}, {5, 3}, {-1, 1}, {2, -1}}) {
        EXPECT_EQ(errorNumberOf([&] { sb.Remove(index, len); }), err::SubscriptOutOfRange)
            << index << "," << len;
    }
    EXPECT_EQ(sb.toString(), QStringLiteral("0156789"));
}

TEST(StringBuilder, FindSearchesOnlyTheContent)
{
    cStringBuilder sb;
    sb.Append(QStringLiteral("abcABC"));
    EXPECT_EQ(sb.Find(QStringLiteral("C")), 6) << "a match at the last character counts";
    EXPECT_EQ(sb.Find(QStringLiteral("c")), 3);
    EXPECT_EQ(sb.Find(QStringLiteral("c"), 4), 0);
    EXPECT_EQ(sb.Find(QStringLiteral("c"), 4, CompareMode::Text), 6);
    EXPECT_EQ(sb.Find(QStringLiteral("b"), -5), 2);
    EXPECT_EQ(sb.Find(QStringLiteral(" ")), 0) << "the spare room is not content";
    EXPECT_EQ(sb.Find(QStringLiteral("C ")), 0) << "a match running into the spare room";

    sb.Remove(0, sb.Length());
    EXPECT_EQ(sb.Find(QStringLiteral("abc")), 0) << "removed text is no longer found";
}

TEST(StringBuilder, ChunkSizeLimits)
{
    cStringBuilder sb;
    EXPECT_EQ(errorNumberOf([&] { sb.setChunkSize(1 << 30); }), err::Overflow);
    EXPECT_EQ(errorNumberOf([&] { sb.setChunkSize(0); }), err::InvalidProcedureCall);
    EXPECT_EQ(errorNumberOf([&] { sb.setChunkSize(-3); }), err::InvalidProcedureCall);
    EXPECT_EQ(sb.ChunkSize(), 8192);
    sb.setChunkSize((1 << 30) - 1);
    EXPECT_EQ(sb.ChunkSize(), (1 << 30) - 1);
}
