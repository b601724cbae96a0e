// The window's FTP operations on the desk against a real FTP server on
// loopback: chunked uploads with the status frame, the "_2" rename, the close
// request during an upload, version files and the clean-up command.
#include "config/projectrow.h"
#include "ftp_fixture.h"
#include "pipeline/desk.h"
#include "pipeline/ftptransfer.h"
#include "platform/codepage.h"
#include "sandbox.h"
#include "testinteraction.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QThread>

#include <memory>

QT_BEGIN_NAMESPACE
// Readable failures for texts and lists of texts.
static void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
static void PrintTo(const QStringList& l, std::ostream* os)
{
    *os << '{' << l.join(QStringLiteral(" | ")).toStdString() << '}';
}
QT_END_NAMESPACE

using namespace rh;
using rh::test::FtpServer;
using rh::test::Message;
using rh::test::Sandbox;
using rh::test::TestInteraction;

namespace {

const QString kDownload = QString::fromLatin1(kFtpDownloadFolder);
const QString kVersions = QString::fromLatin1(kFtpVersionsFolder);

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
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArray randomBytes(qint64 size)
{
    QByteArray b(size, Qt::Uninitialized);
    QRandomGenerator gen(quint32(size) ^ 0xf7);
    for (qint64 i = 0; i < size; ++i)
        b[i] = char(gen.bounded(256));
    return b;
}

struct Snapshot {
    QString far, left, time, speed, timeLeft;
};

class FtpTransferTest : public ::testing::Test {
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
        if (!server->isRunning()) {
            ASSERT_TRUE(server->restart()) << server->diagnostics().toStdString();
        }
        // A clean download area for every case.
        QDir(server->localPath(QStringLiteral("/public_html"))).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(server->localPath(kVersions)));
        box.site() = server->siteConfig(box.site());
        box.apply();
        desk.endProgram = [this] { ++endCalls; };
    }

    // A local setup file under C:\2TarvelInstalls\; returns its Windows path.
    QString setupFile(const QString& name, const QByteArray& bytes)
    {
        writeBytes(box.drive(QStringLiteral("C")) + QStringLiteral("/2TarvelInstalls/") + name, bytes);
        return QStringLiteral("C:\\2TarvelInstalls\\") + name;
    }
    QString remote(const QString& remotePath) const { return server->localPath(remotePath); }
    void putRemote(const QString& remotePath, const QByteArray& bytes) { writeBytes(remote(remotePath), bytes); }

    void connectOrFail()
    {
        ASSERT_TRUE(FtpConnect(desk)) << ui.texts().join(QLatin1Char('|')).toStdString() << "\n"
                                      << server->diagnostics().toStdString();
        ASSERT_TRUE(desk.ftpBusy);
    }

    // A grid row with the columns the version files and the clean-up read.
    int addRow(bool ticked, const QString& name, const QString& setupName, const QString& version = {},
               const QString& time = {}, const QString& type = {}, const QString& webCode = {},
               const QString& localCopy = {})
    {
        const int row = desk.grid.appendRow();
        desk.grid.setText(ColProjectName, row, name);
        desk.grid.setText(ColISResult1File, row, setupName);
        QString patch = setupName;
        patch.replace(QStringLiteral("_2.exe"), QStringLiteral("_patch_2.exe"));
        desk.grid.setText(ColPatchResultFile, row, patch);
        desk.grid.setText(ColFileVersion, row, version);
        desk.grid.setText(ColSetupFileTime, row, time);
        desk.grid.setText(ColProjectType, row, type);
        desk.grid.setText(ColWebCode, row, webCode);
        desk.grid.setText(ColLocalCopyPath, row, localCopy);
        desk.setTicked(row, ticked);
        return row;
    }

    static FtpServer* server;
    static bool serverUp;

    Sandbox box;
    TestInteraction ui;
    Desk desk;
    int endCalls = 0;
};

FtpServer* FtpTransferTest::server = nullptr;
bool FtpTransferTest::serverUp = false;

TEST_F(FtpTransferTest, SmallFilesCountChunksLikeTheWindowAndArriveByteExact)
{
    connectOrFail();
    const int connections = server->connectionCount();
    struct Case {
        qint64 size, chunks, remainder;
        const char* celkem;
    };
    // In this order the throttle counter (kept across uploads) never reaches
    // an unforced refresh, so only a remainder refreshes the labels.
    for (const Case& c : {Case{0, 0, 0, "0"}, Case{2048, 2, 0, "2,048"}, Case{1500, 1, 476, "1,500"}}) {
        SCOPED_TRACE(c.size);
        const QString name = QStringLiteral("s%1_2.exe").arg(c.size);
        const QByteArray bytes = randomBytes(c.size);
        const QString local = setupFile(name, bytes);
        ASSERT_TRUE(FtpUploadFile(desk, local, name, QString()));
        EXPECT_EQ(readAll(remote(kDownload + name)), bytes);

        const FtpUploadStats& st = ftpConnection(desk).lastUpload;
        EXPECT_EQ(st.chunkWrites, c.chunks);
        EXPECT_EQ(st.remainderBytes, c.remainder);
        EXPECT_EQ(st.forcedRefreshes, c.remainder ? 1 : 0);
        EXPECT_EQ(st.refreshes, st.forcedRefreshes);
        EXPECT_EQ(desk.ftpStatus.fileName, local);
        EXPECT_EQ(desk.ftpStatus.celkem, QLatin1String(c.celkem));
        if (c.remainder) {
            EXPECT_EQ(desk.ftpStatus.far, QStringLiteral("1,500"));
            EXPECT_EQ(desk.ftpStatus.left, QStringLiteral("0"));
            EXPECT_EQ(desk.ftpStatus.progressValue, 1500);
            EXPECT_EQ(desk.ftpStatus.progressMax, 1500);
        }
    }
    // No rename without the suffix flag or the box; one control connection.
    EXPECT_TRUE(QFile::exists(remote(kDownload + QStringLiteral("s1500_2.exe"))));
    EXPECT_FALSE(QFile::exists(remote(kDownload + QStringLiteral("s1500.exe"))));
    EXPECT_TRUE(ui.log.isEmpty()) << ui.log.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(server->connectionCount(), connections);
    FtpDisconnect(desk);
    EXPECT_FALSE(desk.ftpBusy);
    EXPECT_FALSE(desk.closed);
}

TEST_F(FtpTransferTest, LargeUploadRefreshesOnEvery257thChunkWithSpeedAndTimes)
{
    // 2.56 s pass between the start and every later look at the clock.
    int ticks = 0;
    ftpConnection(desk).tickMs = [&ticks] { return ticks++ == 0 ? 1000 : 3560; };
    QList<Snapshot> seen;
    QObject::connect(&desk, &Desk::changed, [&] {
        const FtpStatusFrame& f = desk.ftpStatus;
        if (seen.isEmpty() || seen.last().far != f.far)
            seen.append({f.far, f.left, f.time, f.speed, f.timeLeft});
    });
    connectOrFail();
    const qint64 size = 300 * 1024 + 100;
    const QByteArray bytes = randomBytes(size);
    ASSERT_TRUE(FtpUploadFile(desk, setupFile(QStringLiteral("big_2.exe"), bytes),
                              QStringLiteral("big_2.exe"), QString()));
    EXPECT_EQ(readAll(remote(kDownload + QStringLiteral("big_2.exe"))), bytes);

    const FtpUploadStats& st = ftpConnection(desk).lastUpload;
    EXPECT_EQ(st.chunkWrites, 300);
    EXPECT_EQ(st.remainderBytes, 100);
    EXPECT_EQ(st.refreshes, 2);
    EXPECT_EQ(st.forcedRefreshes, 1);
    // Initial frame, maybe the first chunk (drawn when half a second has
    // passed since the frame was, unless a wait for the server drew it
    // first), the 257th chunk, the remainder.
    ASSERT_GE(seen.size(), 3);
    ASSERT_LE(seen.size(), 4);
    EXPECT_EQ(seen[0].far, QStringLiteral("0"));
    if (seen.size() == 4) {
        EXPECT_EQ(seen[1].far, QStringLiteral("1,024"));
    }
    const Snapshot& at257 = seen[seen.size() - 2];
    const Snapshot& last = seen.last();
    // 257 KB in 2.56 s: 100.39 KB/s; 43 KB left take 0.43 s, rounded to 0.
    EXPECT_EQ(at257.far, QStringLiteral("263,168"));
    EXPECT_EQ(at257.left, QStringLiteral("44,132"));
    EXPECT_EQ(at257.time, QStringLiteral("00:00:03"));
    EXPECT_EQ(at257.speed, QStringLiteral("100.39"));
    EXPECT_EQ(at257.timeLeft, QStringLiteral("00:00:00"));
    EXPECT_EQ(last.far, QStringLiteral("307,300"));
    EXPECT_EQ(last.left, QStringLiteral("0"));
    EXPECT_EQ(last.speed, QStringLiteral("117.23"));
    EXPECT_EQ(desk.ftpStatus.celkem, QStringLiteral("307,300"));
    EXPECT_EQ(desk.ftpStatus.progressValue, desk.ftpStatus.progressMax);
    FtpDisconnect(desk);
}

TEST_F(FtpTransferTest, NothingIsLeftOnlyOnceTheServerHasTheWholeFile)
{
    // A slow server: curl's buffer takes the file long before the server does.
    FtpServer slow;
    FtpServer::Options o;
    o.throttleBytesPerSec = 256 * 1024;
    ASSERT_TRUE(slow.start(o)) << slow.diagnostics().toStdString();
    box.site() = slow.siteConfig(box.site());
    box.apply();
    const qint64 size = 400 * 1024 + 100;
    const QString onServer = slow.localPath(kDownload + QStringLiteral("slow_2.exe"));
    QStringList early;
    QObject::connect(&desk, &Desk::changed, [&] {
        const qint64 arrived = QFileInfo(onServer).size();
        if (desk.ftpStatus.left == QLatin1String("0") && arrived < size)
            early.append(QStringLiteral("0 left with %1 bytes on the server").arg(arrived));
    });
    connectOrFail();
    ASSERT_TRUE(FtpUploadFile(desk, setupFile(QStringLiteral("slow_2.exe"), randomBytes(size)),
                              QStringLiteral("slow_2.exe"), QString()));
    EXPECT_TRUE(early.isEmpty()) << early.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(desk.ftpStatus.left, QStringLiteral("0"));
    EXPECT_EQ(desk.ftpStatus.far, QStringLiteral("409,700"));
    FtpDisconnect(desk);
}

TEST_F(FtpTransferTest, FormatsOfTheStatusFrameAndTheVersionStamp)
{
    EXPECT_EQ(FormatElapsed(0), QStringLiteral("00:00:00"));
    EXPECT_EQ(FormatElapsed(3725), QStringLiteral("01:02:05"));
    EXPECT_EQ(FormatElapsed(100 * 3600), QStringLiteral("100:00:00"));
    EXPECT_EQ(FormatElapsed(-5), QStringLiteral("00:00:00"));

    EXPECT_EQ(versionTimeStamp(QStringLiteral("2024-03-05 14:07:59")), QStringLiteral("240305_1407"));
    EXPECT_EQ(versionTimeStamp(QStringLiteral("2024-03-05 오후 2:07:00")), QStringLiteral("240305_1407"));
    EXPECT_EQ(versionTimeStamp(QStringLiteral("2024-03-05 오전 12:30:00")), QStringLiteral("240305_0030"));
    EXPECT_EQ(versionTimeStamp(QStringLiteral("2009/3/15")), QStringLiteral("090315_0000"));
    EXPECT_EQ(versionTimeStamp(QStringLiteral("2024-02-30 10:00")), QStringLiteral("2024-02-30 10:00"));
    EXPECT_EQ(versionTimeStamp(QStringLiteral("2024-03-05 25:00")), QStringLiteral("2024-03-05 25:00"));
    EXPECT_EQ(versionTimeStamp(QString()), QString());
    EXPECT_EQ(versionFileContent(QStringLiteral("3.0.1.7"), QStringLiteral("2024-03-05 14:07:00")),
              QByteArray("3.0.1.7;240305_1407"));
    EXPECT_EQ(versionFileContent(QStringLiteral("1.0"), QStringLiteral("빌드 전")),
              QByteArray("1.0;") + toAnsi(QStringLiteral("빌드 전")));
}

TEST_F(FtpTransferTest, FinalNamesComeOnlyFromCompleteUploads)
{
    connectOrFail();
    // The suffix flag renames at once; every "_2" goes.
    const QByteArray a = randomBytes(3000);
    ASSERT_TRUE(FtpUploadFile(desk, setupFile(QStringLiteral("a_2b_2.exe"), a), QStringLiteral("a_2b_2.exe"),
                              QStringLiteral("1")));
    EXPECT_FALSE(QFile::exists(remote(kDownload + QStringLiteral("a_2b_2.exe"))));
    EXPECT_EQ(readAll(remote(kDownload + QStringLiteral("ab.exe"))), a);

    // The box does the same and replaces the previous public file.
    putRemote(kDownload + QStringLiteral("prod_setup.exe"), "old release");
    desk.chkFTPAutoRemove.checked = true;
    const QByteArray p = randomBytes(5000);
    ASSERT_TRUE(FtpUploadFile(desk, setupFile(QStringLiteral("prod_setup_2.exe"), p),
                              QStringLiteral("prod_setup_2.exe"), QString()));
    EXPECT_EQ(readAll(remote(kDownload + QStringLiteral("prod_setup.exe"))), p);
    EXPECT_EQ(ui.log, (QStringList{QStringLiteral("[정상] FTP파일명 _2제거성공: a_2b_2.exe"),
                                   QStringLiteral("[정상] FTP파일명 _2제거성공: prod_setup_2.exe")}));

    // A local file that is not there: the read message, nothing on the server.
    ui.log.clear();
    EXPECT_FALSE(FtpUploadFile(desk, QStringLiteral("C:\\2TarvelInstalls\\gone_2.exe"),
                               QStringLiteral("gone_2.exe"), QStringLiteral("1")));
    EXPECT_EQ(ui.tells(), QStringList{QStringLiteral("파일 읽기에 실패했습니다.")});
    EXPECT_EQ(ui.messages.last().icon, MsgIcon::Exclamation);
    EXPECT_EQ(ui.log, QStringList{QStringLiteral("[오류] FTP파일명 _2제거취소: gone_2.exe (전송이 끝나지 않았습니다.)")});
    EXPECT_FALSE(QFile::exists(remote(kDownload + QStringLiteral("gone_2.exe"))));

    // A missing remote folder: the server file cannot be created; the public
    // file keeps its content.
    ui.messages.clear();
    ui.log.clear();
    QDir(remote(QStringLiteral("/public_html/download"))).removeRecursively();
    EXPECT_FALSE(FtpUploadFile(desk, setupFile(QStringLiteral("prod_setup_2.exe"), p),
                               QStringLiteral("prod_setup_2.exe"), QString()));
    EXPECT_EQ(ui.tells(), QStringList{QStringLiteral("서버에 저장된 파일을 찾을 수 없습니다.\r\n"
                                                     "/public_html/download/prod_setup_2.exe")});
    EXPECT_EQ(ui.messages.last().title, appTitle());
    ASSERT_EQ(ui.log.size(), 1);
    EXPECT_TRUE(ui.log[0].startsWith(QStringLiteral("[오류] FTP파일명 _2제거취소: prod_setup_2.exe")));
    FtpDisconnect(desk);
}

TEST_F(FtpTransferTest, ConnectTwiceKeepsTheFirstConnection)
{
    const int before = server->connectionCount();
    connectOrFail();
    EXPECT_FALSE(FtpConnect(desk));
    EXPECT_TRUE(desk.ftpBusy);
    EXPECT_TRUE(ui.messages.isEmpty());
    const QByteArray b = randomBytes(100);
    ASSERT_TRUE(FtpUploadFile(desk, setupFile(QStringLiteral("x.exe"), b), QStringLiteral("x.exe"), QString()));
    EXPECT_EQ(server->connectionCount(), before + 1);
    // A close request while connected is refused and remembered; a new
    // connection clears it.
    EXPECT_FALSE(desk.requestClose());
    EXPECT_TRUE(desk.cancelRequested);
    FtpDisconnect(desk);
    EXPECT_TRUE(desk.closed) << "the close asked for meanwhile happens now";
    desk.closed = false;
    desk.cancelRequested = true;
    connectOrFail();
    EXPECT_FALSE(desk.cancelRequested);
    EXPECT_EQ(server->connectionCount(), before + 2);
    FtpDisconnect(desk);
    EXPECT_FALSE(desk.closed);
}

TEST_F(FtpTransferTest, RefusedLoginShowsTheMessageAndEndsTheProgram)
{
    int closing = 0;
    QObject::connect(&desk, &Desk::closeRequested, [&closing] { ++closing; });
    box.site().ftpPassword = QStringLiteral("Wrong#Pass12");
    box.apply();
    EXPECT_FALSE(FtpConnect(desk));
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_EQ(ui.messages[0].text, QStringLiteral("서버 접속 실패!"));
    EXPECT_EQ(ui.messages[0].icon, MsgIcon::Exclamation);
    EXPECT_TRUE(desk.ended);
    EXPECT_TRUE(desk.closed);
    EXPECT_EQ(closing, 1);
    EXPECT_EQ(endCalls, 1);
    EXPECT_FALSE(desk.ftpBusy);
    EXPECT_TRUE(server->waitForOutput(QStringLiteral("EVENT login-failed tvc1")));
}

TEST_F(FtpTransferTest, ServerStoppedMidUploadKeepsThePublicFileAndTheDesk)
{
    putRemote(kDownload + QStringLiteral("big.exe"), "the good release");
    desk.chkFTPAutoRemove.checked = true;
    connectOrFail();
    const QByteArray bytes = randomBytes(8 * 1024 * 1024);
    const QString local = setupFile(QStringLiteral("big_2.exe"), bytes);
    bool killed = false;
    ui.onPump = [&] {
        if (!killed && ftpConnection(desk).lastUpload.chunkWrites >= 2048) {
            killed = true;
            server->kill();
        }
    };
    EXPECT_FALSE(FtpUploadFile(desk, local, QStringLiteral("big_2.exe"), QString()));
    ui.onPump = nullptr;
    ASSERT_TRUE(killed);
    // The message names the remote write, not a local read that went fine.
    ASSERT_EQ(ui.tells().size(), 1);
    EXPECT_TRUE(ui.tells()[0].startsWith(QStringLiteral("서버에 파일을 쓰지 못했습니다.\r\n/public_html/download/big_2.exe\r\n(")))
        << ui.tells()[0].toStdString();
    EXPECT_EQ(readAll(remote(kDownload + QStringLiteral("big.exe"))), QByteArray("the good release"));
    EXPECT_EQ(ui.log, QStringList{QStringLiteral("[오류] FTP파일명 _2제거취소: big_2.exe (전송이 끝나지 않았습니다.)")});
    EXPECT_FALSE(desk.closed);
    EXPECT_FALSE(desk.ended);

    // The server comes back: disconnect, connect again, and the upload goes through.
    ASSERT_TRUE(server->restart()) << server->diagnostics().toStdString();
    FtpDisconnect(desk);
    connectOrFail();
    ui.log.clear();
    ASSERT_TRUE(FtpUploadFile(desk, local, QStringLiteral("big_2.exe"), QString()));
    EXPECT_EQ(readAll(remote(kDownload + QStringLiteral("big.exe"))), bytes);
    EXPECT_EQ(ui.log, QStringList{QStringLiteral("[정상] FTP파일명 _2제거성공: big_2.exe")});
    FtpDisconnect(desk);
}

TEST_F(FtpTransferTest, AFrozenServerEndsTheUploadWithinTheStallTime)
{
    box.site().ftpStallTimeoutSec = 2;
    box.apply();
    connectOrFail();
    const QString local = setupFile(QStringLiteral("frozen_2.exe"), randomBytes(8 * 1024 * 1024));
    bool frozen = false;
    int pumpsWhileFrozen = 0;
    QElapsedTimer sinceFreeze;
    ui.answer(false); // "다운로드를 중단할까요?" while the server says nothing: go on waiting
    ui.onPump = [&] {
        if (frozen) {
            // The window stays alive meanwhile: a close request reaches the question.
            if (++pumpsWhileFrozen == 5)
                desk.cancelRequested = true;
        } else if (ftpConnection(desk).lastUpload.chunkWrites >= 1024) {
            frozen = true;
            sinceFreeze.start();
            server->suspend();
        }
    };
    EXPECT_FALSE(FtpUploadFile(desk, local, QStringLiteral("frozen_2.exe"), QString()));
    const qint64 waited = sinceFreeze.isValid() ? sinceFreeze.elapsed() : -1;
    ui.onPump = nullptr;
    server->resume();
    ASSERT_TRUE(frozen);
    // The stall limit ended it: not before two seconds without progress, and
    // long before a limit several times that.
    EXPECT_GE(waited, 2000);
    EXPECT_LT(waited, (3 * 2 + 5) * 1000);
    EXPECT_EQ(ui.questions(), QStringList{QStringLiteral("다운로드를 중단할까요?")});
    ASSERT_EQ(ui.tells().size(), 1);
    EXPECT_TRUE(ui.tells()[0].startsWith(QStringLiteral("서버에 파일을 쓰지 못했습니다.\r\n/public_html/download/frozen_2.exe\r\n(서버가 2초 동안 응답하지 않았습니다")))
        << ui.tells()[0].toStdString();
    FtpDisconnect(desk);
}

TEST_F(FtpTransferTest, CloseDuringAnUploadAsksWhetherToStop)
{
    putRemote(kDownload + QStringLiteral("c.exe"), "the good release");
    desk.chkFTPAutoRemove.checked = true;
    const QByteArray bytes = randomBytes(6 * 1024 * 1024);
    const QString local = setupFile(QStringLiteral("c_2.exe"), bytes);
    int closing = 0;
    QObject::connect(&desk, &Desk::closeRequested, [&closing] { ++closing; });
    bool asked = false;
    qint64 chunksAtRequest = 0;
    ui.onPump = [&] {
        if (!asked && ftpConnection(desk).lastUpload.chunkWrites >= 1000) {
            asked = true;
            chunksAtRequest = ftpConnection(desk).lastUpload.chunkWrites;
            EXPECT_FALSE(desk.requestClose()) << "closing is refused while connected";
        }
    };

    // No: the upload goes on to the end and gets its final name; the window stays.
    ui.answer(false);
    connectOrFail();
    EXPECT_TRUE(FtpUploadFile(desk, local, QStringLiteral("c_2.exe"), QString()));
    ASSERT_EQ(ui.questions(), QStringList{QStringLiteral("다운로드를 중단할까요?")});
    EXPECT_TRUE(ui.messages[0].defaultNo);
    EXPECT_EQ(ui.messages[0].title, appTitle());
    EXPECT_FALSE(desk.cancelRequested);
    EXPECT_EQ(readAll(remote(kDownload + QStringLiteral("c.exe"))), bytes);
    FtpDisconnect(desk);
    EXPECT_FALSE(desk.closed);
    EXPECT_EQ(closing, 0);

    // Yes: the upload stops before the next chunk, the public file stays as it
    // was, the cut-off copy is named, and the run is cancelled with the
    // window left open on its log. The panel starts from nothing of the file before.
    putRemote(kDownload + QStringLiteral("c.exe"), "the good release");
    QString leftAtStart;
    QObject scope;
    QObject::connect(&desk, &Desk::changed, &scope, [&] {
        if (leftAtStart.isEmpty() && desk.ftpBusy && ftpConnection(desk).bytesSent == 0)
            leftAtStart = desk.ftpStatus.far + QLatin1Char('/') + desk.ftpStatus.time;
    });
    ui.messages.clear();
    ui.log.clear();
    asked = false;
    ui.answer(true);
    connectOrFail();
    EXPECT_FALSE(FtpUploadFile(desk, local, QStringLiteral("c_2.exe"), QString()));
    EXPECT_EQ(ui.questions(), QStringList{QStringLiteral("다운로드를 중단할까요?")});
    EXPECT_TRUE(ui.tells().isEmpty()) << ui.tells().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(ftpConnection(desk).lastUpload.chunkWrites, chunksAtRequest) << "no chunk after the answer";
    EXPECT_EQ(leftAtStart, QStringLiteral("0/00:00:00")) << "the last file's figures stay on the panel";
    EXPECT_EQ(readAll(remote(kDownload + QStringLiteral("c.exe"))), QByteArray("the good release"));
    EXPECT_FALSE(QFile::exists(remote(kDownload + QStringLiteral("c_2.exe")))) << "the cut-off copy is deleted";
    EXPECT_EQ(ui.log, (QStringList{QStringLiteral("[정상] FTP 전송 취소: 끝나지 않은 파일을 서버에서 지웠습니다: "
                                                  "/public_html/download/c_2.exe"),
                                   QStringLiteral("[오류] FTP파일명 _2제거취소: c_2.exe (전송이 끝나지 않았습니다.)")}));
    EXPECT_TRUE(desk.runCancelled);
    EXPECT_FALSE(desk.cancelRequested);
    // The panel shows the failure with its reason, not a normal bar halfway.
    EXPECT_TRUE(desk.ftpStatus.failed);
    EXPECT_EQ(desk.ftpStatus.failure, QStringLiteral("전송을 중단했습니다."));
    FtpDisconnect(desk);
    EXPECT_FALSE(desk.closed);
    EXPECT_FALSE(desk.ended);
    EXPECT_EQ(closing, 0);

    // A server that refuses DELE keeps the cut-off copy: the log names it.
    FtpServer::Options refusingDele;
    refusingDele.refuse = {QStringLiteral("DELE")};
    FtpServer refusing;
    ASSERT_TRUE(refusing.start(refusingDele)) << refusing.diagnostics().toStdString();
    box.site() = refusing.siteConfig(box.site());
    box.apply();
    ui.log.clear();
    asked = false;
    desk.runCancelled = false;
    ui.answer(true);
    connectOrFail();
    EXPECT_FALSE(FtpUploadFile(desk, local, QStringLiteral("c_2.exe"), QString()));
    FtpDisconnect(desk);
    EXPECT_TRUE(QFile::exists(refusing.localPath(kDownload + QStringLiteral("c_2.exe"))));
    ASSERT_FALSE(ui.log.isEmpty());
    EXPECT_TRUE(ui.log[0].startsWith(QStringLiteral("[오류] FTP 전송 취소: 끝나지 않은 파일이 서버에 남았습니다: "
                                                    "/public_html/download/c_2.exe (")))
        << ui.log.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(desk.runCancelled);
    EXPECT_EQ(ui.unexpectedQuestions, 0);
}

class VersionFilesTest : public FtpTransferTest {
protected:
    QString updaterOut() const { return box.home() + QStringLiteral("/updater.out"); }
    void installUpdater()
    {
        const QString path = box.home() + QStringLiteral("/웹인증번호업데이터.exe");
        writeBytes(path, "#!/bin/sh\nprintf '%s\\n' \"$@\" >> \"$(dirname \"$0\")/updater.out\"\n");
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    void addRows()
    {
        addRow(true, QStringLiteral("Ledger"), QStringLiteral("ledger_setup_2.exe"), QStringLiteral("3.0.1.7"),
               QStringLiteral("2024-03-05 14:07:11"), QString(), QStringLiteral("12"),
               QStringLiteral("tvledger2_setup_ver3.0.1.7(240305)_2.exe"));
        addRow(true, QStringLiteral("FtpOnly"), QStringLiteral("ftponly_setup_2.exe"), QStringLiteral("1.0"),
               QString(), QStringLiteral("1"), QStringLiteral("13"));
        addRow(false, QStringLiteral("Unticked"), QStringLiteral("unticked_setup_2.exe"), QStringLiteral("1.0"));
        addRow(true, QStringLiteral("장부"), QStringLiteral("장부_setup_2.exe"), QStringLiteral("2.0"), QString());
    }
    QStringList versionFiles() const
    {
        QStringList names = QDir(remote(kVersions)).entryList(QDir::Files);
        names.sort();
        return names;
    }
};

TEST_F(VersionFilesTest, WithoutTheBoxFilesKeepTheirSuffixAndNoUpdaterRuns)
{
    installUpdater();
    addRows();
    UpLoadVersions(desk);
    EXPECT_TRUE(ui.messages.isEmpty()) << ui.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(versionFiles(), (QStringList{QStringLiteral("ledger_setup_2.ver"),
                                           QStringLiteral("tvledger2_setup_ver3.0.1.7(240305)_2.ver"),
                                           QStringLiteral("장부_setup_2.ver")}));
    EXPECT_EQ(readAll(remote(kVersions + QStringLiteral("ledger_setup_2.ver"))), QByteArray("3.0.1.7;240305_1407"));
    EXPECT_EQ(readAll(remote(kVersions + QStringLiteral("tvledger2_setup_ver3.0.1.7(240305)_2.ver"))),
              QByteArray("3.0.1.7;240305_1407"));
    EXPECT_EQ(readAll(remote(kVersions + QStringLiteral("장부_setup_2.ver"))), QByteArray("2.0;"));
    EXPECT_TRUE(ui.log.isEmpty()) << "every start of the updater is logged";
}

TEST_F(VersionFilesTest, TheBoxRenamesAtOnceAndStartsTheUpdater)
{
    installUpdater();
    addRows();
    desk.chkFTPAutoRemove.checked = true;
    putRemote(kVersions + QStringLiteral("ledger_setup.ver"), "2.9.0.1;240101_0900");
    UpLoadVersions(desk);
    EXPECT_TRUE(ui.messages.isEmpty()) << ui.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(versionFiles(), (QStringList{QStringLiteral("ledger_setup.ver"),
                                           QStringLiteral("tvledger2_setup_ver3.0.1.7(240305).ver"),
                                           QStringLiteral("장부_setup.ver")}));
    EXPECT_EQ(readAll(remote(kVersions + QStringLiteral("ledger_setup.ver"))), QByteArray("3.0.1.7;240305_1407"));
    EXPECT_EQ(ui.log, (QStringList{QStringLiteral("[정상] FTP파일명 _2제거성공: ledger_setup_2.ver"),
                                   QStringLiteral("[정상] 웹인증번호업데이터: 12"),
                                   QStringLiteral("[정상] FTP파일명 _2제거성공: tvledger2_setup_ver3.0.1.7(240305)_2.ver"),
                                   QStringLiteral("[정상] FTP파일명 _2제거성공: 장부_setup_2.ver")}));
    // The updater got one argument: code, ";" and the project name.
    QDeadlineTimer deadline(60000);
    while (!readAll(updaterOut()).endsWith('\n') && !deadline.hasExpired())
        QThread::msleep(20);
    EXPECT_EQ(readAll(updaterOut()), QByteArray("12;Ledger\n"));
}

TEST_F(VersionFilesTest, MissingUpdaterAndMissingFolderAreReportedPerFile)
{
    addRows();
    desk.chkFTPAutoRemove.checked = true;
    QDir(remote(kVersions)).removeRecursively();
    UpLoadVersions(desk);
    const QString open = QStringLiteral("FTP파일 열기 실패!\r\n/public_html/download/versions/");
    EXPECT_EQ(ui.tells(), (QStringList{QStringLiteral("웹인증번호업데이터.exe 파일을 찾을수 없기 때문에\r\n"
                                                      "인증번호 업데이트는 시도되지 않습니다.)"),
                                       open + QStringLiteral("ledger_setup_2.ver"),
                                       open + QStringLiteral("tvledger2_setup_ver3.0.1.7(240305)_2.ver"),
                                       open + QStringLiteral("장부_setup_2.ver")}));
    for (const Message& m : ui.messages)
        EXPECT_EQ(m.icon, MsgIcon::Exclamation);
    EXPECT_TRUE(ui.log.isEmpty()) << "nothing is renamed after a failed write";

    // A refused login stops before any row.
    ui.messages.clear();
    QDir().mkpath(remote(kVersions));
    box.site().ftpPassword = QStringLiteral("Wrong#Pass12");
    box.apply();
    UpLoadVersions(desk);
    EXPECT_EQ(ui.tells().last(), QStringLiteral("FTP서버 접속 실패! - UpLoadVersions()"));
    EXPECT_TRUE(versionFiles().isEmpty());
    EXPECT_FALSE(desk.ended) << "version files never end the program";
}

TEST_F(FtpTransferTest, CleanUpRenamesTheTickedProjectsFiles)
{
    // Nothing ticked: one message and no connection.
    addRow(false, QStringLiteral("Ledger"), QStringLiteral("ledger_setup_2.exe"));
    const int before = server->connectionCount();
    desk.btnImdAutoRemove_Click();
    EXPECT_EQ(ui.tells(), QStringList{QStringLiteral("선택된 프로젝트가 없습니다.")});
    EXPECT_TRUE(ui.questions().isEmpty());

    // No to the question: nothing happens.
    desk.setTicked(1, true);
    addRow(true, QStringLiteral("Plant"), QStringLiteral("plant_setup_2.exe"));
    const int plain = addRow(true, QStringLiteral("NoSuffix"), QStringLiteral("plain.exe"));
    desk.grid.setText(ColPatchResultFile, plain, QStringLiteral("plain_patch_2.exe"));
    for (const char* f : {"ledger_setup_2.exe", "ledger_setup_patch_2.exe", "versions/ledger_setup_2.ver",
                          "plant_setup_2.exe", "versions/plant_setup_2.ver", "plain.exe", "plain_patch_2.exe",
                          "versions/plain.ver"})
        putRemote(kDownload + QLatin1String(f), QByteArray(f));
    ui.messages.clear();
    ui.answer(false);
    desk.btnImdAutoRemove_Click();
    EXPECT_EQ(ui.questions(), QStringList{QStringLiteral("정말 변경할까요?")});
    EXPECT_EQ(server->connectionCount(), before);

    // Yes: every file looked up, missing ones reported, the rest renamed.
    ui.messages.clear();
    ui.answer(true);
    desk.btnImdAutoRemove_Click();
    EXPECT_EQ(ui.tells(), (QStringList{QStringLiteral("/public_html/download/plant_setup_patch_2.exe"
                                                      " 파일을 ftp에서 찾을 수 없습니다."),
                                       QStringLiteral("변경이 완료되었습니다.")}));
    EXPECT_EQ(ui.log, (QStringList{QStringLiteral("[정상] FTP파일명 _2제거성공: ledger_setup_2.exe"),
                                   QStringLiteral("[정상] FTP파일명 _2제거성공: ledger_setup_patch_2.exe"),
                                   QStringLiteral("[정상] FTP파일명 _2제거성공: ledger_setup_2.ver"),
                                   QStringLiteral("[정상] FTP파일명 _2제거성공: plant_setup_2.exe"),
                                   QStringLiteral("[정상] FTP파일명 _2제거성공: plant_setup_2.ver"),
                                   QStringLiteral("[정상] FTP파일명 _2제거성공: plain.exe"),
                                   QStringLiteral("[정상] FTP파일명 _2제거성공: plain_patch_2.exe"),
                                   QStringLiteral("[정상] FTP파일명 _2제거성공: plain.ver")}));
    QStringList names = QDir(remote(kDownload)).entryList(QDir::Files);
    names.sort();
    EXPECT_EQ(names, (QStringList{QStringLiteral("ledger_setup.exe"), QStringLiteral("ledger_setup_patch.exe"),
                                  QStringLiteral("plain.exe"), QStringLiteral("plain_patch.exe"),
                                  QStringLiteral("plant_setup.exe")}));
    EXPECT_EQ(readAll(remote(kVersions + QStringLiteral("ledger_setup.ver"))),
              QByteArray("versions/ledger_setup_2.ver"));
    EXPECT_FALSE(desk.ftpBusy);

    // Patch only: the full setup keeps its name; a rename the server refuses is logged.
    desk.setTicked(2, false);
    desk.setTicked(3, false);
    desk.chkPatchOnly.checked = true;
    putRemote(kDownload + QStringLiteral("ledger_setup_2.exe"), "new full");
    putRemote(kDownload + QStringLiteral("ledger_setup_patch_2.exe"), "new patch");
    // A folder in the way of the final name makes the server refuse the rename.
    QFile::remove(remote(kVersions + QStringLiteral("ledger_setup.ver")));
    QDir().mkpath(remote(kVersions + QStringLiteral("ledger_setup.ver/occupied")));
    putRemote(kVersions + QStringLiteral("ledger_setup_2.ver"), "new ver");
    ui.messages.clear();
    ui.log.clear();
    ui.answer(true);
    desk.btnImdAutoRemove_Click();
    EXPECT_EQ(ui.log, (QStringList{QStringLiteral("[정상] FTP파일명 _2제거성공: ledger_setup_patch_2.exe"),
                                   QStringLiteral("[오류] FTP파일명 _2제거실패: ledger_setup_2.ver")}));
    EXPECT_EQ(readAll(remote(kDownload + QStringLiteral("ledger_setup_2.exe"))), QByteArray("new full"));
    EXPECT_EQ(readAll(remote(kDownload + QStringLiteral("ledger_setup_patch.exe"))), QByteArray("new patch"));
    EXPECT_EQ(ui.tells(), QStringList{QStringLiteral("변경이 완료되었습니다.")});

    // While a connection is open the command stops without a message.
    connectOrFail();
    ui.messages.clear();
    ui.log.clear();
    ui.answer(true);
    desk.btnImdAutoRemove_Click();
    EXPECT_EQ(ui.questions(), QStringList{QStringLiteral("정말 변경할까요?")});
    EXPECT_TRUE(ui.tells().isEmpty());
    EXPECT_TRUE(ui.log.isEmpty());
    FtpDisconnect(desk);
}

} // namespace
