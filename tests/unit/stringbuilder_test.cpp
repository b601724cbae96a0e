// cStringBuilder by its content: what it holds after each edit, whatever room
// it keeps for growth, and the edits it refuses.
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

TEST(StringBuilder, AppendInsertAndReplaceAcrossChunkBorders)
{
    cStringBuilder sb;
    EXPECT_EQ(sb.toString(), QString());
    sb.setChunkSize(10);
    sb.Append(QStringLiteral("0123456789")); // an exact fit
    sb.AppendByVal(QStringLiteral("a"));
    sb.AppendNL(QStringLiteral("bc"));
    sb.Append(QString());
    EXPECT_EQ(sb.toString(), QStringLiteral("0123456789abc\r\n"));
    EXPECT_EQ(sb.Length(), 15);

    // Longer than several chunks, in the middle.
    const QString big(25, QLatin1Char('b'));
    sb.Insert(3, big);
    sb.Insert(0, QStringLiteral("<"));
    sb.InsertByVal(sb.Length(), QStringLiteral(">"));
    EXPECT_EQ(sb.toString(), QStringLiteral("<012") + big + QStringLiteral("3456789abc\r\n>"));

    sb.setTheString(QStringLiteral("xy"));
    EXPECT_EQ(sb.toString(), QStringLiteral("xy"));
    sb.setTheString(QString());
    EXPECT_EQ(sb.Length(), 0);
    sb.Append(QStringLiteral("텍스트"));
    sb.Clear();
    EXPECT_EQ(sb.toString(), QString());
    EXPECT_EQ(sb.ChunkSize(), 10) << "Clear keeps the chunk size";

    cStringBuilder large; // the default chunk, 8192
    const QString text(20000, QLatin1Char('x'));
    large.Append(text);
    large.Insert(10, QStringLiteral("!"));
    EXPECT_EQ(large.toString(), text.left(10) + QLatin1Char('!') + text.mid(10));
}

TEST(StringBuilder, RemoveAndHeapMinimizeKeepTheContent)
{
    cStringBuilder sb;
    sb.Append(QStringLiteral("0123456789"));
    sb.Remove(2, 3);
    EXPECT_EQ(sb.toString(), QStringLiteral("0156789"));
    sb.Remove(7, 0);
    EXPECT_EQ(sb.toString(), QStringLiteral("0156789"));

    cStringBuilder part;
    part.Append(QString(30000, QLatin1Char('y')));
    part.Remove(10000, 20000);
    part.HeapMinimize();
    part.Append(QStringLiteral("!"));
    EXPECT_EQ(part.toString(), QString(10000, QLatin1Char('y')) + QLatin1Char('!'));
    part.Remove(0, part.Length());
    part.HeapMinimize();
    EXPECT_EQ(part.toString(), QString());
}

TEST(StringBuilder, RefusedEditsRaiseAndChangeNothing)
{
    cStringBuilder sb;
    sb.Append(QStringLiteral("0156789"));
    const int length = sb.Length();
    EXPECT_EQ(errorNumberOf([&] { sb.Insert(length + 1, QStringLiteral("x")); }), err::SubscriptOutOfRange);
    EXPECT_EQ(errorNumberOf([&] { sb.Insert(-1, QStringLiteral("x")); }), err::SubscriptOutOfRange);
    for (auto [index, len] : std::initializer_list<std::pair<int, int>>{{8, 0}, {5, 3}, {-1, 1}, {2, -1}})
        EXPECT_EQ(errorNumberOf([&] { sb.Remove(index, len); }), err::SubscriptOutOfRange) << index << "," << len;
    EXPECT_EQ(sb.toString(), QStringLiteral("0156789"));

    EXPECT_EQ(errorNumberOf([&] { sb.setChunkSize(1 << 30); }), err::Overflow);
    EXPECT_EQ(errorNumberOf([&] { sb.setChunkSize(0); }), err::InvalidProcedureCall);
    EXPECT_EQ(errorNumberOf([&] { sb.setChunkSize(-3); }), err::InvalidProcedureCall);
    EXPECT_EQ(sb.ChunkSize(), 8192);
    sb.setChunkSize((1 << 30) - 1);
    EXPECT_EQ(sb.ChunkSize(), (1 << 30) - 1);
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
