#include "platform/codepage.h"

#include <gtest/gtest.h>

using namespace rh;

TEST(CodePage, KoreanRoundTripsThroughCp949)
{
    const QString text = QStringLiteral("프로그램셋업 ledger_2.exe");
    QByteArray bytes = toAnsi(text);
    // "프" is 0xC7 0xC1 in CP949: two bytes per Hangul syllable.
    EXPECT_EQ(bytes.left(2), QByteArray("\xC7\xC1"));
    EXPECT_EQ(bytes.size(), 6 * 2 + 13);
    EXPECT_EQ(fromAnsi(bytes), text);
}

TEST(CodePage, InvalidBytesDecodeWithoutFailing)
{
    QByteArray bad("ab\xFF\x80z", 5);
    EXPECT_FALSE(isValidAnsi(bad));
    QString s = fromAnsi(bad);
    EXPECT_TRUE(s.startsWith(QStringLiteral("ab")));
    EXPECT_TRUE(s.endsWith(QLatin1Char('z')));
    // A lead byte cut off at the end of the input.
    EXPECT_EQ(fromAnsi(QByteArray("x\xC7")), QStringLiteral("x\uFFFD"));
    // A pair glibc consumes and still refuses: the input ends there.
    EXPECT_EQ(fromAnsi(QByteArray("x\xA2\xE8")), QStringLiteral("x\uFFFD"));
}

TEST(CodePage, UnknownCodePageKeepsCurrent)
{
    EXPECT_FALSE(setAnsiCodePage(QStringLiteral("NO-SUCH-CP")));
    EXPECT_EQ(ansiCodePageName(), QStringLiteral("CP949"));
    EXPECT_EQ(toAnsi(QStringLiteral("\U0001F600")), QByteArray("?"));
}
