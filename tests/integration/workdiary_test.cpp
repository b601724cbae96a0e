// The work-diary record and the download catalogue update against a real
// MariaDB server started for this executable: the rows they leave, and how
// the steps gate and fail.
#include "pipeline/catalogue.h"
#include "pipeline/desk.h"
#include "pipeline/pendingrecords.h"
#include "pipeline/steps.h"
#include "pipeline/workdiary.h"

#include "config/projectrow.h"
#include "db/cmysql.h"
#include "mariadb_fixture.h"
#include "ports.h"
#include "sandbox.h"
#include "testinteraction.h"

#include "platform/codepage.h"
#include "platform/interaction.h"
#include "platform/journal.h"
#include "site/sitecfg.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QRegularExpression>
#include <QThread>

#include <array>
#include <atomic>
#include <thread>

#include <mysql.h>

#include <gtest/gtest.h>

using namespace rh;
using rh::test::MariaDbEnvironment;
using rh::test::MariaDbServer;
using rh::test::Sandbox;
using rh::test::TestInteraction;

namespace {

auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new MariaDbEnvironment);

const QString kCrLf = QStringLiteral("\r\n");

std::string s(const QString& q)
{
    return q.toStdString();
}

struct Row {
    Row(QString name_, QString version_, QString code_, QString type_ = QStringLiteral("0"),
        bool ticked_ = true, QString setup_ = QString(), QString localCopy_ = QString())
        : name(std::move(name_)), version(std::move(version_)), code(std::move(code_)),
          type(std::move(type_)), ticked(ticked_), setup(std::move(setup_)),
          localCopy(std::move(localCopy_))
    {
    }
    QString name;
    QString version;
    QString code; // 업무일지CODE
    QString type;
    bool ticked;
    QString setup;     // ISResult1
    QString localCopy; // LocalCopyPath
};

class DatabaseStepTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server = MariaDbEnvironment::server();
        ASSERT_NE(server, nullptr) << "the MariaDB server did not start";
        box.site() = server->siteConfig(box.site());
        box.site().webServerAddress = server->host();
        box.apply();
        root(QStringLiteral(
            "TRUNCATE tv_inhouse.diary; TRUNCATE tv_inhouse.diary_part;"
            "DELETE FROM webhost.file_rname; DELETE FROM webhost.cate3; DELETE FROM webhost.cate3_info;"
            "INSERT INTO webhost.file_rname (code, rname) VALUES (1, 'L2.exe'), (2, 'LCS.exe'),"
            " (3, 'PCS.exe'), (4, 'PPCS.exe');"
            "INSERT INTO webhost.cate3 (idx, DemoDownFile) VALUES (48, 'L2.exe'), (49, 'LCS.exe'),"
            " (52, 'PCS.exe'), (86, 'PPCS.exe');"
            "INSERT INTO webhost.cate3_info (idx, DemoDownFile) VALUES (62, 'L2.exe'),"
            " (63, 'LCS.exe'), (65, 'PCS.exe'), (88, 'PPCS.exe');"));
        logStart = server->generalLog().size();
        desk.WorkDiaryId = QStringLiteral("dev01");
        attachSteps(desk);
    }
    void TearDown() override { CloseDatabase(desk); }

    int addRow(const Row& r)
    {
        const int row = desk.grid.appendRow();
        desk.grid.setText(ColSelected, row, r.ticked ? QStringLiteral("1") : QStringLiteral("0"));
        desk.grid.setText(ColProjectName, row, r.name);
        desk.grid.setText(ColFileVersion, row, r.version);
        desk.grid.setText(ColProjectType, row, r.type);
        desk.grid.setText(ColWorkDiaryCode, row, r.code);
        desk.grid.setText(ColISResult1, row, r.setup);
        desk.grid.setText(ColLocalCopyPath, row, r.localCopy);
        return row;
    }

    QString root(const QString& sql)
    {
        QString out, err;
        EXPECT_TRUE(server->exec(sql, &out, &err)) << s(err) << " in " << s(sql);
        return out.trimmed();
    }

    // Text columns come back hex-encoded: the batch client escapes backslashes.
    QStringList rows(const QString& sql)
    {
        const QString out = root(sql);
        return out.isEmpty() ? QStringList() : out.split(QLatin1Char('\n'));
    }
    static QString hexOf(const QString& text) { return QString::fromLatin1(text.toUtf8().toHex().toUpper()); }
    static QString fromHex(const QString& hex) { return QString::fromUtf8(QByteArray::fromHex(hex.toLatin1())); }

    // Statements that the steps' sessions (every user but root) sent since
    // SetUp, as the server logged them.
    QStringList stepStatements() const
    {
        static const QRegularExpression entry(
            QStringLiteral("^(?:\\d{6} +[\\d:]+)?\\s+(\\d+) (Connect|Query|Quit)\\t?(.*)$"));
        const QString log = server->generalLog().mid(logStart);
        QHash<QString, QString> userOf;
        QStringList out;
        for (const QString& line : log.split(QLatin1Char('\n'))) {
            const auto m = entry.match(line);
            if (!m.hasMatch())
                continue;
            const QString thread = m.captured(1);
            if (m.captured(2) == QLatin1String("Connect"))
                userOf[thread] = m.captured(3).section(QLatin1Char('@'), 0, 0);
            else if (m.captured(2) == QLatin1String("Query") && userOf.contains(thread)
                     && userOf[thread] != QLatin1String("root"))
                out.append(m.captured(3));
        }
        return out;
    }

    // Sessions of a user still open on the server, once the server has seen
    // every close (a dropped connection ends asynchronously there).
    int openSessions(const QString& user, int expected)
    {
        const QString sql = QStringLiteral(
                                "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE USER = '%1'")
                                .arg(user);
        QDeadlineTimer deadline(60000);
        int n = root(sql).toInt();
        while (n != expected && !deadline.hasExpired()) {
            QThread::msleep(50);
            n = root(sql).toInt();
        }
        return n;
    }

    MariaDbServer* server = nullptr;
    Sandbox box;
    TestInteraction ui;
    Desk desk;
    qsizetype logStart = 0;
};

// --------------------------------------------------------------------- Step4

TEST_F(DatabaseStepTest, Step4RecordsAKoreanNameByteExact)
{
    // 똠 exists only in CP949's extension, not in EUC-KR.
    const QString name = QStringLiteral("똠방각하 원장관리");
    addRow({name, QStringLiteral("3.1.0.25"), QStringLiteral("101")});
    addRow({QStringLiteral("Ledger"), QStringLiteral("2.1.0.5"), QStringLiteral("104")});

    ASSERT_TRUE(Step4(desk));
    EXPECT_FALSE(desk.database) << "the session is dropped after the last row";
    EXPECT_TRUE(ui.tells().isEmpty()) << s(ui.tells().join("|"));
    EXPECT_EQ(s(ui.log.join("\n")),
              s(QStringLiteral("[정상] ") + name + QStringLiteral(" 업무일지 버전기록:3.1.0.25\n")
                + QStringLiteral("[정상] Ledger 업무일지 버전기록:2.1.0.5")));

    const QStringList db = rows(QStringLiteral(
        "SELECT d.seq, d.writer, HEX(d.note), d.secret, d.writedate = CURDATE(), p.partcode"
        " FROM tv_inhouse.diary d JOIN tv_inhouse.diary_part p ON p.diaryseq = d.seq ORDER BY d.seq"));
    ASSERT_EQ(db.size(), 2) << s(db.join("|"));
    const QStringList first = db.at(0).split(QLatin1Char('\t'));
    const QStringList second = db.at(1).split(QLatin1Char('\t'));
    const QString note = QStringLiteral("* [현재버전] ") + name + QStringLiteral(" → 3.1.0.25");
    EXPECT_EQ(first.mid(1, 1) + first.mid(3), (QStringList{"dev01", "1", "1", "101"}));
    ASSERT_EQ(fromAnsi(toAnsi(note)), note) << "the note has a CP949 form";
    EXPECT_EQ(toAnsi(fromHex(first.at(2))), toAnsi(note)) << "CP949 bytes of the note";
    EXPECT_EQ(s(fromHex(first.at(2))), s(note));
    EXPECT_EQ(s(fromHex(second.at(2))), "* [현재버전] Ledger → 2.1.0.5");
    EXPECT_EQ(second.at(5), QStringLiteral("104"));

    // The program's own read path gives the same text back.
    cMySQL reader;
    ASSERT_TRUE(reader.real_connect(server->host(), site().dbUser, site().dbPassword,
                                    site().dbName, server->port()));
    RecordsetPtr rs = reader.query(QStringLiteral("SELECT note FROM diary ORDER BY seq"));
    ASSERT_TRUE(rs && !rs->isEOF());
    EXPECT_EQ(toAnsi(rs->value(0)), toAnsi(note));
}

TEST_F(DatabaseStepTest, Step4StoresQuotesBackslashesAndCraftedNamesAsText)
{
    desk.WorkDiaryId = QStringLiteral("o'neil\\");
    const QStringList names{
        QStringLiteral("Tom's Ledger"),
        QStringLiteral("C:\\새 폴더\\원장"),
        QStringLiteral("급여 '관리' \\' 끝\\"),
        QStringLiteral("x', 0), (CURDATE(), 'evil', 'injected', 0) -- "),
    };
    for (const QString& n : names)
        addRow({n, QStringLiteral("1.0'2"), QStringLiteral("102")});

    ASSERT_TRUE(Step4(desk));
    EXPECT_TRUE(ui.tells().isEmpty()) << s(ui.tells().join("|"));
    const QStringList db = rows(QStringLiteral(
        "SELECT HEX(writer), HEX(note) FROM tv_inhouse.diary ORDER BY seq"));
    ASSERT_EQ(db.size(), names.size()) << "one entry per project, nothing injected: "
                                       << s(db.join("|"));
    for (int i = 0; i < names.size(); ++i) {
        const QStringList cells = db.at(i).split(QLatin1Char('\t'));
        EXPECT_EQ(s(fromHex(cells.at(0))), "o'neil\\");
        EXPECT_EQ(s(fromHex(cells.at(1))),
                  s(QStringLiteral("* [현재버전] ") + names.at(i) + QStringLiteral(" → 1.0'2")));
    }
    EXPECT_EQ(root(QStringLiteral("SELECT COUNT(*) FROM tv_inhouse.diary_part WHERE partcode = 102")),
              QStringLiteral("4"));
}

TEST_F(DatabaseStepTest, Step4RecordsOnlyTickedProductRowsWithANumericCode)
{
    // Options that the record does not read change nothing.
    desk.chkPatchOnly.checked = true;
    desk.chkFTPAutoRemove.checked = true;
    addRow({QStringLiteral("NotTicked"), QStringLiteral("1"), QStringLiteral("101"),
            QStringLiteral("0"), false});
    addRow({QStringLiteral("FtpOnly"), QStringLiteral("1"), QStringLiteral("103"),
            QStringLiteral("1")});
    addRow({QStringLiteral("NoCode"), QStringLiteral("1"), QString()});
    addRow({QStringLiteral("Letters"), QStringLiteral("1"), QStringLiteral("10a")});
    addRow({QStringLiteral("Crafted"), QStringLiteral("1"),
            QStringLiteral("101); DELETE FROM diary; --")});
    addRow({QStringLiteral("TooBig"), QStringLiteral("1"), QStringLiteral("99999999999")});
    addRow({QStringLiteral("NoVersion"), QString(), QStringLiteral("104")});

    ASSERT_TRUE(Step4(desk));
    EXPECT_EQ(s(ui.log.join("\n")),
              "[오류] Letters 업무일지CODE가 숫자가 아닙니다.(10a)\n"
              "[오류] Crafted 업무일지CODE가 숫자가 아닙니다.(101); DELETE FROM diary; --)\n"
              "[오류] TooBig 업무일지 디테일 저장오류\n"
              "[정상] NoVersion 업무일지 버전기록:");
    // The out-of-range code fails at the server with the statement box.
    ASSERT_EQ(ui.tells().size(), 1);
    EXPECT_TRUE(ui.tells().at(0).startsWith(QStringLiteral("Error 1264 (")))
        << s(ui.tells().at(0));
    EXPECT_TRUE(ui.tells().at(0).contains(
        QStringLiteral(") in procedure query of Module cMySQL\r\n\r\nINSERT INTO diary_part")));

    // The entry of the failed detail stays without a product; an empty version
    // leaves the arrow and its blank at the end of the note.
    const QStringList db = rows(QStringLiteral(
        "SELECT HEX(note), (SELECT COUNT(*) FROM tv_inhouse.diary_part p WHERE p.diaryseq = d.seq)"
        " FROM tv_inhouse.diary d ORDER BY seq"));
    ASSERT_EQ(db.size(), 2) << s(db.join("|"));
    EXPECT_EQ(db.at(0), hexOf(QStringLiteral("* [현재버전] TooBig → 1")) + QStringLiteral("\t0"));
    EXPECT_EQ(db.at(1), hexOf(QStringLiteral("* [현재버전] NoVersion → ")) + QStringLiteral("\t1"));
    for (const QString& st : stepStatements())
        EXPECT_FALSE(st.contains(QStringLiteral("Letters")) || st.contains(QStringLiteral("Crafted"))
                     || st.contains(QStringLiteral("FtpOnly")) || st.contains(QStringLiteral("NotTicked"))
                     || st.contains(QStringLiteral("NoCode")))
            << s(st);

    // Nothing that qualifies: the step still connects, writes nothing, succeeds.
    ui.log.clear();
    desk.grid.clear();
    addRow({QStringLiteral("FtpOnly"), QStringLiteral("1"), QStringLiteral("103"),
            QStringLiteral("1")});
    const qsizetype before = stepStatements().size();
    ASSERT_TRUE(Step4(desk));
    EXPECT_TRUE(ui.log.isEmpty());
    EXPECT_EQ(stepStatements().size(), before);
    EXPECT_EQ(root(QStringLiteral("SELECT COUNT(*) FROM tv_inhouse.diary")), QStringLiteral("2"));
}

TEST_F(DatabaseStepTest, Step4WithoutAccountIdLogsAndDoesNotConnect)
{
    desk.WorkDiaryId.clear();
    addRow({QStringLiteral("Ledger"), QStringLiteral("1"), QStringLiteral("101")});
    EXPECT_FALSE(Step4(desk));
    EXPECT_EQ(s(ui.log.join("\n")),
              "[오류] 업무일지 로그인 ID를 알 수 없습니다.(Setup.ini / [General] / 업무일지ID=xxx");
    EXPECT_TRUE(ui.tells().isEmpty());
    EXPECT_FALSE(desk.database);
    EXPECT_FALSE(server->generalLog().mid(logStart).contains(QStringLiteral("tv_inhouse@")));
}

TEST_F(DatabaseStepTest, ConnectionFailuresShowTheConnectBoxAndEndTheSteps)
{
    addRow({QStringLiteral("Ledger"), QStringLiteral("1"), QStringLiteral("101"),
            QStringLiteral("0"), true, QStringLiteral("C:\\2TarvelInstalls\\TVledger2_setup_2.exe"),
            QStringLiteral("a_2.exe")});

    box.site().dbPassword = QStringLiteral("wrong");
    box.apply();
    EXPECT_FALSE(Step4(desk));
    EXPECT_FALSE(desk.database);
    ASSERT_EQ(ui.tells().size(), 1);
    EXPECT_EQ(s(ui.tells().at(0)),
              s(QStringLiteral("Error 1045 Access denied for user 'tv_inhouse'@'127.0.0.1' "
                               "(using password: YES)")
                + kCrLf + kCrLf + QStringLiteral("데이터베이스 서버에 접속할 수 없습니다.")));

    box.site().webDbPort = rh::test::refusingPort();
    box.apply();
    EXPECT_FALSE(Step5(desk));
    EXPECT_FALSE(desk.database);
    ASSERT_EQ(ui.tells().size(), 2);
    EXPECT_TRUE(ui.tells().at(1).startsWith(
        QStringLiteral("Error 2002 Can't connect to server on '127.0.0.1'")))
        << s(ui.tells().at(1));
    EXPECT_TRUE(ui.tells().at(1).endsWith(
        QStringLiteral("관련 프로그램이 데이터베이스 접속을 방해하는 경우 일 수도 있습니다.")));
    // A refused password is no reason to try again later; an unreachable server is.
    EXPECT_EQ(ui.log, QStringList{QStringLiteral("[경고] Ledger 복사파일명 a.exe - 데이터베이스에 보내지 못해 보류합니다. "
                                                 "다음 실행 때 보냅니다.")});
    EXPECT_EQ(root(QStringLiteral("SELECT COUNT(*) FROM tv_inhouse.diary")), QStringLiteral("0"));
    EXPECT_EQ(root(QStringLiteral("SELECT rname FROM webhost.file_rname WHERE code = 1")),
              QStringLiteral("L2.exe"));
}

TEST_F(DatabaseStepTest, AFailedEntryStopsTheRecordAndTheSessionIsDroppedOnClose)
{
    // An account id longer than the writer column cannot be stored.
    desk.WorkDiaryId = QString(60, QLatin1Char('k'));
    addRow({QStringLiteral("First"), QStringLiteral("1"), QStringLiteral("101")});
    addRow({QStringLiteral("Second"), QStringLiteral("1"), QStringLiteral("102")});

    EXPECT_FALSE(Step4(desk));
    EXPECT_EQ(s(ui.log.join("\n")), "[오류] First 업무일지 마스트 저장오류");
    ASSERT_EQ(ui.tells().size(), 1);
    EXPECT_TRUE(ui.tells().at(0).startsWith(QStringLiteral("Error 1406 (")))
        << s(ui.tells().at(0));
    EXPECT_EQ(stepStatements().filter(QStringLiteral("INSERT")).size(), 1)
        << "no statement for the rows after the failure";

    // The session stays with the window until it closes.
    ASSERT_TRUE(desk.database);
    EXPECT_EQ(openSessions(QStringLiteral("tv_inhouse"), 1), 1);
    ASSERT_TRUE(desk.requestClose());
    EXPECT_FALSE(desk.database);
    EXPECT_EQ(openSessions(QStringLiteral("tv_inhouse"), 0), 0);
}

TEST_F(DatabaseStepTest, AnEntryTheServerTookBeforeItsSessionDroppedIsWrittenOnce)
{
    // The server has written the entry when the session dies, before its
    // answer leaves: the entry waits in an AFTER trigger on a lock held here,
    // and MyISAM keeps the row where InnoDB would roll it back.
    root(QStringLiteral("ALTER TABLE tv_inhouse.diary ENGINE=MyISAM;"
                        "CREATE TRIGGER tv_inhouse.diary_hold AFTER INSERT ON tv_inhouse.diary"
                        " FOR EACH ROW SET @held = GET_LOCK('diary_hold', 60);"));
    struct Restore {
        MariaDbServer* db;
        ~Restore()
        {
            db->exec(QStringLiteral("DROP TRIGGER IF EXISTS tv_inhouse.diary_hold;"
                                    "ALTER TABLE tv_inhouse.diary ENGINE=InnoDB;"));
        }
    } restore{server};
    addRow({QStringLiteral("Ledger"), QStringLiteral("2.1.0.5"), QStringLiteral("104")});

    std::atomic<bool> holding{false};
    std::atomic<bool> killed{false};
    std::string failure;
    std::thread killer([&, socket = (server->folder() + QStringLiteral("/sock")).toUtf8()] {
        MYSQL* h = mysql_init(nullptr);
        auto ask = [h](const char* sql) {
            const bool ok = mysql_query(h, sql) == 0;
            MYSQL_RES* r = ok ? mysql_store_result(h) : nullptr;
            MYSQL_ROW row = r ? mysql_fetch_row(r) : nullptr;
            const QByteArray first = row && row[0] ? QByteArray(row[0]) : QByteArray();
            if (r)
                mysql_free_result(r);
            return first;
        };
        if (!mysql_real_connect(h, "localhost", "root", nullptr, nullptr, 0, socket.constData(), 0)
            || ask("SELECT GET_LOCK('diary_hold', 0)") != "1") {
            failure = mysql_error(h);
            holding = true;
            mysql_close(h);
            return;
        }
        holding = true;
        QDeadlineTimer deadline(60000);
        while (!killed && !deadline.hasExpired()) {
            const QByteArray id = ask("SELECT ID FROM information_schema.PROCESSLIST"
                                      " WHERE STATE = 'User lock' AND INFO LIKE 'SET @held = GET_LOCK(%'");
            if (!id.isEmpty())
                killed = mysql_query(h, ("KILL CONNECTION " + id).constData()) == 0;
            else
                QThread::msleep(10);
        }
        ask("SELECT RELEASE_LOCK('diary_hold')");
        mysql_close(h);
    });
    QDeadlineTimer ready(60000);
    while (!holding && !ready.hasExpired())
        QThread::msleep(5);

    EXPECT_FALSE(Step4(desk));
    killer.join();
    ASSERT_TRUE(killed) << failure;
    EXPECT_EQ(s(root(QStringLiteral("SELECT COUNT(*) FROM tv_inhouse.diary"))), "1")
        << "the entry is not sent again on a new session";
    EXPECT_TRUE(ui.log.contains(QStringLiteral("[경고] Ledger 업무일지 버전기록:2.1.0.5 - 데이터베이스에 보내지 못해 "
                                               "보류합니다. 다음 실행 때 보냅니다.")))
        << s(ui.log.join("\n"));

    // The kept record finds the entry and adds only its product.
    EXPECT_EQ(SendPendingRecords(desk), 0) << s(ui.log.join("\n"));
    EXPECT_EQ(s(root(QStringLiteral("SELECT (SELECT COUNT(*) FROM tv_inhouse.diary),"
                                    " GROUP_CONCAT(p.partcode) FROM tv_inhouse.diary d"
                                    " JOIN tv_inhouse.diary_part p ON p.diaryseq = d.seq"))),
              "1\t104");
}

TEST_F(DatabaseStepTest, AResumeOnALaterDayFindsTheEntryOfTheRunsOwnDay)
{
    // The interrupted run wrote its entry yesterday; the resume runs on
    // yesterday's clock and finds it.
    root(QStringLiteral("INSERT INTO tv_inhouse.diary (writedate, writer, note, secret) VALUES"
                        " (CURDATE() - INTERVAL 1 DAY, 'dev01', '* [현재버전] Ledger → 2.1.0.5', 1);"
                        "INSERT INTO tv_inhouse.diary_part (diaryseq, partcode) VALUES (LAST_INSERT_ID(), 104);"));
    addRow({QStringLiteral("Ledger"), QStringLiteral("2.1.0.5"), QStringLiteral("104")});
    desk.now = [] { return QDateTime::currentDateTime().addDays(-1); };
    JournalEntry earlier;
    earlier.kind = EffectKind::Sql;
    earlier.step = QStringLiteral("업무일지");
    journal().holdEarlier({earlier}, false);
    journal().begin(Journal::Mode::Resume);
    journal().setStep(QStringLiteral("업무일지"));
    Step4(desk);
    journal().end();
    EXPECT_EQ(s(root(QStringLiteral("SELECT COUNT(*), (SELECT COUNT(*) FROM tv_inhouse.diary_part)"
                                    " FROM tv_inhouse.diary"))),
              "1\t1")
        << s(ui.log.join("\n"));
}

// --------------------------------------------------------------------- Step5

TEST_F(DatabaseStepTest, CatalogueProductsByExactSetupName)
{
    EXPECT_EQ(catalogueProduct(QStringLiteral("C:\\2TarvelInstalls\\TVplantCS_setup_2.exe")).number, 3);
    const CatalogueProduct p4 = catalogueProduct(QStringLiteral("TVplantProCS_setup_2.exe"));
    EXPECT_EQ((std::array{p4.number, p4.cate3Idx, p4.cate3InfoIdx}), (std::array{4, 86, 88}));
    // Every occurrence of the folder goes; case and folder elsewhere matter.
    EXPECT_EQ(catalogueProduct(QStringLiteral("C:\\2TarvelInstalls\\C:\\2TarvelInstalls\\TVledgerCS_setup_2.exe")).number, 2);
    EXPECT_EQ(catalogueProduct(QStringLiteral("C:\\2TarvelInstalls\\tvledger2_setup_2.exe")).number, 0);
    EXPECT_EQ(catalogueProduct(QStringLiteral("D:\\2TarvelInstalls\\TVledger2_setup_2.exe")).number, 0);
    EXPECT_EQ(catalogueProduct(QStringLiteral("c:\\2tarvelinstalls\\TVledger2_setup_2.exe")).number, 0);
}

TEST_F(DatabaseStepTest, Step5UpdatesFileNamesAndDemoDownloads)
{
    desk.chkFTPAutoRemove.checked = true;
    desk.chkPatchOnly.checked = true; // not read by the catalogue update
    const QString dir = QStringLiteral("C:\\2TarvelInstalls\\");
    addRow({QStringLiteral("원장2"), QString(), QString(), QStringLiteral("0"), true,
            dir + QStringLiteral("TVledger2_setup_2.exe"),
            QStringLiteral("tvledger2_setup_ver3.1.0.25(090315)_2.exe")});
    addRow({QStringLiteral("Other"), QString(), QString(), QStringLiteral("0"), true,
            dir + QStringLiteral("other_setup_2.exe"), QStringLiteral("a_2b_2.exe")});
    addRow({QStringLiteral("NoCopy"), QString(), QString(), QStringLiteral("0"), true,
            dir + QStringLiteral("TVledgerCS_setup_2.exe"), QString()});
    addRow({QStringLiteral("FtpOnly"), QString(), QString(), QStringLiteral("1"), true,
            dir + QStringLiteral("TVplantCS_setup_2.exe"), QStringLiteral("p_2.exe")});
    addRow({QStringLiteral("Unticked"), QString(), QString(), QStringLiteral("0"), false,
            dir + QStringLiteral("TVplantCS_setup_2.exe"), QStringLiteral("p_2.exe")});
    addRow({QStringLiteral("PlantPro"), QString(), QString(), QStringLiteral("0"), true,
            dir + QStringLiteral("TVplantProCS_setup_2.exe"), QStringLiteral("pp_ver4(240101)_2.exe")});

    ASSERT_TRUE(Step5(desk));
    EXPECT_FALSE(desk.database);
    EXPECT_TRUE(ui.tells().isEmpty()) << s(ui.tells().join("|"));
    EXPECT_EQ(s(ui.log.join("\n")),
              "[성공] 원장2 복사파일명 업데이트 성공 tvledger2_setup_ver3.1.0.25(090315).exe\n"
              "[오류] Other 복사파일명 업데이트 실패\n"
              "[성공] PlantPro 복사파일명 업데이트 성공 pp_ver4(240101).exe");
    EXPECT_EQ(s(rows(QStringLiteral("SELECT code, rname FROM webhost.file_rname ORDER BY code")).join("|")),
              "1\ttvledger2_setup_ver3.1.0.25(090315).exe|2\tLCS.exe|3\tPCS.exe|4\tpp_ver4(240101).exe");
    EXPECT_EQ(s(rows(QStringLiteral("SELECT idx, DemoDownFile FROM webhost.cate3 ORDER BY idx")).join("|")),
              "48\ttvledger2_setup_ver3.1.0.25(090315).exe|49\tLCS.exe|52\tPCS.exe|86\tpp_ver4(240101).exe");
    EXPECT_EQ(s(rows(QStringLiteral("SELECT idx, DemoDownFile FROM webhost.cate3_info ORDER BY idx")).join("|")),
              "62\ttvledger2_setup_ver3.1.0.25(090315).exe|63\tLCS.exe|65\tPCS.exe|88\tpp_ver4(240101).exe");

    // The same release again leaves the rows as they are, which is no failure.
    ui.log.clear();
    ASSERT_TRUE(Step5(desk));
    EXPECT_EQ(ui.log.filter(QStringLiteral("[성공]")).size(), 2) << s(ui.log.join("\n"));
}

TEST_F(DatabaseStepTest, Step5WithoutAutoRenameTouchesOnlyFileNamesAndKeepsOddNamesExact)
{
    const QString crafted = QStringLiteral("원장 'x' \\_2.exe', a.code = 7 WHERE 1 = 1 -- _2.exe");
    addRow({QStringLiteral("원장2"), QString(), QString(), QStringLiteral("0"), true,
            QStringLiteral("C:\\2TarvelInstalls\\TVledger2_setup_2.exe"), crafted});
    addRow({QStringLiteral("Tom's"), QString(), QString(), QStringLiteral("0"), true,
            QStringLiteral("C:\\2TarvelInstalls\\TVledgerCS_setup_2.exe"),
            QStringLiteral("Tom's 원장\\ver_2.exe")});

    ASSERT_TRUE(Step5(desk));
    EXPECT_TRUE(ui.tells().isEmpty()) << s(ui.tells().join("|"));
    QString expected1 = crafted;
    expected1.remove(QStringLiteral("_2"));
    const QStringList db = rows(
        QStringLiteral("SELECT code, HEX(rname) FROM webhost.file_rname ORDER BY code"));
    EXPECT_EQ(s(db.join("|")), s(QStringLiteral("1\t") + hexOf(expected1) + QStringLiteral("|2\t")
                                 + hexOf(QStringLiteral("Tom's 원장\\ver.exe")) + QStringLiteral("|3\t")
                                 + hexOf(QStringLiteral("PCS.exe")) + QStringLiteral("|4\t")
                                 + hexOf(QStringLiteral("PPCS.exe"))));
    EXPECT_EQ(s(ui.log.join("\n")),
              s(QStringLiteral("[성공] 원장2 복사파일명 업데이트 성공 ") + expected1
                + QStringLiteral("\n[성공] Tom's 복사파일명 업데이트 성공 Tom's 원장\\ver.exe")));
    EXPECT_EQ(stepStatements().filter(QStringLiteral("cate3")).size(), 0);
    EXPECT_EQ(s(rows(QStringLiteral("SELECT DemoDownFile FROM webhost.cate3 ORDER BY idx")).join("|")),
              "L2.exe|LCS.exe|PCS.exe|PPCS.exe");
}

} // namespace
