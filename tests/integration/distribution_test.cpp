// The distribution step on a sandbox's drives and file server, a real FTP
// server and (for the follow-ups) a real MariaDB, all on loopback.
#include "config/projectrow.h"
#include "ftp_fixture.h"
#include "mariadb_fixture.h"
#include "pefixtures.h"
#include "pipeline/desk.h"
#include "pipeline/distribution.h"
#include "pipeline/ftptransfer.h"
#include "pipeline/pendingrecords.h"
#include "pipeline/steps.h"
#include "pipeline/verification.h"
#include "platform/drivemap.h"
#include "platform/journal.h"
#include "sandbox.h"
#include "testinteraction.h"
#include "vsftpd_fixture.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <signal.h>

using namespace rh;
using rh::test::FtpServer;
using rh::test::MariaDbEnvironment;
using rh::test::Sandbox;
using rh::test::TestInteraction;
using rh::test::VsftpdServer;

namespace {

auto* const kDatabase = ::testing::AddGlobalTestEnvironment(new MariaDbEnvironment);

const QString kDownload = QString::fromLatin1(kFtpDownloadFolder);
const QString kVersions = QString::fromLatin1(kFtpVersionsFolder);
const QString kFtpDest = QStringLiteral("FTP 다운로드서버");
const QString kRelease = QStringLiteral("C:\\Release\\배포");
const QString kOfficial = QStringLiteral("\\\\fileserver\\프로그램셋업\\1_정식버전");
const QString kWholeSet = QStringLiteral("\\\\fileserver\\프로그램셋업-전체");
const QDateTime kBuilt(QDate(2010, 11, 5), QTime(9, 30, 0));

QString nat(const QString& windowsPath)
{
    return nativePath(windowsPath);
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(bytes);
}

QStringList namesIn(const QString& windowsFolder)
{
    return QDir(nat(windowsFolder)).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

class DistributionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server = new FtpServer;
        serverUp = server->start();
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(serverUp) << server->diagnostics().toStdString();
        QDir(server->localPath(QStringLiteral("/public_html"))).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(server->localPath(kVersions)));
        box.site() = server->siteConfig(box.site());
        box.apply();
        QDir().mkpath(nat(kRelease));
        desk.endProgram = [this] { ++endCalls; };
        desk.chkVerUpdate.checked = false; // the follow-ups have a case of their own
    }

    // A row as the setup INI loads it; the executable gets a version resource
    // and the build time kBuilt, each setup file its own bytes.
    int addRow(const QString& name, const QString& version, const QString& result1,
               const QString& type = {}, const QString& result2 = {}, const QString& officialPath = {})
    {
        const int row = desk.grid.appendRow();
        auto set = [&](int col, const QString& v) { desk.grid.setText(col, row, v); };
        auto fileOf = [](const QString& p) { return p.mid(p.lastIndexOf(QLatin1Char('\\')) + 1); };
        const QString exe = QStringLiteral("C:\\Src\\") + name + QStringLiteral(".exe");
        if (!version.isEmpty()) {
            QString error;
            QDir().mkpath(QFileInfo(nat(exe)).absolutePath());
            const QString out = rh::test::makePe(nat(exe), {QStringLiteral("--version"), version}, &error);
            EXPECT_FALSE(out.isEmpty()) << error.toStdString();
            QFile f(nat(exe));
            EXPECT_TRUE(f.open(QIODevice::ReadWrite) && f.setFileTime(kBuilt, QFileDevice::FileModificationTime));
            // The project file it was built from (a.b.0.d is project version a.b.d).
            const QStringList parts = version.split(QLatin1Char('.'));
            if (parts.size() == 4 && parts[2] == QLatin1String("0")) {
                const QString vbp = QStringLiteral("C:\\Src\\") + name + QStringLiteral(".vbp");
                writeBytes(nat(vbp), QStringLiteral("MajorVer=%1\r\nMinorVer=%2\r\nRevisionVer=%3\r\n")
                                         .arg(parts[0], parts[1], parts[3])
                                         .toUtf8());
                set(ColVbpPath, vbp);
            }
        }
        set(ColProjectName, name);
        set(ColProjectType, type);
        set(ColExePath, exe);
        set(ColISResult1, result1);
        set(ColISResult1File, fileOf(result1));
        set(ColISResult2, result2);
        set(ColISResult2File, fileOf(result2));
        set(ColOfficialPath, officialPath);
        const QString patch = result1.left(result1.size() - 6) + QStringLiteral("_patch_2.exe");
        set(ColPatchResultPath, patch);
        set(ColPatchResultFile, fileOf(patch));
        writeBytes(nat(result1), "full " + name.toUtf8());
        writeBytes(nat(patch), "patch " + name.toUtf8());
        desk.setTicked(row, true);
        return row;
    }

    QByteArray remote(const QString& name) const { return readAll(server->localPath(kDownload + name)); }
    QStringList remoteNames() const
    {
        return QDir(server->localPath(kDownload)).entryList(QDir::Files, QDir::Name);
    }
    void destinations(const QStringList& items)
    {
        desk.lstDest.clear();
        for (const QString& d : items)
            desk.lstDest.addSelected(d);
    }

    static FtpServer* server;
    static bool serverUp;

    Sandbox box;
    TestInteraction ui;
    Desk desk;
    int endCalls = 0;
};

FtpServer* DistributionTest::server = nullptr;
bool DistributionTest::serverUp = false;

TEST(DistributionNames, VersionedAndOfficialNames)
{
    EXPECT_EQ(productCopyPrefix(QStringLiteral("C:\\2TarvelInstalls\\TVplantProCS_setup_2.exe")),
              QStringLiteral("tvplantprocs_setup_ver"));
    EXPECT_EQ(productCopyPrefix(QStringLiteral("C:\\2TarvelInstalls\\tvledger2_setup_2.exe")), QString());
    EXPECT_EQ(productCopyPrefix(QStringLiteral("D:\\Out\\TVledger2_setup_2.exe")), QString());
    EXPECT_EQ(versionedCopyName(QStringLiteral("tvledger2_setup_ver"), QStringLiteral("3.1.0.25"),
                                QStringLiteral("2009-03-15 14:02:11")),
              QStringLiteral("tvledger2_setup_ver3.1.0.25(090315)_2.exe"));
    EXPECT_EQ(officialSetupName(QStringLiteral("TVledger2_setup_2.exe"), QStringLiteral("3.1.0.25"),
                                QStringLiteral("2009-03-15 14:02:11")),
              QStringLiteral("TVledger2_setup_ver3_1_0_25(090315).exe"));
    // Not a date; a name without "_2" loses its extension; the last "_2" cuts.
    EXPECT_EQ(officialSetupName(QStringLiteral("a_2b_2.exe"), QStringLiteral("1.0"), QStringLiteral("어제")),
              QStringLiteral("a_2b_ver1_0(xxxxxx).exe"));
    EXPECT_EQ(officialSetupName(QStringLiteral("plain.exe"), QStringLiteral("1.0"), QString()),
              QStringLiteral("plain_ver1_0(xxxxxx).exe"));
}

TEST_F(DistributionTest, ProductReleaseReachesFolderFtpAndOfficialFolder)
{
    const int cs = addRow(QStringLiteral("원장CS"), QStringLiteral("2.0.1.7"),
                          QStringLiteral("C:\\2TarvelInstalls\\TVledgerCS_setup_2.exe"), {},
                          QStringLiteral("C:\\2TarvelInstalls\\TVledgerCS_net_2.exe"));
    QFile::remove(nat(QStringLiteral("C:\\2TarvelInstalls\\TVledgerCS_net_2.exe"))); // second setup missing
    const int lower = addRow(QStringLiteral("소문자"), QStringLiteral("1.0.0.1"),
                             QStringLiteral("C:\\2TarvelInstalls\\tvledger2_setup_2.exe"));
    const int untouched = desk.grid.appendRow(); // not ticked
    desk.grid.setText(ColProjectName, untouched, QStringLiteral("빠짐"));
    // Last release's files at the folder destination, and a stale "_2" copy.
    writeBytes(nat(kRelease + QStringLiteral("\\TVledgerCS_setup.exe")), "old");
    writeBytes(nat(kRelease + QStringLiteral("\\TVledgerCS_net.exe")), "old net");
    writeBytes(nat(kRelease + QStringLiteral("\\TVledgerCS_net_2.exe")), "stale");
    const QString share = QStringLiteral("\\\\fileserver\\배포\\새폴더"); // does not exist yet
    destinations({kRelease, kFtpDest, share});

    ASSERT_TRUE(Step3(desk)) << ui.texts().join(QLatin1Char('|')).toStdString();

    const QString copy = QStringLiteral("tvledgercs_setup_ver2.0.1.7(101105)_2.exe");
    EXPECT_EQ(desk.grid.text(ColFileVersion, cs), QStringLiteral("2.0.1.7"));
    EXPECT_EQ(desk.grid.text(ColSetupFileTime, cs), QStringLiteral("2010-11-05 09:30:00"));
    EXPECT_EQ(desk.grid.text(ColLocalCopyPath, cs), copy);
    EXPECT_EQ(desk.grid.text(ColLocalCopyPath, lower), QString()) << "the product names are case-sensitive";
    EXPECT_EQ(desk.grid.text(ColFileVersion, untouched), QString());
    EXPECT_EQ(readAll(nat(QStringLiteral("C:\\2TarvelInstalls\\") + copy)), QByteArray("full 원장CS"));

    for (const QString& folder : {kRelease, share}) {
        SCOPED_TRACE(folder.toStdString());
        EXPECT_EQ(readAll(nat(folder + QStringLiteral("\\TVledgerCS_setup.exe"))), QByteArray("full 원장CS"));
        EXPECT_EQ(readAll(nat(folder + QStringLiteral("\\TVledgerCS_setup_patch.exe"))),
                  QByteArray("patch 원장CS"));
        EXPECT_EQ(readAll(nat(folder + QStringLiteral("\\tvledger2_setup.exe"))), QByteArray("full 소문자"));
        EXPECT_FALSE(namesIn(folder).contains(QStringLiteral("TVledgerCS_setup_2.exe")));
    }
    // The missing second setup copied nothing: the final file and the stale copy stay as they were.
    EXPECT_EQ(readAll(nat(kRelease + QStringLiteral("\\TVledgerCS_net.exe"))), QByteArray("old net"));
    EXPECT_EQ(readAll(nat(kRelease + QStringLiteral("\\TVledgerCS_net_2.exe"))), QByteArray("stale"));

    EXPECT_EQ(remoteNames(), (QStringList{QStringLiteral("TVledgerCS_setup_2.exe"),
                                          QStringLiteral("TVledgerCS_setup_patch_2.exe"),
                                          QStringLiteral("tvledger2_setup_2.exe"),
                                          QStringLiteral("tvledger2_setup_patch_2.exe"), copy}));
    EXPECT_EQ(remote(copy), QByteArray("full 원장CS"));
    EXPECT_EQ(desk.grid.text(ColStatus, cs), QStringLiteral("패치배포 끝"));

    EXPECT_EQ(namesIn(kOfficial), (QStringList{QStringLiteral("TVledgerCS_setup_ver2_0_1_7(101105).exe"),
                                               QStringLiteral("tvledger2_setup_ver1_0_0_1(101105).exe")}));
    const QString missing = QStringLiteral("[오류] 원장CS 셋업파일이 존재하지 않습니다.(C:\\2TarvelInstalls\\TVledgerCS_net_2.exe)");
    EXPECT_EQ(ui.log, (QStringList{
                          missing,
                          QStringLiteral("[정상] 배포파일 전송중...") + kRelease,
                          QStringLiteral("[정상] 원장CS 배포파일 전송중...") + kFtpDest,
                          missing,
                          QStringLiteral("[정상] 원장CS 배포파일[복사] 전송중...") + kFtpDest,
                          QStringLiteral("[정상] 원장CS 패치파일 전송중...") + kFtpDest,
                          QStringLiteral("[정상] 소문자 배포파일 전송중...") + kFtpDest,
                          QStringLiteral("[정상] 소문자 패치파일 전송중...") + kFtpDest,
                          missing,
                          QStringLiteral("[정상] 배포파일 전송중...") + share,
                          QStringLiteral("[정상] 원장CS정식버전 전송중..."),
                          QStringLiteral("[정상] 소문자정식버전 전송중..."),
                      }));
    EXPECT_TRUE(ui.messages.isEmpty()) << ui.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_FALSE(desk.ftpBusy);
}

TEST_F(DistributionTest, FtpOnlyProjectsSkipFoldersAndFileTheirMarker)
{
    const QString marked = QStringLiteral("\\회계\\pay");
    const QString unmarked = QStringLiteral("\\회계\\stock");
    addRow(QStringLiteral("급여"), QStringLiteral("1.2.0.9"), QStringLiteral("C:\\Out\\pay_setup_2.exe"),
           QStringLiteral("1"), {}, marked);
    addRow(QStringLiteral("재고"), QStringLiteral("3.0.0.1"), QStringLiteral("C:\\Out\\stock_setup_2.exe"),
           QStringLiteral("1"), {}, unmarked);
    addRow(QStringLiteral("웹전용"), QStringLiteral("1.0.0.0"), QStringLiteral("C:\\Out\\web_setup_2.exe"),
           QStringLiteral("1"));
    writeBytes(nat(kWholeSet + marked + QStringLiteral("\\pay_ver1_0_0_3(100101).txt")), QByteArray());
    destinations({kRelease, kFtpDest});

    ASSERT_TRUE(Step3(desk)) << ui.texts().join(QLatin1Char('|')).toStdString();

    EXPECT_TRUE(namesIn(kRelease).isEmpty()) << namesIn(kRelease).join(QLatin1Char(' ')).toStdString();
    // An FTP-only project's uploads take their final names at once.
    EXPECT_EQ(remote(QStringLiteral("pay_setup.exe")), QByteArray("full 급여"));
    EXPECT_EQ(remote(QStringLiteral("web_setup_patch.exe")), QByteArray("patch 웹전용"));
    EXPECT_FALSE(remoteNames().contains(QStringLiteral("pay_setup_2.exe")));

    EXPECT_EQ(namesIn(kWholeSet + marked),
              (QStringList{QStringLiteral("pay_setup_2.exe"), QStringLiteral("pay_setup_ver1_2_0_9(101105).txt")}));
    EXPECT_EQ(namesIn(kWholeSet + unmarked), (QStringList{QStringLiteral("stock_setup_2.exe"),
                                                          QStringLiteral("stock_setup_ver3_0_0_1(101105).txt")}));
    EXPECT_EQ(QFileInfo(nat(kWholeSet + unmarked + QStringLiteral("\\stock_setup_ver3_0_0_1(101105).txt"))).size(), 0);
    EXPECT_FALSE(QDir(nat(kOfficial)).exists());
    EXPECT_FALSE(ui.log.join(QLatin1Char('\n')).contains(QStringLiteral("웹전용정식버전")));
}

TEST_F(DistributionTest, PatchOnlyToEachFtpEntryAndTestVersionFilesNothing)
{
    addRow(QStringLiteral("원장"), QStringLiteral("1.612.31"), QStringLiteral("C:\\Out\\ledger_setup_2.exe"));
    destinations({kFtpDest, kRelease, QStringLiteral("FTP 예비서버")});
    desk.chkPatchOnly.checked = true;
    const int connectionsBefore = server->connectionCount();

    ASSERT_TRUE(Step3(desk)) << ui.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(server->connectionCount() - connectionsBefore, 2);
    EXPECT_EQ(remoteNames(), QStringList{QStringLiteral("ledger_setup_patch_2.exe")});
    EXPECT_EQ(namesIn(kRelease), QStringList{QStringLiteral("ledger_setup_patch.exe")});
    EXPECT_EQ(namesIn(kOfficial), QStringList{QStringLiteral("ledger_setup_ver1_612_31(101105).exe")});

    // A test version files no official version and runs no follow-up.
    QDir(nat(kOfficial)).removeRecursively();
    desk.chkTestVer.checked = true;
    desk.chkVerUpdate.checked = true;
    ASSERT_TRUE(Step3(desk));
    EXPECT_FALSE(QDir(nat(kOfficial)).exists());
    EXPECT_TRUE(QDir(server->localPath(kVersions)).isEmpty());
}

TEST_F(DistributionTest, FailedCopyEndsTheStepAndAFailedConnectEndsTheProgram)
{
    addRow(QStringLiteral("원장"), QStringLiteral("1.0.0.1"), QStringLiteral("C:\\Out\\ledger_setup_2.exe"));
    destinations({QStringLiteral("Q:\\배포"), kFtpDest}); // Q: is not mapped
    EXPECT_FALSE(Step3(desk));
    // A copy that failed says why, not that somebody cancelled it.
    EXPECT_TRUE(ui.tells().last().contains(QStringLiteral("Q:"))) << ui.tells().last().toStdString();
    EXPECT_FALSE(ui.tells().contains(QStringLiteral("복사가 취소 되었습니다.")));
    EXPECT_TRUE(remoteNames().isEmpty()) << "the destinations after the failed copy are not served";
    EXPECT_FALSE(QDir(nat(kOfficial)).exists());

    ui.messages.clear();
    SiteConfig unreachable = box.site();
    unreachable.ftpPort = 1; // nothing listens there
    setSite(unreachable);
    destinations({kFtpDest, kRelease});
    EXPECT_FALSE(Step3(desk));
    EXPECT_EQ(ui.tells(), QStringList{QStringLiteral("서버 접속 실패!")});
    EXPECT_TRUE(desk.ended);
    EXPECT_EQ(endCalls, 1);
    EXPECT_TRUE(namesIn(kRelease).isEmpty());
    EXPECT_FALSE(QDir(nat(kOfficial)).exists());
}

TEST_F(DistributionTest, FollowUpsPublishVersionsDiaryAndCatalogue)
{
    rh::test::MariaDbServer* db = MariaDbEnvironment::server();
    ASSERT_NE(db, nullptr);
    ASSERT_TRUE(db->exec(QStringLiteral(
        "TRUNCATE tv_inhouse.diary; TRUNCATE tv_inhouse.diary_part;"
        "UPDATE webhost.file_rname SET rname = 'old.exe';")));
    box.site() = db->siteConfig(box.site());
    box.site().webServerAddress = db->host();
    box.apply();
    desk.WorkDiaryId = QStringLiteral("dev01");
    const int row = addRow(QStringLiteral("원장2"), QStringLiteral("3.1.0.25"),
                           QStringLiteral("C:\\2TarvelInstalls\\TVledger2_setup_2.exe"));
    desk.grid.setText(ColWorkDiaryCode, row, QStringLiteral("101"));
    const int noVersion = addRow(QStringLiteral("버전없음"), QString(), QStringLiteral("C:\\Out\\x_setup_2.exe"));
    destinations({kFtpDest});
    desk.chkVerUpdate.checked = true;
    desk.chkWriteVer.checked = true;

    ASSERT_TRUE(Step3(desk)) << ui.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(desk.grid.text(ColFileVersion, noVersion), QString());
    EXPECT_TRUE(ui.log.contains(
        QStringLiteral("[오류] 버전없음 실행파일이 존재하지 않습니다.(C:\\Src\\버전없음.exe)")));
    EXPECT_EQ(namesIn(kOfficial), QStringList{QStringLiteral("TVledger2_setup_ver3_1_0_25(101105).exe")})
        << "a row without a version is not filed";

    const QString copy = QStringLiteral("tvledger2_setup_ver3.1.0.25(101105)_2");
    EXPECT_EQ(readAll(server->localPath(kVersions + QStringLiteral("TVledger2_setup_2.ver"))),
              QByteArray("3.1.0.25;101105_0930"));
    EXPECT_EQ(readAll(server->localPath(kVersions + copy + QStringLiteral(".ver"))),
              QByteArray("3.1.0.25;101105_0930"));
    QString out;
    ASSERT_TRUE(db->exec(QStringLiteral("SELECT d.writer, d.note, p.partcode FROM tv_inhouse.diary d"
                                        " JOIN tv_inhouse.diary_part p ON p.diaryseq = d.seq"),
                         &out));
    EXPECT_EQ(out.trimmed(), QStringLiteral("dev01\t* [현재버전] 원장2 → 3.1.0.25\t101"));
    ASSERT_TRUE(db->exec(QStringLiteral("SELECT rname FROM webhost.file_rname WHERE code = 1"), &out));
    EXPECT_EQ(out.trimmed(), QStringLiteral("tvledger2_setup_ver3.1.0.25(101105).exe"))
        << ui.texts().join(QLatin1Char('|')).toStdString() << ui.log.join(QLatin1Char('|')).toStdString();
}

// The database steps of the follow-ups on `db` (diary and catalogue alike).
void useDatabase(Sandbox& box, rh::test::MariaDbServer& db)
{
    box.site() = db.siteConfig(box.site());
    box.site().webServerAddress = db.host();
    box.apply();
}

TEST_F(DistributionTest, AFailedUploadIsNotARelease)
{
    rh::test::MariaDbServer* db = MariaDbEnvironment::server();
    ASSERT_NE(db, nullptr);
    ASSERT_TRUE(db->exec(QStringLiteral(
        "TRUNCATE tv_inhouse.diary; TRUNCATE tv_inhouse.diary_part;"
        "UPDATE webhost.file_rname SET rname = 'old.exe';")));
    useDatabase(box, *db);
    desk.WorkDiaryId = QStringLiteral("dev01");
    const int broken = addRow(QStringLiteral("원장2"), QStringLiteral("3.1.0.25"),
                              QStringLiteral("C:\\2TarvelInstalls\\TVledger2_setup_2.exe"));
    const int good = addRow(QStringLiteral("원장CS"), QStringLiteral("2.0.1.7"),
                            QStringLiteral("C:\\2TarvelInstalls\\TVledgerCS_setup_2.exe"));
    desk.grid.setText(ColWorkDiaryCode, broken, QStringLiteral("101"));
    desk.grid.setText(ColWorkDiaryCode, good, QStringLiteral("102"));
    writeBytes(nat(QStringLiteral("C:\\2TarvelInstalls\\TVledger2_setup_2.exe")), QByteArray(4 << 20, 'x'));
    destinations({kFtpDest});
    desk.chkVerUpdate.checked = true;
    desk.chkWriteVer.checked = true;
    // The server dies under the first product's setup and is back at once.
    bool killed = false;
    ui.onPump = [&] {
        if (!killed && ftpConnection(desk).lastUpload.chunkWrites >= 512) {
            killed = true;
            server->kill();
            ASSERT_TRUE(server->restart()) << server->diagnostics().toStdString();
        }
    };

    ASSERT_TRUE(Step3(desk)) << ui.texts().join(QLatin1Char('|')).toStdString();
    ui.onPump = nullptr;
    ASSERT_TRUE(killed);
    EXPECT_EQ(desk.failedUploads, QSet<int>{broken});
    // The message names the remote write that broke.
    EXPECT_EQ(ui.tells().filter(QStringLiteral("서버에 파일을 쓰지 못했습니다.\r\n/public_html/download/TVledger2_setup_2.exe\r\n(")).size(), 1)
        << ui.tells().join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(ui.tells().filter(QStringLiteral("파일 읽기에 실패했습니다.")).isEmpty());
    EXPECT_TRUE(ui.log.contains(QStringLiteral("[오류] 원장2 FTP 전송이 끝나지 않았습니다: TVledger2_setup_2.exe")));

    // Only the product that reached the server is filed, versioned, recorded and listed.
    EXPECT_EQ(namesIn(kOfficial), QStringList{QStringLiteral("TVledgerCS_setup_ver2_0_1_7(101105).exe")});
    EXPECT_EQ(QDir(server->localPath(kVersions)).entryList(QDir::Files, QDir::Name),
              (QStringList{QStringLiteral("TVledgerCS_setup_2.ver"),
                           QStringLiteral("tvledgercs_setup_ver2.0.1.7(101105)_2.ver")}));
    QString out;
    ASSERT_TRUE(db->exec(QStringLiteral("SELECT d.note, p.partcode FROM tv_inhouse.diary d"
                                        " JOIN tv_inhouse.diary_part p ON p.diaryseq = d.seq"),
                         &out));
    EXPECT_EQ(out.trimmed(), QStringLiteral("* [현재버전] 원장CS → 2.0.1.7\t102"));
    ASSERT_TRUE(db->exec(QStringLiteral("SELECT code, rname FROM webhost.file_rname WHERE code IN (1, 2) ORDER BY code"),
                         &out));
    EXPECT_EQ(out.trimmed(), QStringLiteral("1\told.exe\n2\ttvledgercs_setup_ver2.0.1.7(101105).exe"));
}

TEST_F(DistributionTest, RecordsOfADatabaseKilledBeforeTheDiaryAreSentOnceLater)
{
    rh::test::MariaDbServer* live = MariaDbEnvironment::server();
    ASSERT_NE(live, nullptr);
    ASSERT_TRUE(live->exec(QStringLiteral(
        "TRUNCATE tv_inhouse.diary; TRUNCATE tv_inhouse.diary_part;"
        "UPDATE webhost.file_rname SET rname = 'old.exe';")));
    rh::test::MariaDbServer doomed;
    ASSERT_TRUE(doomed.start()) << doomed.diagnostics().toStdString();
    useDatabase(box, doomed);
    attachSteps(desk);
    desk.WorkDiaryId = QStringLiteral("dev01");
    const int row = addRow(QStringLiteral("원장2"), QStringLiteral("3.1.0.25"),
                           QStringLiteral("C:\\2TarvelInstalls\\TVledger2_setup_2.exe"));
    desk.grid.setText(ColWorkDiaryCode, row, QStringLiteral("101"));
    destinations({kFtpDest});
    for (int k = 0; k < 6; ++k)
        desk.setStep(k, k == StepDistribute);
    desk.chkVerUpdate.checked = true;
    desk.chkWriteVer.checked = true;
    desk.visible = true;
    // The database server is killed while the official version is filed.
    bool killed = false;
    ui.onPump = [&] {
        if (!killed && !ui.log.isEmpty() && ui.log.last().contains(QStringLiteral("정식버전 전송중"))) {
            killed = true;
            QFile pidFile(doomed.folder() + QStringLiteral("/mariadbd.pid"));
            ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly));
            const pid_t pid = pid_t(pidFile.readAll().trimmed().toInt());
            ASSERT_EQ(::kill(pid, SIGKILL), 0);
            // Dead (gone or a zombie) once the signal is delivered.
            for (QDeadlineTimer deadline(60000); !deadline.hasExpired();) {
                QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
                if (!stat.open(QIODevice::ReadOnly))
                    break;
                const QByteArray fields = stat.readAll();
                if (fields.mid(fields.lastIndexOf(')') + 2, 1) == "Z")
                    break;
                QThread::msleep(10);
            }
        }
    };
    ui.answer(true);
    EXPECT_EQ(desk.btnTrans_Click(), Desk::RunResult::Finished);
    ui.onPump = nullptr;
    ASSERT_TRUE(killed);
    EXPECT_GT(desk.runErrorCount(), 0);
    QList<PendingRecord> kept;
    ASSERT_TRUE(loadPendingRecords(&kept));
    ASSERT_EQ(kept.size(), 2) << ui.log.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(kept[0].kind, PendingRecord::Diary);
    EXPECT_EQ(kept[0].note(), QStringLiteral("* [현재버전] 원장2 → 3.1.0.25"));
    EXPECT_EQ(kept[1].kind, PendingRecord::Catalogue);
    EXPECT_EQ(kept[1].fileName, QStringLiteral("tvledger2_setup_ver3.1.0.25(101105).exe"));
    EXPECT_TRUE(ui.log.contains(QStringLiteral("[경고] 원장2 업무일지 버전기록:3.1.0.25 - 데이터베이스에 보내지 못해 "
                                               "보류합니다. 다음 실행 때 보냅니다.")));

    // The database is back: the next run sends the kept records first, once.
    useDatabase(box, *live);
    desk.setStep(StepDistribute, false);
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        ui.log.clear();
        ui.answer(true);
        EXPECT_EQ(desk.btnTrans_Click(), Desk::RunResult::Finished);
        const QStringList sent = ui.log.filter(QStringLiteral("[정상] 보류된 기록을 보냈습니다"));
        EXPECT_EQ(sent.size(), run == 1 ? 2 : 0) << ui.log.join(QLatin1Char('\n')).toStdString();
        EXPECT_FALSE(QFile::exists(pendingRecordsPath()));
        QString out;
        ASSERT_TRUE(live->exec(QStringLiteral("SELECT d.writer, d.note, p.partcode FROM tv_inhouse.diary d"
                                              " JOIN tv_inhouse.diary_part p ON p.diaryseq = d.seq"),
                               &out));
        EXPECT_EQ(out.trimmed(), QStringLiteral("dev01\t* [현재버전] 원장2 → 3.1.0.25\t101"));
        ASSERT_TRUE(live->exec(QStringLiteral("SELECT rname FROM webhost.file_rname WHERE code = 1"), &out));
        EXPECT_EQ(out.trimmed(), QStringLiteral("tvledger2_setup_ver3.1.0.25(101105).exe"));
    }
}

TEST_F(DistributionTest, PathsClimbingAboveTheirDriveAreRefused)
{
    // A destination and a project column that climb out of the mapped folders.
    const QString outside = QStringLiteral("\\\\fileserver\\..\\..\\escaped");
    addRow(QStringLiteral("원장"), QStringLiteral("1.0.0.1"), QStringLiteral("C:\\Out\\ledger_setup_2.exe"));
    const int climber = addRow(QStringLiteral("탈출"), QStringLiteral("1.0.0.2"), QStringLiteral("C:\\Out\\esc_setup_2.exe"));
    desk.grid.setText(ColPatchResultPath, climber, QStringLiteral("C:\\..\\..\\escaped\\esc_patch_2.exe"));
    destinations({outside});
    EXPECT_FALSE(Step3(desk));
    EXPECT_EQ(ui.tells(), (QStringList{QStringLiteral("경로가 매핑된 폴더(\\\\fileserver) 밖을 가리킵니다: ") + outside
                                           + QStringLiteral("\\")}));
    EXPECT_TRUE(ui.log.contains(QStringLiteral("[경고] 탈출 패치파일이 존재하지 않습니다.(C:\\..\\..\\escaped\\esc_patch_2.exe)")));
    EXPECT_FALSE(QFileInfo::exists(box.home() + QStringLiteral("/escaped")));
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(box.home()).absolutePath() + QStringLiteral("/escaped")));
}

// After a real release every kind of disagreement is planted in turn; each
// is caught by its own row, which names what it found.
TEST_F(DistributionTest, VerificationPassesACleanReleaseAndCatchesEachDisagreement)
{
    rh::test::MariaDbServer* db = MariaDbEnvironment::server();
    ASSERT_NE(db, nullptr);
    ASSERT_TRUE(db->exec(QStringLiteral("TRUNCATE tv_inhouse.diary; TRUNCATE tv_inhouse.diary_part;")));
    useDatabase(box, *db);
    desk.WorkDiaryId = QStringLiteral("dev01");
    const QString setup = QStringLiteral("C:\\2TarvelInstalls\\TVledger2_setup_2.exe");
    const int row = addRow(QStringLiteral("원장3"), QStringLiteral("3.1.0.26"), setup);
    desk.grid.setText(ColWorkDiaryCode, row, QStringLiteral("101"));
    auto setupWithVersion = [&](const QString& version) {
        QString error;
        EXPECT_FALSE(rh::test::makePe(nat(setup), {QStringLiteral("--version"), version}, &error).isEmpty())
            << error.toStdString();
    };
    setupWithVersion(QStringLiteral("3.1.0.26"));
    destinations({kFtpDest});
    desk.chkVerUpdate.checked = true;
    desk.chkWriteVer.checked = true;

    journal().begin(Journal::Mode::Record);
    ASSERT_TRUE(Step3(desk)) << ui.texts().join(QLatin1Char('|')).toStdString();
    journal().end();
    // "check|found" of every row that is not "일치".
    auto disagreements = [](const VerificationResult& v) {
        QStringList out;
        for (const QJsonValue& c : v.checks)
            if (!c.toObject().value(QStringLiteral("ok")).toBool())
                out << c.toObject().value(QStringLiteral("check")).toString() + QLatin1Char('|')
                        + c.toObject().value(QStringLiteral("found")).toString();
        return out;
    };
    VerificationResult clean = VerifyRelease(desk);
    EXPECT_TRUE(clean.ok) << disagreements(clean).join(QLatin1Char('\n')).toStdString();
    EXPECT_GE(clean.checks.size(), 8); // versions, official copy, .ver, diary, catalogue, 4 uploads
    ASSERT_FALSE(clean.artefacts.isEmpty());
    EXPECT_EQ(clean.artefacts.first().toObject().value(QStringLiteral("sha256")).toString().size(), 64);

    const QString official = nat(kOfficial + QStringLiteral("\\TVledger2_setup_ver3_1_0_26(101105).exe"));
    const QString ver = server->localPath(kVersions + QStringLiteral("TVledger2_setup_2.ver"));
    const QString upload = server->localPath(kDownload + QStringLiteral("TVledger2_setup_2.exe"));
    const QByteArray officialBytes = readAll(official), verBytes = readAll(ver), uploadBytes = readAll(upload);
    auto sql = [&](const QString& text) { EXPECT_TRUE(db->exec(text)) << text.toStdString(); };
    struct Plant {
        QString row;   // the check that must catch it, and what it must have found
        std::function<void()> plant, undo;
    };
    const QString note = QStringLiteral("UPDATE tv_inhouse.diary SET note = '* [현재버전] 원장3 → %1'");
    const QString rname = QStringLiteral("UPDATE webhost.file_rname SET rname = '%1' WHERE code = 1");
    const QString vbp = nat(desk.grid.text(ColVbpPath, row));
    const QByteArray vbpBytes = readAll(vbp);
    const QList<Plant> plants{
        // The project file moved on: the executable is a stale build.
        {QStringLiteral("실행파일 버전|3.1.0.26"), [&] { writeBytes(vbp, "MajorVer=3\r\nMinorVer=1\r\nRevisionVer=27\r\n"); },
         [&] { writeBytes(vbp, vbpBytes); }},
        {QStringLiteral("셋업 버전 TVledger2_setup_2.exe|3.1.0.99"), [&] { setupWithVersion(QStringLiteral("3.1.0.99")); },
         [&] { setupWithVersion(QStringLiteral("3.1.0.26")); }},
        {QStringLiteral("정식버전 파일 TVledger2_setup_ver3_1_0_26(101105).exe|SHA-256 ")
             + QString::fromLatin1(QCryptographicHash::hash("other", QCryptographicHash::Sha256).toHex().left(16)),
         [&] { writeBytes(official, "other"); }, [&] { writeBytes(official, officialBytes); }},
        {QStringLiteral(".ver 내용 TVledger2_setup_2.ver|3.1.0.26;991231_2359"),
         [&] { writeBytes(ver, "3.1.0.26;991231_2359"); }, [&] { writeBytes(ver, verBytes); }},
        {QStringLiteral("업무일지|* [현재버전] 원장3 → 3.1.0.25"), [&] { sql(note.arg(QStringLiteral("3.1.0.25"))); },
         [&] { sql(note.arg(QStringLiteral("3.1.0.26"))); }},
        {QStringLiteral("카탈로그|tvledger2_setup_ver3.1.0.25(101105).exe"),
         [&] { sql(rname.arg(QStringLiteral("tvledger2_setup_ver3.1.0.25(101105).exe"))); },
         [&] { sql(rname.arg(QStringLiteral("tvledger2_setup_ver3.1.0.26(101105).exe"))); }},
        {QStringLiteral("FTP 크기 /public_html/download/TVledger2_setup_2.exe|3 bytes"),
         [&] { QFile(upload).resize(3); }, [&] { writeBytes(upload, uploadBytes); }},
    };
    for (const Plant& p : plants) {
        SCOPED_TRACE(p.row.toStdString());
        p.plant();
        ui.log.clear();
        const VerificationResult planted = VerifyRelease(desk);
        EXPECT_FALSE(planted.ok);
        EXPECT_TRUE(disagreements(planted).contains(p.row)) << disagreements(planted).join(QLatin1Char('\n')).toStdString();
        const QString check = p.row.section(QLatin1Char('|'), 0, 0);
        EXPECT_EQ(ui.log.filter(QStringLiteral(" ") + check + QStringLiteral(" 불일치: ")).size(), 1)
            << ui.log.join(QLatin1Char('\n')).toStdString();
        p.undo();
        EXPECT_TRUE(VerifyRelease(desk).ok) << "the plant was undone";
    }
}

// A partial release: the second product's upload breaks. It is held back:
// its rows say "제외" with the reason and what is checked is that nothing of
// it went public (the public file as it was, no diary or catalogue row). The
// first is released and every row of it agrees, so the run finishes with
// errors and no disagreement (exit 5 headless, not 6). The released
// product's .ver and catalogue row have expectations of their own, so
// planting either is caught.
TEST_F(DistributionTest, WithheldProductIsExcludedAndPlantedVerAndCatalogueAreCaught)
{
    rh::test::MariaDbServer* db = MariaDbEnvironment::server();
    ASSERT_NE(db, nullptr);
    ASSERT_TRUE(db->exec(QStringLiteral("TRUNCATE tv_inhouse.diary; TRUNCATE tv_inhouse.diary_part;"
                                        "UPDATE webhost.file_rname SET rname = 'old.exe';")));
    useDatabase(box, *db);
    attachSteps(desk);
    desk.WorkDiaryId = QStringLiteral("dev01");
    const int good = addRow(QStringLiteral("원장CS"), QStringLiteral("2.0.0.7"),
                            QStringLiteral("C:\\2TarvelInstalls\\TVledgerCS_setup_2.exe"));
    const int broken = addRow(QStringLiteral("원장2"), QStringLiteral("3.1.0.25"),
                              QStringLiteral("C:\\2TarvelInstalls\\TVledger2_setup_2.exe"));
    desk.grid.setText(ColWorkDiaryCode, broken, QStringLiteral("101"));
    desk.grid.setText(ColWorkDiaryCode, good, QStringLiteral("102"));
    writeBytes(nat(QStringLiteral("C:\\2TarvelInstalls\\TVledger2_setup_2.exe")), QByteArray(4 << 20, 'x'));
    QString peError;
    ASSERT_FALSE(rh::test::makePe(nat(QStringLiteral("C:\\2TarvelInstalls\\TVledgerCS_setup_2.exe")),
                                  {QStringLiteral("--version"), QStringLiteral("2.0.0.7")}, &peError)
                     .isEmpty())
        << peError.toStdString();
    // The last release of the second product, as the public downloads it.
    writeBytes(server->localPath(kDownload + QStringLiteral("TVledger2_setup.exe")), "public 3.1.0.24");
    destinations({kFtpDest});
    for (int k = 0; k < 6; ++k)
        desk.setStep(k, k == StepDistribute);
    desk.chkVerUpdate.checked = true;
    desk.chkWriteVer.checked = true;
    desk.chkFTPAutoRemove.checked = true; // what completes goes public at once
    desk.visible = true;
    bool killed = false;
    ui.onPump = [&] {
        if (!killed && ftpConnection(desk).lastUpload.chunkWrites >= 512) {
            killed = true;
            server->kill();
            ASSERT_TRUE(server->restart()) << server->diagnostics().toStdString();
        }
    };
    ui.answer(true);
    ASSERT_EQ(desk.btnTrans_Click(), Desk::RunResult::Finished) << ui.log.join(QLatin1Char('\n')).toStdString();
    ui.onPump = nullptr;
    ASSERT_TRUE(killed);
    ASSERT_EQ(desk.failedUploads, QSet<int>{broken});
    EXPECT_GT(desk.runErrorCount(), 0);
    EXPECT_FALSE(desk.verificationFailed()) << ui.log.join(QLatin1Char('\n')).toStdString();

    auto rowsOf = [](const VerificationResult& v, const QString& project) {
        QStringList out;
        for (const QJsonValue& c : v.checks) {
            const QJsonObject o = c.toObject();
            if (o.value(QStringLiteral("project")).toString() == project)
                out << o.value(QStringLiteral("check")).toString() + QLatin1Char('|')
                        + o.value(QStringLiteral("expected")).toString() + QLatin1Char('|')
                        + o.value(QStringLiteral("found")).toString() + QLatin1Char('|')
                        + (o.value(QStringLiteral("ok")).toBool() ? QLatin1String("ok") : QLatin1String("no"));
        }
        return out;
    };
    ui.log.clear();
    const VerificationResult partial = VerifyRelease(desk);
    EXPECT_TRUE(partial.ok) << ui.log.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(rowsOf(partial, QStringLiteral("원장2")),
              (QStringList{QStringLiteral("배포|제외|FTP 전송 실패|ok"), QStringLiteral("공개 이름 변경 없음|0건|0건|ok"),
                           QStringLiteral("업무일지·카탈로그 기록 없음|0건|0건|ok"),
                           QStringLiteral("FTP 크기 /public_html/download/TVledger2_setup_2.exe|제외|FTP 전송 실패|ok")}));
    const QStringList released = rowsOf(partial, QStringLiteral("원장CS"));
    EXPECT_GE(released.size(), 5);
    EXPECT_TRUE(released.filter(QStringLiteral("|제외|")).isEmpty()) << released.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(released.contains(
        QStringLiteral("카탈로그|tvledgercs_setup_ver2.0.0.7(101105).exe|tvledgercs_setup_ver2.0.0.7(101105).exe|ok")))
        << released.join(QLatin1Char('\n')).toStdString();
    // Nothing of the second product went public.
    EXPECT_EQ(remote(QStringLiteral("TVledger2_setup.exe")), QByteArray("public 3.1.0.24"));
    EXPECT_FALSE(QFile::exists(server->localPath(kVersions + QStringLiteral("TVledger2_setup.ver"))));
    QString out;
    ASSERT_TRUE(db->exec(QStringLiteral("SELECT d.note, p.partcode FROM tv_inhouse.diary d"
                                        " JOIN tv_inhouse.diary_part p ON p.diaryseq = d.seq"),
                         &out));
    EXPECT_EQ(out.trimmed(), QStringLiteral("* [현재버전] 원장CS → 2.0.0.7\t102"));
    ASSERT_TRUE(db->exec(QStringLiteral("SELECT rname FROM webhost.file_rname WHERE code = 1"), &out));
    EXPECT_EQ(out.trimmed(), QStringLiteral("old.exe"));

    // A .ver with another date and a catalogue row naming another file.
    writeBytes(server->localPath(kVersions + QStringLiteral("TVledgerCS_setup.ver")), "2.0.0.7;991231_2359");
    ASSERT_TRUE(db->exec(QStringLiteral("UPDATE webhost.file_rname SET rname = 'tvledgercs_setup_ver2.0.0.6(101105).exe'"
                                        " WHERE code = 2")));
    ui.log.clear();
    const VerificationResult planted = VerifyRelease(desk);
    EXPECT_FALSE(planted.ok);
    const QString log = ui.log.join(QLatin1Char('\n'));
    for (const QString& line : {QStringLiteral("[오류] 원장CS .ver 내용 TVledgerCS_setup.ver 불일치: 기대값 2.0.0.7;"),
                                QStringLiteral("[오류] 원장CS 카탈로그 불일치: 기대값 tvledgercs_setup_ver2.0.0.7(101105).exe, "
                                               "실제값 tvledgercs_setup_ver2.0.0.6(101105).exe")})
        EXPECT_TRUE(log.contains(line)) << line.toStdString() << "\n" << log.toStdString();
}

} // namespace

namespace {

QByteArray patterned(qint64 size, char seed)
{
    QByteArray b(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        b[i] = char((i * 131 + seed) ^ (i >> 9));
    return b;
}

// vsftpd knows no MLST and here refuses SIZE as well: the size checks before
// every rename and the clean-up's look-ups go by the listing.
TEST_F(DistributionTest, ReleaseLandsByteExactOnVsftpdThatRefusesSize)
{
    VsftpdServer vs;
    ASSERT_TRUE(vs.start(true)) << vs.diagnostics().toStdString();
    box.site() = vs.siteConfig(box.site());
    box.apply();
    const QString setup = QStringLiteral("C:\\Out\\ledger_setup_2.exe");
    addRow(QStringLiteral("원장"), QStringLiteral("1.2.3.4"), setup);
    const QByteArray first = patterned(3 * 1024 * 1024 + 17, 1);
    writeBytes(nat(setup), first);
    destinations({kFtpDest});
    auto onServer = [&](const QString& remotePath) { return readAll(vs.localPath(remotePath)); };

    // Uploaded under "_2" names; the clean-up tool gives them their final names.
    ASSERT_TRUE(Step3(desk)) << ui.texts().join(QLatin1Char('|')).toStdString();
    UpLoadVersions(desk);
    EXPECT_EQ(onServer(kDownload + QStringLiteral("ledger_setup_2.exe")), first);
    ui.messages.clear();
    ui.answer(true);
    desk.btnImdAutoRemove_Click();
    EXPECT_EQ(ui.tells(), QStringList{QStringLiteral("변경이 완료되었습니다.")}) << vs.diagnostics().toStdString();
    EXPECT_EQ(onServer(kDownload + QStringLiteral("ledger_setup.exe")), first);
    EXPECT_EQ(onServer(kDownload + QStringLiteral("ledger_setup_patch.exe")), QByteArray("patch 원장"));
    EXPECT_EQ(onServer(kVersions + QStringLiteral("ledger_setup.ver")), QByteArray("1.2.3.4;101105_0930"));

    // The next release renames at once, after the listing confirmed each size.
    ui.log.clear();
    ui.messages.clear();
    const QByteArray second = patterned(2 * 1024 * 1024 + 1000, 2);
    writeBytes(nat(setup), second);
    desk.chkFTPAutoRemove.checked = true;
    ASSERT_TRUE(Step3(desk)) << ui.texts().join(QLatin1Char('|')).toStdString();
    UpLoadVersions(desk);
    EXPECT_EQ(ui.tells(), QStringList{QStringLiteral("웹인증번호업데이터.exe 파일을 찾을수 없기 때문에\r\n"
                                                     "인증번호 업데이트는 시도되지 않습니다.)")});
    EXPECT_TRUE(ui.log.contains(QStringLiteral("[정상] FTP파일명 _2제거성공: ledger_setup_2.exe")))
        << ui.log.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(ui.log.contains(QStringLiteral("[정상] FTP파일명 _2제거성공: ledger_setup_2.ver")));
    EXPECT_EQ(onServer(kDownload + QStringLiteral("ledger_setup.exe")), second);
    EXPECT_EQ(QDir(vs.localPath(kDownload)).entryList(QDir::Files, QDir::Name),
              (QStringList{QStringLiteral("ledger_setup.exe"), QStringLiteral("ledger_setup_patch.exe")}));
    EXPECT_EQ(QDir(vs.localPath(kVersions)).entryList(QDir::Files), QStringList{QStringLiteral("ledger_setup.ver")});
}

} // namespace
