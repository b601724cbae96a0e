// cMySQL against a real MariaDB server started for this executable.
#include "db/cmysql.h"
#include "mariadb_fixture.h"
#include "pipeline/pendingrecords.h"
#include "ports.h"
#include "testinteraction.h"

#include "site/apphome.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/profile.h"
#include "site/sitecfg.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <errmsg.h>
#include <mysql.h>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <optional>
#include <thread>

using namespace rh;
using rh::test::MariaDbEnvironment;
using rh::test::MariaDbServer;
using rh::test::TestInteraction;

namespace {

auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new MariaDbEnvironment);

const QString kCrLf = QStringLiteral("\r\n");
const QString kCannotConnect = QStringLiteral("데이터베이스 서버에 접속할 수 없습니다.");
const QString kUnreachableHint = kCrLf + kCrLf
    + QStringLiteral("인터넷이 연결되어 있는지 확인 해 주세요.") + kCrLf + kCrLf
    + QStringLiteral("인터넷이 연결되어 있다면 방화벽이나 각종 스파이웨어 차단 프로그램이 "
                     "가동중인지 확인해 주세요.")
    + kCrLf + QStringLiteral("관련 프로그램이 데이터베이스 접속을 방해하는 경우 일 수도 있습니다.");

std::string s(const QString& q)
{
    return q.toStdString();
}

// A second session that kills statements starting with `prefix` as soon as
// they run, at most `maxKills` times, for up to `seconds`. Meanwhile it holds
// the lock a kHeldStatement waits for, so that statement runs until it is
// killed or the killer is done, however slow the machine.
const QString kHeldStatement = QStringLiteral("SELECT GET_LOCK('rh_held', 60) AS ");

class StatementKiller {
public:
    StatementKiller(const MariaDbServer& server, QByteArray prefix, int maxKills, int seconds = 60)
    {
        m_thread = std::thread([this, socket = (server.folder() + "/sock").toUtf8(),
                                prefix = std::move(prefix), maxKills, seconds] {
            MYSQL* h = mysql_init(nullptr);
            if (!mysql_real_connect(h, "localhost", "root", nullptr, nullptr, 0, socket.constData(),
                                    0)) {
                m_error = mysql_error(h);
                mysql_close(h);
                m_ready = true;
                return;
            }
            if (mysql_query(h, "DO GET_LOCK('rh_held', 0)") != 0)
                m_error = mysql_error(h);
            m_ready = true;
            const QByteArray look = "SELECT ID FROM information_schema.PROCESSLIST WHERE INFO LIKE '"
                + QByteArray(prefix).replace('\'', "''") + "%' AND USER <> 'root'";
            QElapsedTimer t;
            t.start();
            while (m_kills < maxKills && !m_stop && t.elapsed() < seconds * 1000) {
                if (mysql_query(h, look.constData()) == 0) {
                    MYSQL_RES* r = mysql_store_result(h);
                    while (MYSQL_ROW row = r ? mysql_fetch_row(r) : nullptr) {
                        if (mysql_query(h, (QByteArray("KILL ") + row[0]).constData()) == 0)
                            ++m_kills;
                    }
                    if (r)
                        mysql_free_result(r);
                }
                QThread::msleep(10);
            }
            mysql_close(h);
        });
        // The statement to kill goes out only once the killer is watching.
        QElapsedTimer t;
        t.start();
        while (!m_ready && t.elapsed() < 60000)
            QThread::msleep(5);
    }
    ~StatementKiller() { join(); }
    int join()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        return m_kills;
    }
    std::string error() const { return m_error; }

private:
    std::thread m_thread;
    std::atomic<int> m_kills{0};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_ready{false};
    std::string m_error;
};

class MySqlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server = MariaDbEnvironment::server();
        ASSERT_NE(server, nullptr) << "the MariaDB server did not start";
        ASSERT_TRUE(home.isValid());
        setProgramFolder(home.path());
        setSite(server->siteConfig());
    }
    void TearDown() override { setSite(SiteConfig()); }

    bool connect(cMySQL& db, const QString& user = QStringLiteral("tv_inhouse"),
                 const QString& password = QString(), const QString& charSet = QString())
    {
        const QString pw = !password.isEmpty()            ? password
            : user == MariaDbServer::developerUser() ? MariaDbServer::developerPassword()
                                                     : site().dbPassword;
        return db.real_connect(server->host(), user, pw, QStringLiteral("tv_inhouse"),
                               server->port(), QString(), 0, false, charSet);
    }

    QString root(const QString& sql)
    {
        QString out, err;
        EXPECT_TRUE(server->exec(sql, &out, &err)) << s(err) << " in " << s(sql);
        return out.trimmed();
    }

    QString config(const QString& section, const QString& key) const
    {
        return GetPrivateProfileText(section, key, QStringLiteral("<none>"),
                                     home.path() + QStringLiteral("/config.ini"));
    }

    // Statements the server logged for one connection thread.
    QStringList statementsOf(qint32 thread) const { return statementsOf(thread, *server); }
    static QStringList statementsOf(qint32 thread, const MariaDbServer& on)
    {
        QStringList out;
        const QString tag = QString::number(thread) + QStringLiteral(" Query\t");
        for (const QString& line : on.generalLog().split(QLatin1Char('\n'))) {
            const qsizetype at = line.indexOf(tag);
            if (at >= 0 && (at == 0 || !line.at(at - 1).isDigit()))
                out.append(line.mid(at + tag.size()));
        }
        return out;
    }

    MariaDbServer* server = nullptr;
    QTemporaryDir home;
    TestInteraction ui;
};

TEST_F(MySqlTest, ConnectFailuresShowTheLibraryTextAndTheMessage)
{
    {
        cMySQL db;
        EXPECT_FALSE(connect(db, QStringLiteral("tv_inhouse"), QStringLiteral("wrong")));
        ASSERT_EQ(ui.tells().size(), 1);
        EXPECT_EQ(s(ui.tells().at(0)),
                  s(QStringLiteral("Error 1045 Access denied for user 'tv_inhouse'@'127.0.0.1' "
                                   "(using password: YES)")
                    + kCrLf + kCrLf + kCannotConnect));
        EXPECT_EQ(ui.messages.at(0).title, appTitle());
    }
    {
        // NoErrMsg: the same failure without a box.
        cMySQL db;
        EXPECT_FALSE(db.real_connect(server->host(), QStringLiteral("tv_inhouse"),
                                     QStringLiteral("wrong"), QStringLiteral("tv_inhouse"),
                                     server->port(), QString(), 0, true));
        EXPECT_TRUE(db.NoErrMsg());
        EXPECT_EQ(ui.tells().size(), 1);
    }
    {
        // Nothing listening: the unreachable-host advice follows.
        cMySQL db;
        EXPECT_FALSE(db.real_connect(QStringLiteral("127.0.0.1"), QStringLiteral("tv_inhouse"),
                                     site().dbPassword, QStringLiteral("tv_inhouse"),
                                     rh::test::refusingPort()));
        ASSERT_EQ(ui.tells().size(), 2);
        const QString text = ui.tells().at(1);
        EXPECT_TRUE(text.startsWith(QStringLiteral("Error 2002 Can't connect to server on "
                                                   "'127.0.0.1'")))
            << s(text);
        EXPECT_TRUE(text.endsWith(kCrLf + kCrLf + kCannotConnect + kUnreachableHint)) << s(text);
    }
    // A failed connect files no thread id.
    EXPECT_EQ(s(config(QStringLiteral("LPID"), QStringLiteral("tv_inhouse"))), "<none>");
}

TEST_F(MySqlTest, FrozenServerEndsTheStatementWithinTheTimeouts)
{
    SiteConfig cfg = server->siteConfig();
    cfg.dbConnectTimeoutSec = 2;
    cfg.dbReadTimeoutSec = 2;
    cfg.dbWriteTimeoutSec = 2;
    setSite(cfg);
    cMySQL db;
    ASSERT_TRUE(connect(db));
    QFile pidFile(server->folder() + QStringLiteral("/mariadbd.pid"));
    ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly));
    const pid_t pid = pid_t(pidFile.readAll().trimmed().toInt());
    ASSERT_GT(pid, 0);
    struct Thaw {
        pid_t pid;
        ~Thaw() { ::kill(pid, SIGCONT); }
    } thaw{pid};
    ASSERT_EQ(::kill(pid, SIGSTOP), 0);

    // The statement times out, the reconnect times out, and one box says so:
    // two 2-second limits in a row, so within 3 x 4 s + 5 s.
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(db.query(QStringLiteral("SELECT 1"), false), nullptr);
    EXPECT_LT(t.elapsed(), (3 * (2 + 2) + 5) * 1000);
    ASSERT_EQ(ui.tells().size(), 1);
    EXPECT_TRUE(ui.tells()[0].contains(kCannotConnect)) << s(ui.tells()[0]);
    EXPECT_TRUE(isDatabaseUnreachable(db.err_no())) << db.err_no();
}

TEST_F(MySqlTest, RememberedValuesPortRuleAndCompressionFlag)
{
    cMySQL db;
    EXPECT_EQ(db.port(), 0);
    EXPECT_FALSE(db.NoErrMsg());

    ASSERT_TRUE(db.real_connect(server->host(), QStringLiteral("tv_inhouse"), site().dbPassword,
                                QStringLiteral("tv_inhouse"), server->port(), QString(), 2));
    EXPECT_EQ(db.host(), server->host());
    EXPECT_EQ(db.user(), QStringLiteral("tv_inhouse"));
    EXPECT_EQ(db.db(), QStringLiteral("tv_inhouse"));
    EXPECT_EQ(db.port(), server->port());
    EXPECT_EQ(db.ClientFlags(), 34);
    // The compression bit really reached the server.
    RecordsetPtr rs = db.query(QStringLiteral("SHOW SESSION STATUS LIKE 'Compression'"));
    ASSERT_TRUE(rs);
    EXPECT_EQ(s(rs->value(1)), "ON");

    // 3306 is not remembered (and here nothing listens on it).
    EXPECT_FALSE(db.real_connect(QString(), QString(), QString(), QString(), 3306, QString(), 0,
                                 true));
    EXPECT_EQ(db.port(), server->port());
    EXPECT_EQ(db.ClientFlags(), 32);

    // Empty values keep the remembered ones: this connects again.
    EXPECT_TRUE(db.real_connect(QString(), QString(), QString(), QString(), server->port()));
    EXPECT_FALSE(db.NoErrMsg());
    rs = db.query(QStringLiteral("SELECT CURRENT_USER(), DATABASE()"));
    ASSERT_TRUE(rs);
    EXPECT_EQ(s(rs->value(0)), "tv_inhouse@%");
    EXPECT_EQ(s(rs->value(1)), "tv_inhouse");
    EXPECT_TRUE(ui.tells().isEmpty()) << s(ui.tells().join("|"));
}

TEST_F(MySqlTest, ThreadIdsAreFiledInConfigIni)
{
    // Foreign content of config.ini survives.
    ASSERT_TRUE(WritePrivateProfileText(QStringLiteral("Other"), QStringLiteral("k"),
                                        QStringLiteral("v"),
                                        home.path() + QStringLiteral("/config.ini")));
    cMySQL first;
    ASSERT_TRUE(connect(first));
    const qint32 id1 = first.thread_id();
    cMySQL second;
    ASSERT_TRUE(connect(second));
    const qint32 id2 = second.thread_id();
    ASSERT_NE(id1, id2);

    EXPECT_EQ(s(config(QStringLiteral("LPID"), QStringLiteral("tv_inhouse"))),
              s(QString::number(id2)));
    EXPECT_EQ(s(config(QStringLiteral("LPID2"), QStringLiteral("tv_inhouse"))),
              s(QString::number(id1)));
    EXPECT_EQ(s(config(QStringLiteral("Other"), QStringLiteral("k"))), "v");

    // thread_id is the server's own CONNECTION_ID().
    RecordsetPtr rs = second.query(QStringLiteral("SELECT CONNECTION_ID()"));
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->value(0).toInt(), id2);
}

TEST_F(MySqlTest, StatementsResultsAndCellTexts)
{
    root(QStringLiteral("CREATE TABLE tv_inhouse.cells (id INT AUTO_INCREMENT PRIMARY KEY, "
                        "txt VARCHAR(20) NULL, num INT NULL) ENGINE=InnoDB"));
    cMySQL db;
    ASSERT_TRUE(connect(db));

    // An INSERT has no result set; the counts come from affected_rows/insert_id.
    EXPECT_FALSE(db.query(QStringLiteral("INSERT INTO cells (txt, num) VALUES ('abc  ', NULL)")));
    EXPECT_EQ(db.affected_rows(), 1);
    const qint32 firstId = db.insert_id();
    EXPECT_GT(firstId, 0);
    EXPECT_FALSE(db.query(QStringLiteral("INSERT INTO cells (txt, num) VALUES "
                                         "(CONCAT('ab', CHAR(0), 'cd'), 7), ('  lead', 8)")));
    EXPECT_EQ(db.affected_rows(), 2);

    RecordsetPtr rs = db.query(QStringLiteral("SELECT txt, num FROM cells ORDER BY id"));
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->state(), Recordset::adStateOpen);
    EXPECT_EQ(db.affected_rows(), 3); // a SELECT counts its rows
    EXPECT_EQ(db.num_rows(), 3);
    EXPECT_EQ(db.num_fields(), 2);
    ASSERT_EQ(rs->recordCount(), 3);
    EXPECT_EQ(rs->field(0).definedSize, 20);
    EXPECT_EQ(rs->field(0).type, Recordset::FieldType::WideText);
    // Cursor on the first row; trailing blanks go, NULL is the empty text.
    EXPECT_EQ(s(rs->value(QStringLiteral("txt"))), "abc");
    EXPECT_EQ(s(rs->value(QStringLiteral("NUM"))), "");
    rs->moveNext();
    EXPECT_EQ(s(rs->value(0)), "ab"); // cut at the NUL
    EXPECT_EQ(s(rs->value(1)), "7");
    rs->moveNext();
    EXPECT_EQ(s(rs->value(0)), "  lead"); // leading blanks stay
    rs->moveNext();
    EXPECT_TRUE(rs->isEOF());

    // An empty result is a record set at its end, not none.
    rs = db.query(QStringLiteral("SELECT txt FROM cells WHERE id < 0"));
    ASSERT_TRUE(rs);
    EXPECT_TRUE(rs->isEOF());
    EXPECT_EQ(db.affected_rows(), 0);
    EXPECT_TRUE(ui.tells().isEmpty());

    // A failing statement: the box with the statement, no result, count -1.
    EXPECT_FALSE(db.query(QStringLiteral("SELEC 1")));
    ASSERT_EQ(ui.tells().size(), 1);
    EXPECT_TRUE(ui.tells().at(0).startsWith(QStringLiteral("Error 1064 (You have an error in your "
                                                           "SQL syntax")))
        << s(ui.tells().at(0));
    EXPECT_TRUE(ui.tells().at(0).endsWith(
        QStringLiteral(") in procedure query of Module cMySQL\r\n\r\nSELEC 1")));
    EXPECT_EQ(db.affected_rows(), -1);
    EXPECT_FALSE(db.query(QStringLiteral("SELEC 2"), true)); // Silent
    EXPECT_EQ(ui.tells().size(), 1);
}

TEST_F(MySqlTest, DuplicateColumnNamesAreQualifiedByTable)
{
    root(QStringLiteral("USE tv_inhouse;"
                        "CREATE TABLE a (id INT PRIMARY KEY, name VARCHAR(10));"
                        "CREATE TABLE b (id INT PRIMARY KEY, name VARCHAR(10));"
                        "CREATE TABLE c (id INT PRIMARY KEY, name VARCHAR(10));"
                        "INSERT INTO a VALUES (1, 'alpha'); INSERT INTO b VALUES (1, 'beta');"
                        "INSERT INTO c VALUES (1, 'gamma');"));
    cMySQL db;
    ASSERT_TRUE(connect(db));
    RecordsetPtr rs = db.query(QStringLiteral(
        "SELECT a.name, b.name, c.name, a.id AS ida FROM a JOIN b ON b.id = a.id "
        "JOIN c ON c.id = a.id"));
    ASSERT_TRUE(rs);
    ASSERT_EQ(rs->fieldCount(), 4);
    EXPECT_EQ(s(rs->field(0).name), "a.name");
    EXPECT_EQ(s(rs->field(1).name), "b.name");
    EXPECT_EQ(s(rs->field(2).name), "name"); // only qualified names before it
    EXPECT_EQ(s(rs->field(3).name), "ida");
    EXPECT_EQ(s(rs->value(QStringLiteral("b.name"))), "beta");
    EXPECT_EQ(s(rs->value(QStringLiteral("name"))), "gamma");
}

TEST_F(MySqlTest, KoreanTextAndEscapedValuesRoundTripExactly)
{
    root(QStringLiteral("CREATE TABLE tv_inhouse.texts (id INT PRIMARY KEY, t VARCHAR(100))"));
    cMySQL db;
    ASSERT_TRUE(connect(db));

    // "똠", "뷁" and "햏" exist in CP949 (UHC) but not in EUC-KR.
    const QString korean = QStringLiteral("* [현재버전] 가계부 → 2.1.0.5 똠 뷁 햏");
    ASSERT_TRUE(isValidAnsi(toAnsi(korean)));
    EXPECT_FALSE(db.query(QStringLiteral("INSERT INTO texts VALUES (1, '") + korean
                          + QStringLiteral("')")));
    ASSERT_EQ(db.affected_rows(), 1);
    RecordsetPtr rs = db.query(QStringLiteral("SELECT t, HEX(t), CHAR_LENGTH(t) FROM texts "
                                              "WHERE id = 1"));
    ASSERT_TRUE(rs);
    EXPECT_EQ(s(rs->value(0)), s(korean));
    EXPECT_EQ(toAnsi(rs->value(0)), toAnsi(korean));
    // The server holds the very characters, not '?' substitutes.
    EXPECT_EQ(s(rs->value(1)), korean.toUtf8().toHex().toUpper().toStdString());
    EXPECT_EQ(rs->value(2).toInt(), korean.size());
    // ... and finds them by value.
    rs = db.query(QStringLiteral("SELECT id FROM texts WHERE t LIKE '%똠%'"));
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->recordCount(), 1);

    // A quote, a backslash, Korean and trailing blanks through the escaping.
    const QString tricky = QStringLiteral("O'Brien \\ 한글\\' 똠 \"q\" ; --  ");
    const QString escaped = db.escape_string(tricky);
    EXPECT_FALSE(db.query(QStringLiteral("INSERT INTO texts VALUES (2, '") + escaped
                          + QStringLiteral("')")));
    ASSERT_EQ(db.affected_rows(), 1) << s(ui.tells().join("|"));
    rs = db.query(QStringLiteral("SELECT HEX(t) FROM texts WHERE id = 2"));
    ASSERT_TRUE(rs);
    EXPECT_EQ(s(rs->value(0)), tricky.toUtf8().toHex().toUpper().toStdString());

    // from_length counts bytes of the ANSI code page: 4 bytes are two syllables.
    QString to;
    db.escape_string(to, QStringLiteral("한'글abc"), 5);
    EXPECT_EQ(s(to), "한\\'글");
    EXPECT_TRUE(ui.tells().isEmpty()) << s(ui.tells().join("|"));
}

// The utf8mb4 form is the case above; this is the legacy form of tables shared
// with older CP949 tools.
TEST_F(MySqlTest, AnsiBytesCharsetKeepsCp949BytesInLegacyTables)
{
    root(QStringLiteral("CREATE TABLE tv_inhouse.legacy (id INT PRIMARY KEY, t VARCHAR(100)) "
                        "CHARACTER SET latin1"));
    // What an older tool left there: CP949 bytes.
    root(QStringLiteral("INSERT INTO tv_inhouse.legacy VALUES (1, UNHEX('%1'))")
             .arg(QString::fromLatin1(toAnsi(QStringLiteral("원장 똠")).toHex())));
    SiteConfig legacy = site();
    legacy.dbCharSet = QStringLiteral("ansi-bytes");
    setSite(legacy);
    cMySQL db;
    ASSERT_TRUE(connect(db));
    RecordsetPtr rs = db.query(QStringLiteral("SELECT t FROM legacy WHERE id = 1"));
    ASSERT_TRUE(rs);
    EXPECT_EQ(s(rs->value(0)), s(QStringLiteral("원장 똠")));

    const QString korean = QStringLiteral("* [현재버전] 가계부 → 똠 뷁 O'k");
    EXPECT_FALSE(db.query(QStringLiteral("INSERT INTO legacy VALUES (2, '") + db.escape_string(korean)
                          + QStringLiteral("')")));
    ASSERT_EQ(db.affected_rows(), 1) << s(ui.tells().join("|"));
    EXPECT_EQ(s(root(QStringLiteral("SELECT HEX(t) FROM tv_inhouse.legacy WHERE id = 2"))),
              toAnsi(korean).toHex().toUpper().toStdString());
    rs = db.query(QStringLiteral("SELECT id, t FROM legacy WHERE t LIKE '%뷁%'"));
    ASSERT_TRUE(rs);
    ASSERT_EQ(rs->recordCount(), 1);
    EXPECT_EQ(s(rs->value(1)), s(korean));
    EXPECT_TRUE(ui.tells().isEmpty()) << s(ui.tells().join("|"));

    // A value the option does not know is a clear refusal, not a guess.
    legacy.dbCharSet = QStringLiteral("euckr");
    setSite(legacy);
    cMySQL unknown;
    EXPECT_FALSE(connect(unknown));
    ASSERT_EQ(ui.tells().size(), 1);
    EXPECT_TRUE(ui.tells().at(0).startsWith(QStringLiteral("Error 2019 Can't initialize character set euckr")))
        << s(ui.tells().at(0));
    EXPECT_TRUE(ui.tells().at(0).endsWith(kCannotConnect));
}

TEST_F(MySqlTest, KilledConnectionIsReconnectedAndTheStatementResent)
{
    cMySQL db;
    ASSERT_TRUE(connect(db));
    const qint32 oldThread = db.thread_id();
    root(QStringLiteral("KILL %1").arg(oldThread));

    RecordsetPtr rs = db.query(QStringLiteral("SELECT 40 + 2 AS answer"));
    ASSERT_TRUE(rs) << s(ui.tells().join("|"));
    EXPECT_EQ(s(rs->value(QStringLiteral("answer"))), "42");
    EXPECT_TRUE(ui.tells().isEmpty());
    const qint32 newThread = db.thread_id();
    EXPECT_NE(newThread, oldThread);
    // The new connection killed the old thread, and the ids were filed again.
    EXPECT_TRUE(statementsOf(newThread).contains(QStringLiteral("KILL %1").arg(oldThread)))
        << s(statementsOf(newThread).join("|"));
    EXPECT_EQ(s(config(QStringLiteral("LPID"), QStringLiteral("tv_inhouse"))),
              s(QString::number(newThread)));
    EXPECT_EQ(s(config(QStringLiteral("LPID2"), QStringLiteral("tv_inhouse"))),
              s(QString::number(oldThread)));

    // Lost in the middle of a statement: one resend completes it.
    const QString once = kHeldStatement + QStringLiteral("once");
    StatementKiller killer(*server, once.toUtf8(), 1);
    rs = db.query(once);
    EXPECT_EQ(killer.join(), 1) << killer.error();
    ASSERT_TRUE(rs) << s(ui.tells().join("|"));
    EXPECT_EQ(s(rs->value(0)), "1");
    EXPECT_TRUE(ui.tells().isEmpty());

    // A change on a connection killed while idle goes out once, on a new one.
    root(QStringLiteral("DELETE FROM tv_inhouse.diary WHERE writer = 'idle'; KILL %1").arg(db.thread_id()));
    EXPECT_FALSE(db.query(QStringLiteral("INSERT INTO diary (writedate, writer, note) VALUES (CURDATE(), 'idle', 'x')")));
    EXPECT_TRUE(ui.tells().isEmpty()) << s(ui.tells().join("|"));
    EXPECT_EQ(s(root(QStringLiteral("SELECT COUNT(*) FROM tv_inhouse.diary WHERE writer = 'idle'"))), "1");
}

TEST_F(MySqlTest, SecondLossOnTheResendGivesUp)
{
    cMySQL db;
    ASSERT_TRUE(connect(db));
    const QString sql = kHeldStatement + QStringLiteral("twice");
    {
        StatementKiller killer(*server, sql.toUtf8(), 3);
        EXPECT_FALSE(db.query(sql)); // returns after its last attempt
        EXPECT_EQ(killer.join(), 2) << killer.error();
    }
    ASSERT_EQ(ui.tells().size(), 1);
    EXPECT_EQ(s(ui.tells().at(0)),
              s(QStringLiteral("Error 2013 (Lost connection to server during query) in procedure "
                               "query of Module cMySQL\r\n\r\n")
                + sql));
    {
        // The connection is still the lost one: the first send fails at once
        // (2006), the reconnected resend is killed, and that is the end.
        StatementKiller killer(*server, sql.toUtf8(), 3);
        EXPECT_FALSE(db.query(sql, true)); // Silent: no box
        EXPECT_EQ(killer.join(), 1) << killer.error();
    }
    EXPECT_EQ(ui.tells().size(), 1);
    // The object stays usable: the next statement reconnects.
    RecordsetPtr rs = db.query(QStringLiteral("SELECT 1"));
    ASSERT_TRUE(rs);
    EXPECT_EQ(s(rs->value(0)), "1");
}

class MySqlDeadlockTest : public MySqlTest {
protected:
    void SetUp() override
    {
        MySqlTest::SetUp();
        if (HasFatalFailure())
            return;
        QString values;
        for (int i = 1; i <= 60; ++i) {
            values += QStringLiteral("%1(%2, 0)").arg(i > 1 ? "," : "").arg(i);
            // One row at a time by key: a scan would touch row 1 first.
            if (i > 1)
                otherRows += QStringLiteral("UPDATE dl SET v = v + 10 WHERE id = %1;").arg(i);
        }
        root(QStringLiteral("DROP TABLE IF EXISTS tv_inhouse.dl;"
                            "CREATE TABLE tv_inhouse.dl (id INT PRIMARY KEY, v INT) ENGINE=InnoDB;"
                            "INSERT INTO tv_inhouse.dl VALUES ")
             + values);
    }

    // `db` holds row 1 and asks for row 2 while a heavier second session holds
    // rows 2..60 and waits for row 1: the server picks `db` as the victim.
    RecordsetPtr provokeDeadlock(cMySQL& db, const QString& statement)
    {
        EXPECT_FALSE(db.query(QStringLiteral("START TRANSACTION")));
        EXPECT_FALSE(db.query(QStringLiteral("UPDATE dl SET v = v + 1 WHERE id = 1")));
        other = server->execAsync(QStringLiteral(
            "USE tv_inhouse; START TRANSACTION;") + otherRows
            + QStringLiteral("UPDATE dl SET v = v + 10 WHERE id = 1; COMMIT;"));
        QElapsedTimer t;
        t.start();
        while (root(QStringLiteral("SELECT COUNT(*) FROM information_schema.INNODB_TRX "
                                   "WHERE trx_state = 'LOCK WAIT'"))
                   != QLatin1String("1")
               && t.elapsed() < 60000)
            QThread::msleep(20);
        return db.query(statement);
    }

    void finishOther()
    {
        ASSERT_TRUE(other);
        ASSERT_TRUE(other->waitForFinished(30000));
        EXPECT_EQ(other->exitCode(), 0) << other->readAllStandardError().toStdString();
    }

    std::unique_ptr<QProcess> other;
    QString otherRows;
};

TEST_F(MySqlDeadlockTest, DeveloperAccountRetriesAfterADeadlock)
{
    cMySQL db;
    ASSERT_TRUE(connect(db, MariaDbServer::developerUser()));
    const qint32 before = db.thread_id();
    QElapsedTimer t;
    t.start();
    const QString update = QStringLiteral("UPDATE dl SET v = v + 100 WHERE id = 2");
    EXPECT_FALSE(provokeDeadlock(db, update));
    EXPECT_GE(t.elapsed(), 500); // the pause before the retry
    EXPECT_EQ(db.affected_rows(), 1);
    EXPECT_TRUE(ui.tells().isEmpty()) << s(ui.tells().join("|"));
    EXPECT_NE(db.thread_id(), before); // retried on a new connection
    finishOther();
    // Row 1: only the other session's change (ours was rolled back); row 2: both.
    EXPECT_EQ(s(root(QStringLiteral("SELECT GROUP_CONCAT(v ORDER BY id) FROM tv_inhouse.dl "
                                    "WHERE id <= 2"))),
              "10,110");
}

TEST_F(MySqlDeadlockTest, OtherAccountsGetTheErrorBox)
{
    // The built-in developer account, not the test's: the program's own user
    // must not take the developer's retry path.
    SiteConfig builtIn = site();
    builtIn.developerAccount = SiteConfig().developerAccount;
    setSite(builtIn);
    cMySQL db;
    ASSERT_TRUE(connect(db));
    const qint32 before = db.thread_id();
    const QString update = QStringLiteral("UPDATE dl SET v = v + 100 WHERE id = 2");
    EXPECT_FALSE(provokeDeadlock(db, update));
    ASSERT_EQ(ui.tells().size(), 1);
    EXPECT_EQ(s(ui.tells().at(0)),
              s(QStringLiteral("Error 1213 (Deadlock found when trying to get lock; try restarting "
                               "transaction) in procedure query of Module cMySQL\r\n\r\n")
                + update));
    EXPECT_EQ(db.thread_id(), before);
    finishOther();
    EXPECT_EQ(s(root(QStringLiteral("SELECT GROUP_CONCAT(v ORDER BY id) FROM tv_inhouse.dl "
                                    "WHERE id <= 2"))),
              "10,10");
}

TEST_F(MySqlTest, CharacterSetIsOnlyNegotiatedWithVersion5Servers)
{
    cMySQL plain;
    ASSERT_TRUE(connect(plain));
    EXPECT_TRUE(statementsOf(plain.thread_id()).isEmpty())
        << s(statementsOf(plain.thread_id()).join("|"));

    // A 10.x server: the version is asked, "set names" is not sent.
    cMySQL withSet;
    ASSERT_TRUE(connect(withSet, QStringLiteral("tv_inhouse"), QString(), QStringLiteral("euckr")));
    EXPECT_EQ(s(withSet.sCharSet()), "euckr");
    EXPECT_EQ(s(statementsOf(withSet.thread_id()).join("|")), "SHOW VARIABLES LIKE 'version'");

    // A server that announces version 5 gets the other character set, and the
    // session then runs in it; a set it already has is not sent again.
    MariaDbServer v5({QStringLiteral("--version=5.7.44-log")});
    ASSERT_TRUE(v5.start()) << s(v5.diagnostics());
    const auto sessionOn = [&](cMySQL& db, const QString& charSet) {
        return db.real_connect(v5.host(), QStringLiteral("tv_inhouse"), site().dbPassword, QStringLiteral("tv_inhouse"),
                               v5.port(), QString(), 0, false, charSet);
    };
    cMySQL korean;
    ASSERT_TRUE(sessionOn(korean, QStringLiteral("euckr")));
    // (The library's own "SET NAMES" may follow: it keeps its escaping in step.)
    EXPECT_EQ(s(statementsOf(korean.thread_id(), v5).mid(0, 3).join("|")),
              "SHOW VARIABLES LIKE 'version'|SHOW VARIABLES like 'character_set_client'|set names euckr");
    RecordsetPtr rs = korean.query(QStringLiteral("SHOW VARIABLES LIKE 'character_set_client'"));
    ASSERT_TRUE(rs && !rs->isEOF());
    EXPECT_EQ(s(rs->value(1)), "euckr");
    rs.reset();
    cMySQL same;
    ASSERT_TRUE(sessionOn(same, QStringLiteral("utf8mb4")));
    EXPECT_EQ(s(statementsOf(same.thread_id(), v5).join("|")),
              "SHOW VARIABLES LIKE 'version'|SHOW VARIABLES like 'character_set_client'");
    EXPECT_TRUE(ui.tells().isEmpty()) << s(ui.tells().join("|"));
}

TEST_F(MySqlTest, ThinWrappersRaiseWithTheirSource)
{
    cMySQL db;
    ASSERT_TRUE(connect(db, MariaDbServer::developerUser()));
    EXPECT_NO_THROW(db.ping());
    EXPECT_TRUE(db.get_server_info().startsWith(QLatin1String("10."))) << s(db.get_server_info());
    EXPECT_GE(db.get_proto_info(), 10);
    EXPECT_FALSE(db.get_client_info().isEmpty());
    EXPECT_TRUE(db.get_host_info().contains(QLatin1String("127.0.0.1")));
    EXPECT_TRUE(db.stat().contains(QLatin1String("Uptime")));

    try {
        db.select_db(QStringLiteral("no_such_db"));
        ADD_FAILURE() << "select_db did not raise";
    } catch (const RhError& e) {
        EXPECT_EQ(e.number(), 1044);
        EXPECT_EQ(s(e.source()), "cMysql::select_db");
    }
    EXPECT_EQ(s(db.db()), "tv_inhouse");
    try {
        db.create_db(QStringLiteral("rh_forbidden"));
        ADD_FAILURE() << "create_db did not raise";
    } catch (const RhError& e) {
        EXPECT_EQ(e.number(), 1044);
        EXPECT_EQ(s(e.source()), "cMysql::create_db");
    }
    db.select_db(QStringLiteral("webhost"));
    EXPECT_EQ(s(db.db()), "webhost");
    // Errors raise with their source and do not reconnect or show a box.
    try {
        db.real_query(QStringLiteral("SELECT * FROM file_rname_nope"), -1);
        ADD_FAILURE() << "real_query did not raise";
    } catch (const RhError& e) {
        EXPECT_EQ(e.number(), 1146);
        EXPECT_EQ(s(e.source()), "cMysql::real_query");
    }
    EXPECT_TRUE(ui.tells().isEmpty());

    RecordsetPtr rs = db.list_tables(QStringLiteral("cate3%"));
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->recordCount(), 2);
    EXPECT_EQ(db.num_rows(), 2);
    // free_result releases the library result only when asked to.
    db.free_result();
    EXPECT_EQ(db.num_rows(), 2);
    db.setDoMemFree(true);
    db.free_result();
    EXPECT_EQ(db.num_rows(), 0);

    // real_query's Length counts ANSI bytes: the tail after them is not sent.
    const QString head = QStringLiteral("SELECT '가나다' AS x");
    rs = db.real_query(head + QStringLiteral(" FROM nowhere"), qint32(toAnsi(head).size()));
    ASSERT_TRUE(rs);
    EXPECT_EQ(s(rs->value(QStringLiteral("x"))), "가나다");
}

// The statements of the work diary, the download catalogue and the login run
// against the schema with the configured accounts.
TEST_F(MySqlTest, ProgramStatementsSucceedWithTheConfiguredAccounts)
{
    cMySQL inhouse;
    ASSERT_TRUE(inhouse.real_connect(site().dbServerAddress, site().dbUser, site().dbPassword,
                                     site().dbName, site().dbPort));
    EXPECT_FALSE(inhouse.query(QStringLiteral(
        "INSERT INTO diary (writedate, writer, note, secret) VALUES ( CURDATE(),'abc',"
        "'* [현재버전] Ledger → 2.1.0.5', 1)")));
    ASSERT_EQ(inhouse.affected_rows(), 1);
    const qint32 seq = inhouse.insert_id();
    ASSERT_GT(seq, 0);
    EXPECT_FALSE(inhouse.query(QStringLiteral("INSERT INTO diary_part (diaryseq, partcode) "
                                              "VALUES (%1, 17)")
                                   .arg(seq)));
    EXPECT_EQ(inhouse.affected_rows(), 1);
    EXPECT_FALSE(inhouse.query(QStringLiteral(
        "INSERT INTO user (id, password2, hidden) VALUES ('kim', SHA1('secret'), 0)")));
    EXPECT_FALSE(inhouse.query(QStringLiteral(
        "INSERT INTO user_mac (user_id, mac_addr, block) VALUES ('kim', '001122AABBCC', 0)")));
    RecordsetPtr rs = inhouse.query(QStringLiteral(
        "SELECT user_id FROM user_mac WHERE mac_addr = '001122AABBCC' AND block = 0"));
    ASSERT_TRUE(rs);
    EXPECT_EQ(s(rs->value(QStringLiteral("user_id"))), "kim");
    rs = inhouse.query(QStringLiteral("SELECT *, now() as svrtime FROM user where id='kim' AND "
                                      "password2 = SHA1('secret') and hidden=0"));
    ASSERT_TRUE(rs);
    EXPECT_EQ(inhouse.affected_rows(), 1);
    EXPECT_FALSE(rs->value(QStringLiteral("svrtime")).isEmpty());

    cMySQL web;
    ASSERT_TRUE(web.real_connect(server->host(), site().webDbUser, site().webDbPassword,
                                 site().webDbName, site().webDbPort));
    EXPECT_FALSE(web.query(QStringLiteral(
        "UPDATE file_rname AS a SET a.rname = 'abc.exe' WHERE a.code = 2")));
    EXPECT_EQ(web.affected_rows(), 1);
    EXPECT_FALSE(web.query(QStringLiteral(
        "update cate3 as a set a.DemoDownFile  = 'abc.exe' where a.idx=48")));
    EXPECT_EQ(web.affected_rows(), 1);
    EXPECT_FALSE(web.query(QStringLiteral(
        "update cate3_info as a  set a.DemoDownFile  = 'abc.exe'where a.idx = 62")));
    EXPECT_EQ(web.affected_rows(), 1);
    EXPECT_TRUE(ui.tells().isEmpty()) << s(ui.tells().join("|"));
}

} // namespace

namespace {

// Connection security against a server serving TLS with a certificate made
// for 127.0.0.1, and offering an account that authenticates through PAM,
// which asks the client for the cleartext plugin.
class MySqlSecurityTest : public MySqlTest {
protected:
    static void SetUpTestSuite()
    {
        MariaDbServer::Options o;
        o.tls = true;
        o.cleartextAccount = true;
        tlsServer = new MariaDbServer(o);
        if (!tlsServer->start())
            ADD_FAILURE() << s(tlsServer->diagnostics());
    }
    static void TearDownTestSuite()
    {
        delete tlsServer;
        tlsServer = nullptr;
        cMySQL::setConnectionSecurity({});
    }
    // Connects to `srv` as tv_inhouse; the session's TLS cipher, "" without
    // TLS, or nullopt when the connection was refused.
    std::optional<QString> cipherOf(const MariaDbServer& srv)
    {
        cMySQL db;
        if (!db.real_connect(srv.host(), QStringLiteral("tv_inhouse"), site().dbPassword, QStringLiteral("tv_inhouse"),
                             srv.port(), QString(), 0, true))
            return std::nullopt;
        RecordsetPtr rs = db.query(QStringLiteral("SHOW SESSION STATUS LIKE 'Ssl_cipher'"));
        return rs && !rs->isEOF() ? rs->value(1) : QStringLiteral("<no row>");
    }
    static inline MariaDbServer* tlsServer = nullptr;
};

TEST_F(MySqlSecurityTest, TlsSettingsAndServerCertificateChecks)
{
    ASSERT_NE(tlsServer, nullptr);
    using Tls = cMySQL::ConnectionSecurity::Tls;
    const struct {
        const char* name;
        Tls tls;
        QString ca;
        const MariaDbServer* srv;
        bool connects, encrypted;
    } cases[] = {
        {"required, the issuing CA", Tls::Required, tlsServer->caFile(), tlsServer, true, true},
        {"required, a foreign CA", Tls::Required, tlsServer->foreignCaFile(), tlsServer, false, false},
        {"required, a server without TLS", Tls::Required, tlsServer->caFile(), server, false, false},
        {"preferred, no CA", Tls::Preferred, QString(), tlsServer, true, true},
        {"preferred, a foreign CA", Tls::Preferred, tlsServer->foreignCaFile(), tlsServer, false, false},
        {"preferred, a server without TLS", Tls::Preferred, QString(), server, true, false},
        {"off", Tls::Off, QString(), tlsServer, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        cMySQL::setConnectionSecurity({c.tls, c.ca});
        const std::optional<QString> cipher = cipherOf(*c.srv);
        ASSERT_EQ(cipher.has_value(), c.connects);
        if (cipher) {
            EXPECT_EQ(!cipher->isEmpty(), c.encrypted) << s(*cipher);
        }
    }
}

TEST_F(MySqlSecurityTest, CleartextAuthenticationIsRefusedBeforeThePasswordLeaves)
{
    ASSERT_NE(tlsServer, nullptr);
    using Tls = cMySQL::ConnectionSecurity::Tls;
    for (Tls tls : {Tls::Off, Tls::Required}) {
        cMySQL::setConnectionSecurity({tls, tlsServer->caFile()});
        cMySQL db;
        EXPECT_FALSE(db.real_connect(tlsServer->host(), MariaDbServer::pamUser(), QStringLiteral("Cl34r-Pw"), QString(),
                                     tlsServer->port(), QString(), 0, true));
        // Refused by the client, not by the server's check of a password it
        // received (1045).
        EXPECT_EQ(db.err_no(), CR_PLUGIN_NOT_ALLOWED) << s(db.err_description());
    }
}

} // namespace
