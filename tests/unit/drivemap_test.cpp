#include "platform/drivemap.h"
#include "site/sitecfg.h"

#include <QDir>
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
    EXPECT_EQ(m.toNative(QStringLiteral("C:\\Src\\..\\Out\\.\\a.exe")), QStringLiteral("/srv/c/Out/a.exe"));

    // "\\fs\shareX" is not under "\\fs\share"; unmapped places are errors.
    for (const char* p : {"\\\\fs\\shareX\\a", "S:\\Codesigning", "\\\\other\\share\\a"}) {
        QString err;
        EXPECT_TRUE(m.toNative(QString::fromLatin1(p), &err).isEmpty()) << p;
        EXPECT_FALSE(err.isEmpty()) << p;
    }
}

TEST(DriveMap, NothingLandsOutsideTheMappedFolders)
{
    DriveMap m;
    m.add(QStringLiteral("C:"), QStringLiteral("/srv/c"));
    m.add(QStringLiteral("\\\\fileserver"), QStringLiteral("/mnt/fs"));
    m.add(QStringLiteral("\\\\fs\\share"), QStringLiteral("/mnt/share"));
    const struct {
        const char* path;
        const char* says;
    } cases[] = {
        {"\\\\fileserver\\..\\..\\tmp\\x", "경로가 매핑된 폴더(\\\\fileserver) 밖을 가리킵니다: "},
        {"C:\\Src\\..\\..\\etc\\passwd", "경로가 매핑된 폴더(C:) 밖을 가리킵니다: "},
        {"\\\\fs\\share\\a\\..\\..\\other\\x", "경로가 매핑된 폴더(\\\\fs\\share) 밖을 가리킵니다: "},
        {"Src\\a.exe", "드라이브가 없는 상대 경로는 사용할 수 없습니다: "},
        {"..\\a.exe", "드라이브가 없는 상대 경로는 사용할 수 없습니다: "},
    };
    for (const auto& c : cases) {
        QString err;
        EXPECT_EQ(m.toNative(QString::fromUtf8(c.path), &err), QString()) << c.path;
        EXPECT_EQ(err, QString::fromUtf8(c.says) + QString::fromUtf8(c.path));
    }
}

TEST(SiteConfig, BadValuesAreNamedByKeyAndKeepTheirDefaults)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("site.ini"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[Servers]\nDBPort=99999\nWebDBPort=0\nDBServerAddress=\n[Ftp]\nPort=abc\nPassword=s3cret\n"
            "[Database]\nReadTimeout=-5\n[Text]\nCodePage=CP-NOPE\n[Drives]\nQ=/tmp\nS:=drives/S\n");
    f.close();
    QStringList errors;
    const SiteConfig c = SiteConfig::load(path, &errors);
    const SiteConfig d;
    EXPECT_EQ(c.dbPort, d.dbPort);
    EXPECT_EQ(c.ftpPort, d.ftpPort);
    EXPECT_EQ(c.dbServerAddress, d.dbServerAddress);
    EXPECT_EQ(c.dbReadTimeoutSec, d.dbReadTimeoutSec);
    EXPECT_EQ(c.codePage, d.codePage);
    EXPECT_EQ(c.driveMap.size(), 1);
    const QString bad = QStringLiteral(" 값이 잘못되었습니다: ");
    EXPECT_EQ(errors, (QStringList{
                          QStringLiteral("site.ini [Servers] DBServerAddress") + bad + QStringLiteral("\"\" (서버 주소가 비어 있습니다)"),
                          QStringLiteral("site.ini [Servers] DBPort") + bad + QStringLiteral("\"99999\" (1부터 65535 사이의 숫자여야 합니다)"),
                          QStringLiteral("site.ini [Servers] WebDBPort") + bad + QStringLiteral("\"0\" (1부터 65535 사이의 숫자여야 합니다)"),
                          QStringLiteral("site.ini [Database] ReadTimeout") + bad + QStringLiteral("\"-5\" (1부터 3600 사이의 초 단위 숫자여야 합니다)"),
                          QStringLiteral("site.ini [Ftp] Port") + bad + QStringLiteral("\"abc\" (1부터 65535 사이의 숫자여야 합니다)"),
                          QStringLiteral("site.ini [Text] CodePage") + bad + QStringLiteral("\"CP-NOPE\" (알 수 없는 코드 페이지입니다)"),
                          QStringLiteral("site.ini [Drives] 줄이 잘못되었습니다: \"Q=/tmp\" (X:=폴더 또는 \\\\서버\\공유=폴더 형식이어야 합니다)"),
                      }));
    EXPECT_FALSE(errors.join(QLatin1Char('\n')).contains(QStringLiteral("s3cret")));

    // A site.ini that cannot be read is an error, not a silent set of defaults.
    QFile::remove(path);
    ASSERT_TRUE(QDir().mkpath(path));
    errors.clear();
    SiteConfig::load(path, &errors);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith(QStringLiteral("site.ini 파일을 읽을 수 없습니다: ") + path)) << errors[0].toStdString();
}

TEST(SiteConfig, ReadsValuesAndDrivesOverDefaults)
{
    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("site.ini")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[Servers]\nDBPort=13306\nFileServerHost=파일서버\n[Ftp]\nStallTimeout=5\n"
            "[Database]\nCharSet=ansi-bytes\n"
            "[Drives]\nS:=drives/S\n\\\\파일서버=/mnt/fs\nT:=:fs\n");
    f.close();
    const SiteConfig c = SiteConfig::load(f.fileName());
    EXPECT_EQ(c.dbPort, 13306);
    EXPECT_EQ(c.ftpStallTimeoutSec, 5);
    EXPECT_EQ(c.fileServerHost, QStringLiteral("파일서버"));
    EXPECT_EQ(c.ftpUser, SiteConfig().ftpUser);
    EXPECT_EQ(c.dbCharSet, QStringLiteral("ansi-bytes"));
    ASSERT_EQ(c.driveMap.size(), 3);
    EXPECT_EQ(c.driveMap[0].second, dir.path() + QStringLiteral("/drives/S"));
    EXPECT_EQ(c.driveMap[1].first, QStringLiteral("\\\\파일서버"));
    // A folder starting with ":" is relative like any other, not a Qt resource.
    EXPECT_EQ(c.driveMap[2].second, dir.path() + QStringLiteral("/:fs"));
}

TEST(SiteConfig, UpdateKeysLimitsHttpsAndAllowedHostsAreReadAndCheckedByKey)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("site.ini"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    const QByteArray key = "RWTBFPMAP4paIw2YLE1qNJ0KQulw9G3YAFYyG2tEGO9PGwabqkhl9Rz1"; // made by minisign -G
    f.write("[Servers]\nAllowedHosts=db.example, *.tarvel.test\n[Update]\nPublicKey=" + key
            + ",RWQnotakey\nMaxFileMiB=0\nDeadline=30\n[Http]\nHttps=1\n");
    f.close();
    QStringList errors;
    const SiteConfig c = SiteConfig::load(path, &errors);
    EXPECT_EQ(c.allowedHosts, (QStringList{QStringLiteral("db.example"), QStringLiteral("*.tarvel.test")}));
    EXPECT_EQ(c.updatePublicKeys, QStringList{QString::fromLatin1(key)});
    EXPECT_EQ(c.updateMaxBytes, SiteConfig().updateMaxBytes);
    EXPECT_EQ(c.updateMaxBytes, 512LL << 20);
    EXPECT_EQ(c.updateDeadlineSec, 30);
    EXPECT_TRUE(c.https);
    EXPECT_EQ(c.webHttpPort, 443) << "https's own port unless one is named";
    EXPECT_EQ(c.checkerPort, 443);
    const QString bad = QStringLiteral(" 값이 잘못되었습니다: ");
    EXPECT_EQ(errors, (QStringList{
                          QStringLiteral("site.ini [Update] PublicKey") + bad + QStringLiteral("\"RWQnotakey\" (minisign 공개 키가 아닙니다)"),
                          QStringLiteral("site.ini [Update] MaxFileMiB") + bad + QStringLiteral("\"0\" (1부터 65536 사이의 MiB 단위 숫자여야 합니다)"),
                      }));
}
