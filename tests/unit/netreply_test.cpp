#include "net/ftpreply.h"

#include <gtest/gtest.h>

using namespace rh;

TEST(FtpReply, PaddedTextLineOfAMultiLineReplyIsNotFinal)
{
    // The server pads a text line that starts with digits; trimming it would
    // make "150 ..." look like a reply of its own and shift every later one.
    const QByteArray text = "230-Welcome\r\n 150 users online\r\n230 Logged in.  \r\n350 Ready\r\n";
    EXPECT_EQ(finalReplyLines(text), (QList<QByteArray>{"230 Logged in.", "350 Ready"}));
    EXPECT_FALSE(isFinalReply(" 150 users online"));
    EXPECT_FALSE(isFinalReply("150-Opening"));
    EXPECT_TRUE(isFinalReply("150"));
    // A line ends at LF, as curl reads it; a stray CR never reaches a message.
    EXPECT_EQ(finalReplyLines("220 Ready\r/\r\n"), QList<QByteArray>{"220 Ready /"});
}

TEST(FtpReply, SizeThatDoesNotFitIsUnknownNotZero)
{
    FtpFileInfo info;
    ASSERT_TRUE(findInListing("-rw-r--r-- 1 o g 99999999999999999999 Jan  1  2020 a.exe\r\n", "a.exe", &info));
    EXPECT_TRUE(info.exists);
    EXPECT_EQ(info.size, -1);
    ASSERT_TRUE(findInListing("01-01-20  10:00AM  99999999999999999999 a.exe\r\n", "a.exe", &info));
    EXPECT_EQ(info.size, -1);
    ASSERT_TRUE(parseMlstFacts(" type=file;size=99999999999999999999; /a.exe", &info));
    EXPECT_TRUE(info.exists);
    EXPECT_EQ(info.size, -1);
}

