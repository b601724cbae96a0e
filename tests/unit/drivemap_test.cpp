#include "platform/drivemap.h"
#include "platform/sitecfg.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace rh;

TEST(DriveMap, MapsDrivesAndSharesByWholeComponents)
{
    DriveMap m;
    m.add(QStringLiteral("c:"), QStringLiteral("/srv/c/"));
    m.add(QStringLiteral("\\\\fs\\share"), QStringLiteral("/mnt/share"));
    m.add(QStringLiteral("\\\\fs\\share\\deep"), QStringLiteral("/mnt/deep"));
    EXPECT_EQ(m.toNative(QStringLiteral("C:\\Src\\a b\\x.vbp")), QStringLiteral("/srv/c/Src/a b/x.vbp"));
    EXPECT_EQ(m.toNative(QStringLiteral("\\\\FS\\Share\\프로그램셋업\\a.exe")), QStringLiteral("/mnt/share/프로그램셋업/a.exe"));
    EXPECT_EQ(m.toNative(QStringLiteral("\\\\fs\\share\\deep\\x")), QStringLiteral("/mnt/deep/x"));
    EXPECT_EQ(m.toNative(QStringLiteral("/already/native")), QStringLiteral("/already/native"));
    EXPECT_EQ(m.toNative(QStringLiteral("rel\\name.exe")), QStringLiteral("rel/name.exe"));

    // "\\fs\shareX" is not under "\\fs\share"; unmapped places are errors.
    for (const char* p : {"\\\\fs\\shareX\\a", "S:\\Codesigning", "\\\\other\\share\\a"}) {
        QString err;
        EXPECT_TRUE(m.toNative(QString::fromLatin1(p), &err).isEmpty()) << p;
        EXPECT_FALSE(err.isEmpty()) << p;
    }
}

TEST(SiteConfig, ReadsValuesAndDrivesOverDefaults)
{
    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("site.ini")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[Servers]\nDBPort=13306\nFileServerHost=파일서버\n[Ftp]\nPort=abc\n"
            "[Database]\nCharSet=ansi-bytes\n"
            "[Drives]\nS:=drives/S\n\\\\파일서버=/mnt/fs\n");
    f.close();
    const SiteConfig c = SiteConfig::load(f.fileName());
    EXPECT_EQ(c.dbPort, 13306);
    EXPECT_EQ(c.ftpPort, 21); // not a number: the default stays
    EXPECT_EQ(c.fileServerHost, QStringLiteral("파일서버"));
    EXPECT_EQ(c.ftpUser, SiteConfig().ftpUser);
    EXPECT_EQ(c.dbCharSet, QStringLiteral("ansi-bytes"));
    ASSERT_EQ(c.driveMap.size(), 2);
    EXPECT_EQ(c.driveMap[0].second, dir.path() + QStringLiteral("/drives/S"));
    EXPECT_EQ(c.driveMap[1].first, QStringLiteral("\\\\파일서버"));
}
