// Start-up in-process against the real servers of the suite (MariaDB and the
// loopback HTTP server): the order of its steps, the server addresses with
// their cache and bounded waits, and the update launcher with the companion
// programs this project builds.
#include "app/autoupdate.h"
#include "app/login.h"
#include "app/serveraddress.h"
#include "app/startup.h"
#include "http_fixture.h"
#include "mariadb_fixture.h"
#include "minisign_fixture.h"
#include "ports.h"
#include "privatemount.h"
#include "sandbox.h"
#include "testinteraction.h"

#include "site/instancelock.h"
#include "platform/macaddress.h"
#include "site/serveraddresses.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <gtest/gtest.h>

using namespace rh;
using rh::test::HttpServer;
using rh::test::MariaDbEnvironment;

namespace {

auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new MariaDbEnvironment);

const QString kRunning = QStringLiteral("이미 프로그램이 실행중입니다.");
const QString kNoLastVer = QStringLiteral("AutoVersionCheckerV1.exe의 최신버전 정보를 읽어올 수 없습니다!");
const QString kUpdateFolder = QStringLiteral("/download/자동업데이트_v1/");
// The update folder as a request names it.
const QString kUpdateRoute =
    QStringLiteral("/download/") + QString::fromLatin1(QUrl::toPercentEncoding(QStringLiteral("자동업데이트_v1"))) + u'/';
const QString kBuilt = QStringLiteral(RH_BINARY_DIR "/src/");
const QString kNext = QStringLiteral(RH_BINARY_DIR "/next/");

QByteArray bytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void put(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(data);
}

void copyExecutable(const QString& from, const QString& to)
{
    QFile::remove(to);
    ASSERT_TRUE(QFile::copy(from, to)) << from.toStdString();
}

QByteArray serverData(const QString& web, const QString& db)
{
    return QStringLiteral(R"({"ver": 3, "servers": [)"
                          R"({"name": "자동업데이트_런처", "host": "%1"}, {"name": "사내메신저DB서버", "host": "%2"}]})")
        .arg(web, db)
        .toUtf8();
}

QByteArray serverList(const QString& web, const QString& db)
{
    return R"({"success": true, "data": )" + serverData(web, db) + "}";
}

void putScript(const QString& path, const QByteArray& text)
{
    put(path, text);
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
}

bool waitFor(const std::function<bool()>& done, int ms = 30000)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QThread::msleep(20);
    return done();
}

class StartUpTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        http = new HttpServer;
        httpOk = http->start();
        release = new rh::test::ReleaseKey;
    }
    static void TearDownTestSuite()
    {
        delete http;
        http = nullptr;
        delete release;
        release = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(httpOk) << http->diagnostics().toStdString();
        ASSERT_TRUE(release->ok()) << release->diagnostics().toStdString();
        db = MariaDbEnvironment::server();
        ASSERT_NE(db, nullptr) << "the MariaDB server did not start";
        http->clearReplies();
        // Defaults that lead nowhere: only resolved hosts reach the servers.
        box.site() = db->siteConfig(box.site());
        box.site().dbServerAddress = QStringLiteral("127.0.0.2");
        box.site().webServerAddress = QStringLiteral("127.0.0.3");
        box.site().webHttpPort = http->port();
        box.site().checkerHost = http->host();
        box.site().checkerPort = http->port();
        box.site().updatePublicKeys = {release->publicKey()};
        box.apply();
        ClearServerAddressData();
        resetServerAddresses();
        ASSERT_TRUE(db->exec(QStringLiteral(
            "DELETE FROM tv_inhouse.user; DELETE FROM tv_inhouse.user_mac;"
            "INSERT INTO tv_inhouse.user (id, password2) VALUES ('kim', SHA1('secret'));"
            "INSERT INTO tv_inhouse.user_mac (user_id, mac_addr) VALUES ('kim', '001122AABBCC');")));
        setMacAddressSource([] { return QStringList{QStringLiteral("00:11:22:aa:bb:cc")}; });

        bin = box.home() + QStringLiteral("/bin");
        QDir().mkpath(bin);
        // The file changer reads the release key from the program folder's site.ini.
        put(box.home() + QStringLiteral("/site.ini"), "[Update]\nPublicKey=" + release->publicKey().toLatin1() + '\n');
        fresh();
    }
    // A new start-up object (the last one's lock is dropped).
    StartUp& fresh(bool logsIn = true)
    {
        startPtr.reset();
        startPtr = std::make_unique<StartUp>();
        StartUp& s = *startPtr;
        s.updater().exeFolder = bin;
        s.updater().programFile = QStringLiteral("rollhaven2");
        s.updater().programRevision = 0;
        s.updater().homeFolder = box.home();
        s.updater().restartArguments = {QStringLiteral("--flag"), QStringLiteral("두 단어")};
        s.updater().openFolder = [this](const QString& f) { opened << f; };
        s.log = [this](const QString& line) { log << line; };
        s.showLogin = [this, logsIn](Login& l) {
            loginSawDb = GetDBServerAddress();
            if (!logsIn)
                return;
            l.Form_Load();
            l.txtPassword = QStringLiteral("secret");
            l.visible = true;
            l.Form_Activate();
        };
        return s;
    }
    void TearDown() override
    {
        setMacAddressSource({});
        ClearServerAddressData();
        resetServerAddresses();
    }

    // Publishes a file of the update folder.
    void publish(const QString& name, const QByteArray& data) const
    {
        put(http->root() + kUpdateFolder + name, data);
        QFile::remove(http->root() + kUpdateFolder + name + QStringLiteral(".minisig"));
    }
    // ... with the release key's signature beside it.
    void publishSigned(const QString& name, const QByteArray& data) const
    {
        publish(name, data);
        ASSERT_TRUE(release->sign(http->root() + kUpdateFolder + name)) << release->diagnostics().toStdString();
    }
    void publishRevision(const QString& text) const
    {
        publish(QStringLiteral("AutoVersionCheckerV1_lastver.txt"), text.toUtf8());
    }
    QStringList requestsSince(qsizetype n) const { return http->requests().mid(n); }
    // Runs bin's file changer on "rollhaven2;New_rollhaven2" as the launcher
    // starts it; its exit code.
    int runFileChanger() const
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kEnvHome), box.home());
        env.insert(QString::fromLatin1(kEnvChangerWait), QStringLiteral("1"));
        p.setProcessEnvironment(env);
        p.start(bin + QStringLiteral("/filechanger.exe"), {QStringLiteral("rollhaven2;New_rollhaven2")});
        EXPECT_TRUE(p.waitForFinished(60000));
        return p.exitCode();
    }

    static inline HttpServer* http = nullptr;
    static inline rh::test::ReleaseKey* release = nullptr;
    static inline bool httpOk = false;
    rh::test::MariaDbServer* db = nullptr;
    rh::test::Sandbox box;
    rh::test::TestInteraction ui;
    std::unique_ptr<StartUp> startPtr;
    QString bin;
    QStringList log, opened;
    QString loginSawDb = QStringLiteral("<login not shown>");
};

// ------------------------------------------------------------------ order

TEST_F(StartUpTest, SecondInstanceIsRefusedBeforeAnyServerIsAsked)
{
    InstanceLock first;
    ASSERT_TRUE(first.tryAcquire(box.home()));
    const qsizetype before = http->requests().size();
    EXPECT_EQ(startPtr->Main(), StartUp::Outcome::AlreadyRunning);
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_EQ(ui.messages[0].text, kRunning);
    EXPECT_EQ(ui.messages[0].icon, MsgIcon::Information);
    EXPECT_EQ(http->requests().size(), before);
    EXPECT_EQ(loginSawDb, QStringLiteral("<login not shown>"));
}

TEST_F(StartUpTest, ResolvedHostsServeTheUpdateAndTheLoginInThatOrder)
{
    http->setReply(QString::fromLatin1(kServerAddressCheckerPath), 200,
                   serverList(QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.1")));
    copyExecutable(kBuilt + QStringLiteral("AutoVersionCheckerV1.exe"), bin + QStringLiteral("/AutoVersionCheckerV1.exe"));
    publishRevision(QStringLiteral("1"));
    const qsizetype before = http->requests().size();

    EXPECT_EQ(startPtr->Main(), StartUp::Outcome::Proceed) << ui.texts().join(u'\n').toStdString();
    EXPECT_TRUE(startPtr->lock().isHeld());
    EXPECT_EQ(DBServerAddress(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(WebServerAddress(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(loginSawDb, QStringLiteral("127.0.0.1")) << "the login already uses the resolved host";
    // The checker's variables are not left for the tools of the run.
    for (const char* v : {kEnvUpdateUrl, kEnvUpdateKeys, kEnvUpdateLimits, kEnvExeFolder})
        EXPECT_FALSE(qEnvironmentVariableIsSet(v)) << v;
    const QStringList asked = requestsSince(before);
    ASSERT_GE(asked.size(), 2);
    EXPECT_EQ(asked[0], QString::fromLatin1(kServerAddressCheckerPath)) << "first start: no query";
    EXPECT_TRUE(asked[1].endsWith(QStringLiteral("AutoVersionCheckerV1_lastver.txt"))) << asked[1].toStdString();
    EXPECT_TRUE(ui.messages.isEmpty()) << ui.texts().join(u'\n').toStdString();
}

TEST_F(StartUpTest, OfflineStartsWithCacheOrDefaultsAndEmptyHostsKeepTheDefault)
{
    box.site().checkerPort = rh::test::refusingPort();
    box.site().allowedHosts = {QStringLiteral("10.9.8.7")};
    box.apply();

    // No cache: both defaults, and the login is still reached.
    EXPECT_EQ(fresh(false).Main(), StartUp::Outcome::NoLogin);
    EXPECT_EQ(loginSawDb, QStringLiteral("127.0.0.2"));
    EXPECT_EQ(WebServerAddress(), QStringLiteral("127.0.0.3"));

    // A cache from an earlier run: its hosts; an empty host keeps its default.
    put(serverAddressFilePath(), serverData(QString(), QStringLiteral("10.9.8.7")));
    EXPECT_EQ(fresh(false).Main(), StartUp::Outcome::NoLogin);
    EXPECT_EQ(loginSawDb, QStringLiteral("10.9.8.7"));
    EXPECT_EQ(WebServerAddress(), QStringLiteral("127.0.0.3"));
}

TEST_F(StartUpTest, CheckerThatNeverAnswersCostsItsTimeoutThenTheCacheServes)
{
    HttpServer::Reply hang;
    hang.body = serverList(QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.1"));
    hang.delaySec = 120;
    http->setReply(QString::fromLatin1(kServerAddressCheckerPath), hang);
    put(serverAddressFilePath(), serverData(QStringLiteral("127.0.0.1"), QStringLiteral("10.1.1.1")));
    box.site().allowedHosts = {QStringLiteral("10.1.1.1")};
    box.apply();

    StartUp& s = fresh(false);
    // Never flaky, yet a timeout several times too long fails.
    const qint64 bound = (3 * s.checkerTotalTimeoutSec + 5) * 1000;
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(s.Main(), StartUp::Outcome::NoLogin);
    EXPECT_LT(t.elapsed(), bound) << "bounded by the checker's timeout, not the server's delay";
    EXPECT_EQ(loginSawDb, QStringLiteral("10.1.1.1"));
}

TEST_F(StartUpTest, HttpsCheckerIsUsedOnlyWithACertificateThatChecksOut)
{
    QTemporaryDir dir;
    const QString cert = dir.path() + QStringLiteral("/cert.pem"), key = dir.path() + QStringLiteral("/key.pem");
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                   QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                   QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1"),
                   QStringLiteral("-keyout"), key, QStringLiteral("-out"), cert});
    ASSERT_TRUE(openssl.waitForFinished(60000) && openssl.exitCode() == 0) << openssl.readAll().toStdString();
    put(dir.path() + QStringLiteral("/server.pem"), bytes(cert) + bytes(key));
    HttpServer tls;
    tls.tlsCertificate = dir.path() + QStringLiteral("/server.pem");
    ASSERT_TRUE(tls.start()) << tls.diagnostics().toStdString();
    tls.setReply(QString::fromLatin1(kServerAddressCheckerPath), 200,
                 serverList(QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.1")));
    box.site().https = true;
    box.site().checkerPort = tls.port();
    box.site().updatePublicKeys.clear();
    box.apply();
    EXPECT_TRUE(ServerAddressCheckerUrl(QString(), QString()).startsWith(QStringLiteral("https://")));

    // A certificate no known authority vouches for: the checker is not believed.
    EXPECT_EQ(fresh(false).Main(), StartUp::Outcome::NoLogin);
    EXPECT_EQ(loginSawDb, QStringLiteral("127.0.0.2"));
    EXPECT_EQ(tls.requests(), QStringList());

    // With the site's authority it is.
    box.site().httpCaFile = cert;
    box.apply();
    EXPECT_EQ(fresh(false).Main(), StartUp::Outcome::NoLogin);
    EXPECT_EQ(loginSawDb, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(tls.requests().size(), 1);
}

// ------------------------------------------------------------------ update launcher

TEST_F(StartUpTest, CompanionsAreDownloadedOnlyWhenThePublishedRevisionIsNewer)
{
    const QString checker = bin + QStringLiteral("/AutoVersionCheckerV1.exe");
    const QString changer = bin + QStringLiteral("/filechanger.exe");
    AutoUpdater& u = startPtr->updater();
    setServerAddresses(QString(), QStringLiteral("127.0.0.1"));
    publishSigned(QStringLiteral("AutoVersionCheckerV1.exe"), bytes(kNext + QStringLiteral("AutoVersionCheckerV1.exe")));
    publishSigned(QStringLiteral("filechanger.exe"), bytes(kNext + QStringLiteral("filechanger.exe")));

    // No local checker: revision 0, so both come whenever the latest is above 0.
    publishRevision(QStringLiteral("2"));
    EXPECT_TRUE(u.AutoUpdaterSelfUpdate()) << log.join(u'\n').toStdString();
    EXPECT_EQ(bytes(checker), bytes(kNext + QStringLiteral("AutoVersionCheckerV1.exe")));
    EXPECT_EQ(bytes(changer), bytes(kNext + QStringLiteral("filechanger.exe")));
    EXPECT_TRUE(QFileInfo(checker).isExecutable());

    // The same revision on both sides downloads nothing; a native companion
    // says its revision itself, so a current one is never fetched again.
    EXPECT_EQ(companionRevision(checker), QStringLiteral("2"));
    const qsizetype before = http->requests().size();
    publishRevision(QStringLiteral("2"));
    EXPECT_TRUE(u.AutoUpdaterSelfUpdate());
    EXPECT_EQ(requestsSince(before).size(), 1) << requestsSince(before).join(u' ').toStdString();

    // Older local companions: 3 followed by CR LF still reads as 3; a text
    // over 20 bytes is cut there (…0003 of 0000…0003999).
    copyExecutable(kBuilt + QStringLiteral("AutoVersionCheckerV1.exe"), checker);
    for (const char* text : {"2\r\n", "0000000000000000000299999"}) {
        copyExecutable(kBuilt + QStringLiteral("AutoVersionCheckerV1.exe"), checker);
        publishRevision(QString::fromLatin1(text));
        EXPECT_TRUE(u.AutoUpdaterSelfUpdate()) << text;
        EXPECT_EQ(companionRevision(checker), QStringLiteral("2")) << text;
    }
    publishRevision(QStringLiteral("0000000000000000000199999"));
    copyExecutable(kBuilt + QStringLiteral("AutoVersionCheckerV1.exe"), checker);
    EXPECT_TRUE(u.AutoUpdaterSelfUpdate());
    EXPECT_EQ(companionRevision(checker), QStringLiteral("1")) << "1 (cut) is not newer than 1";

    // Nothing published: the Part's message, and the checker is not run.
    publishRevision(QString());
    EXPECT_FALSE(u.AutoUpdaterSelfUpdate());
    EXPECT_EQ(ui.tells().value(0), kNoLastVer);
    EXPECT_EQ(ui.messages.value(0).icon, MsgIcon::Critical);
}

TEST_F(StartUpTest, UnsignedBadlySignedDowngradedOrMisannouncedUpdatesAreNeverKeptOrRun)
{
    AutoUpdater& u = startPtr->updater();
    const QString checker = bin + QStringLiteral("/AutoVersionCheckerV1.exe");
    const QString ran = bin + QStringLiteral("/ran");
    setServerAddresses(QString(), QStringLiteral("127.0.0.1"));
    // Whoever runs it, for whatever reason, leaves a mark.
    const QByteArray hostile = "#!/bin/sh\ntouch \"$(dirname \"$0\")/ran\"\necho 3\n";
    rh::test::ReleaseKey stranger;
    ASSERT_TRUE(stranger.ok());
    const auto misSigned = [&](const QString& name) {
        publish(name, hostile);
        ASSERT_TRUE(stranger.sign(http->root() + kUpdateFolder + name));
    };
    const auto tampered = [&](const QString& name) {
        publishSigned(name, hostile);
        put(http->root() + kUpdateFolder + name, hostile + "rm -rf ~\n");
    };
    const auto signedAs = [&](const QString& from, const QString& name) {
        publish(name, bytes(from));
        ASSERT_TRUE(release->sign(http->root() + kUpdateFolder + name));
    };

    // Companions: revision 2 installed, 3 announced.
    struct Case {
        const char* what;
        std::function<void()> publishChecker;
        const char* logged;
    };
    const QString name = QStringLiteral("AutoVersionCheckerV1.exe");
    const QList<Case> companions{
        {"unsigned", [&] { publish(name, hostile); }, "no signature"},
        {"signed by another key", [&] { misSigned(name); }, "which site.ini does not name"},
        {"changed after signing", [&] { tampered(name); }, "does not match the file"},
        {"older build, signed", [&] { signedAs(kBuilt + name, name); }, "its own revision 1 is not the announced 3"},
        {"revision 2 announced as 3", [&] { signedAs(kNext + name, name); }, "its own revision 2 is not the announced 3"},
        {"the file changer, signed, served as the checker",
         [&] {
             publish(name, bytes(kNext + QStringLiteral("filechanger.exe")));
             ASSERT_TRUE(release->sign(kNext + QStringLiteral("filechanger.exe"),
                                       http->root() + kUpdateFolder + name + QStringLiteral(".minisig")));
         },
         "signed as filechanger.exe, published as AutoVersionCheckerV1.exe"},
    };
    publishSigned(QStringLiteral("filechanger.exe"), bytes(kNext + QStringLiteral("filechanger.exe")));
    publishRevision(QStringLiteral("3"));
    for (const Case& c : companions) {
        copyExecutable(kNext + name, checker);
        log.clear();
        c.publishChecker();
        EXPECT_FALSE(u.AutoUpdaterSelfUpdate()) << c.what;
        EXPECT_EQ(bytes(checker), bytes(kNext + name)) << c.what;
        EXPECT_FALSE(QFileInfo::exists(ran)) << c.what;
        EXPECT_TRUE(log.join(u'\n').contains(QLatin1String(c.logged))) << c.what << ": " << log.join(u'\n').toStdString();
        EXPECT_EQ(QDir(bin).entryList(QDir::Files | QDir::Hidden),
                  (QStringList{QStringLiteral("AutoVersionCheckerV1.exe")}))
            << c.what << ": nothing else kept";
    }

    // The program: revision 0 runs, 1 is announced; a file changer waits to
    // take over whatever the checker leaves.
    putScript(bin + QStringLiteral("/rollhaven2"), "#!/bin/sh\necho 0\n");
    copyExecutable(kBuilt + name, checker);
    copyExecutable(kBuilt + QStringLiteral("filechanger.exe"), bin + QStringLiteral("/filechanger.exe"));
    publishRevision(QStringLiteral("1"));
    publish(QStringLiteral("rollhaven2_lastver.txt"), "1");
    const QByteArray says0 = "#!/bin/sh\n[ \"$1\" = --revision ] && { echo 0; exit; }\ntouch ran\n";
    const QByteArray says2 = "#!/bin/sh\n[ \"$1\" = --revision ] && { echo 2; exit; }\ntouch ran\n";
    const QString program = QStringLiteral("rollhaven2");
    const QList<Case> builds{
        {"unsigned", [&] { publish(program, hostile); }, "no signature"},
        {"signed by another key", [&] { misSigned(program); }, "which site.ini does not name"},
        {"changed after signing", [&] { tampered(program); }, "does not match the file"},
        {"the running revision again, signed", [&] { publishSigned(program, says0); }, "not the announced 1"},
        {"revision 2 announced as 1", [&] { publishSigned(program, says2); }, "not the announced 1"},
        {"dropped beside the program, unsigned, handed straight to the file changer",
         [&] {
             put(bin + QStringLiteral("/New_rollhaven2"), hostile);
             EXPECT_EQ(runFileChanger(), 1);
             EXPECT_TRUE(bytes(bin + QStringLiteral("/filechanger.log")).contains("bad or missing signature"));
         },
         ""},
    };
    for (const Case& c : builds) {
        c.publishChecker();
        EXPECT_EQ(u.RunAutoUpdate(false), AutoUpdater::Result::Continue) << c.what;
        EXPECT_FALSE(QFileInfo::exists(bin + QStringLiteral("/New_rollhaven2"))) << c.what;
        EXPECT_FALSE(QFileInfo::exists(ran)) << c.what;
        EXPECT_FALSE(QFileInfo::exists(bin + QStringLiteral("/rollhaven2.bak"))) << c.what << ": nothing handed over";
    }

    // A "New_" build left by an earlier version, without a good signature:
    // discarded before any hand-over.
    put(bin + QStringLiteral("/New_rollhaven2"), hostile);
    publish(QStringLiteral("rollhaven2_lastver.txt"), "0");
    log.clear();
    EXPECT_EQ(u.RunAutoUpdate(true), AutoUpdater::Result::Continue);
    EXPECT_FALSE(QFileInfo::exists(bin + QStringLiteral("/New_rollhaven2")));
    EXPECT_TRUE(log.join(u'\n').contains(QStringLiteral("discarded, bad or missing signature"))) << log.join(u'\n').toStdString();

    // No release key: nothing is asked or run, one line says so.
    box.site().updatePublicKeys.clear();
    box.apply();
    log.clear();
    const qsizetype before = http->requests().size();
    EXPECT_EQ(u.RunAutoUpdate(false), AutoUpdater::Result::Continue);
    EXPECT_EQ(log, QStringList{QStringLiteral("update: skipped, site.ini names no release key ([Update] PublicKey)")});
    EXPECT_EQ(requestsSince(before), QStringList());
}

TEST_F(StartUpTest, OversizedOrEndlessUpdatesAndCheckerRepliesAreCutOffInTime)
{
    AutoUpdater& u = startPtr->updater();
    const QString checker = bin + QStringLiteral("/AutoVersionCheckerV1.exe");
    copyExecutable(kBuilt + QStringLiteral("AutoVersionCheckerV1.exe"), checker);
    setServerAddresses(QString(), QStringLiteral("127.0.0.1"));
    publishRevision(QStringLiteral("2"));
    publishSigned(QStringLiteral("filechanger.exe"), bytes(kNext + QStringLiteral("filechanger.exe")));
    box.site().updateMaxBytes = 1 << 20;
    box.site().updateDeadlineSec = 3;
    box.apply();

    struct Case {
        const char* what;
        HttpServer::Reply reply;
        const char* logged;
    };
    HttpServer::Reply big;
    big.body = QByteArray(2 << 20, 'x');
    HttpServer::Reply endless;
    endless.body = QByteArray(1000, 'x');
    endless.dripSec = 0.05; // always moving, never done
    for (const Case& c : {Case{"over the size cap", big, "curl error 63"}, Case{"endless", endless, "curl error 28"}}) {
        http->setReply(kUpdateRoute + QStringLiteral("AutoVersionCheckerV1.exe"), c.reply);
        log.clear();
        QElapsedTimer t;
        t.start();
        EXPECT_FALSE(u.AutoUpdaterSelfUpdate()) << c.what;
        EXPECT_LT(t.elapsed(), 15000) << c.what << ": bounded by the 3 s deadline";
        EXPECT_EQ(bytes(checker), bytes(kBuilt + QStringLiteral("AutoVersionCheckerV1.exe"))) << c.what;
        EXPECT_TRUE(log.join(u'\n').contains(QLatin1String(c.logged))) << c.what << ": " << log.join(u'\n').toStdString();
    }

    // The checker: a reply over 64 KiB, or one that trickles, costs its 3 s at
    // most and changes nothing.
    HttpServer::Reply huge;
    huge.body = serverList(QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.1")) + QByteArray(100 << 10, ' ');
    HttpServer::Reply trickle;
    trickle.body = serverList(QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.1"));
    trickle.dripSec = 0.05;
    box.site().updatePublicKeys.clear();
    box.apply();
    for (const HttpServer::Reply& r : {huge, trickle}) {
        http->setReply(QString::fromLatin1(kServerAddressCheckerPath), r);
        QElapsedTimer t;
        t.start();
        EXPECT_EQ(fresh(false).Main(), StartUp::Outcome::NoLogin);
        EXPECT_LT(t.elapsed(), 10000);
        EXPECT_EQ(loginSawDb, QStringLiteral("127.0.0.2"));
        EXPECT_FALSE(QFileInfo::exists(serverAddressFilePath()));
    }
}

TEST_F(StartUpTest, HostsTheSiteDoesNotAllowAreIgnoredAndNeverCached)
{
    box.site().allowedHosts = {QStringLiteral("*.tarvel.test"), QStringLiteral("10.0.0.9")};
    box.site().updatePublicKeys.clear();
    box.apply();
    struct Case {
        const char* db;
        bool allowed;
    };
    for (const Case& c : {Case{"evil.example", false}, Case{"db.tarvel.test", true}, Case{"DB.Tarvel.Test.", true},
                          Case{"tarvel.test", false}, Case{"eviltarvel.test", false},
                          Case{"db.tarvel.test.evil.example", false}, Case{"10.0.0.9", true},
                          Case{"10.0.0.99", false}}) {
        QFile::remove(serverAddressFilePath());
        ClearServerAddressData();
        http->setReply(QString::fromLatin1(kServerAddressCheckerPath), 200,
                       serverList(QStringLiteral("127.0.0.1"), QLatin1String(c.db)));
        log.clear();
        EXPECT_EQ(fresh(false).Main(), StartUp::Outcome::NoLogin);
        EXPECT_EQ(loginSawDb, c.allowed ? QLatin1String(c.db) : QStringLiteral("127.0.0.2")) << c.db;
        EXPECT_EQ(QFileInfo::exists(serverAddressFilePath()), c.allowed) << c.db << ": cached only when allowed";
        EXPECT_EQ(log.join(u'\n').contains(QStringLiteral("does not allow")), !c.allowed)
            << c.db << ": " << log.join(u'\n').toStdString();
    }

    // A host cached while it was allowed is no longer used once it is not,
    // and a failing checker does not bring it back.
    http->setReply(QString::fromLatin1(kServerAddressCheckerPath), 503, "busy");
    put(serverAddressFilePath(), serverData(QStringLiteral("127.0.0.1"), QStringLiteral("db.tarvel.test")));
    box.site().allowedHosts.clear();
    box.apply();
    EXPECT_EQ(fresh(false).Main(), StartUp::Outcome::NoLogin);
    EXPECT_EQ(loginSawDb, QStringLiteral("127.0.0.2"));
    EXPECT_TRUE(log.join(u'\n').contains(QStringLiteral("db.tarvel.test of 사내메신저DB서버 is not allowed")))
        << log.join(u'\n').toStdString();
}

TEST_F(StartUpTest, ReadOnlyProgramFolderSkipsTheUpdateWithOneLineAndStartsOn)
{
    // A newer checker is published: only the skip keeps it from coming.
    http->setReply(QString::fromLatin1(kServerAddressCheckerPath), 200,
                   serverList(QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.1")));
    publishRevision(QStringLiteral("9"));
    publish(QStringLiteral("AutoVersionCheckerV1.exe"), bytes(kNext + QStringLiteral("AutoVersionCheckerV1.exe")));
    const qsizetype before = http->requests().size();
    QString why;
    const QStringList out = rh::test::inPrivateMounts(
        {{bin, QStringLiteral("ro")}},
        [&] {
            const StartUp::Outcome outcome = startPtr->Main();
            return QStringList{QString::number(int(outcome)), log.filter(QStringLiteral("update")).join(u'\n'),
                               ui.texts().join(u'\n')};
        },
        &why);
    ASSERT_EQ(out.size(), 3) << why.toStdString();
    EXPECT_EQ(out[0].toInt(), int(StartUp::Outcome::Proceed));
    EXPECT_EQ(out[1].toStdString(),
              QStringLiteral("update: skipped, %1 belongs to an installed package or is not writable").arg(bin).toStdString());
    EXPECT_EQ(out[2], QString()) << "no message box: " << out[2].toStdString();
    EXPECT_FALSE(requestsSince(before).join(u' ').contains(QStringLiteral("lastver")));
}

TEST_F(StartUpTest, CheckerRunsOnlyForAPresentProgramAndAWaitingBuildNeedsTheFileChanger)
{
    AutoUpdater& u = startPtr->updater();
    setServerAddresses(QString(), QStringLiteral("127.0.0.1"));
    copyExecutable(kBuilt + QStringLiteral("AutoVersionCheckerV1.exe"), bin + QStringLiteral("/AutoVersionCheckerV1.exe"));
    publishRevision(QStringLiteral("1"));
    publish(QStringLiteral("rollhaven2_lastver.txt"), "1");
    const QByteArray newBuild = "#!/bin/sh\n[ \"$1\" = --revision ] && { echo 1; exit; }\n"
                                "printf '%s\\n' new \"$@\" \"replaced=$ROLLHAVEN2_UPDATE_REPLACED\" > restarted.txt\n";
    publishSigned(QStringLiteral("rollhaven2"), newBuild);

    // The program file is not in its folder: the checker is not run.
    qsizetype before = http->requests().size();
    EXPECT_EQ(u.RunAutoUpdate(false), AutoUpdater::Result::Continue);
    EXPECT_FALSE(requestsSince(before).join(u' ').contains(QStringLiteral("rollhaven2_lastver")));

    // Present and older: the checker leaves New_rollhaven2, and without a file
    // changer the Part's message ends the program with the folder shown.
    putScript(bin + QStringLiteral("/rollhaven2"), "#!/bin/sh\necho 0\n");
    EXPECT_EQ(u.RunAutoUpdate(false), AutoUpdater::Result::End);
    EXPECT_EQ(bytes(bin + QStringLiteral("/New_rollhaven2")), newBuild);
    EXPECT_EQ(ui.tells().value(0), QStringLiteral("파일교체 프로그램을 찾을 수 없습니다.\r\n\r\n") + bin
                                       + QStringLiteral("/filechanger.exe"));
    EXPECT_EQ(opened, QStringList{bin});

    // A leftover New_ file with a file changer always hands over; the skip
    // flag leaves the companions alone.
    publish(QStringLiteral("rollhaven2_lastver.txt"), "0");
    copyExecutable(kBuilt + QStringLiteral("filechanger.exe"), bin + QStringLiteral("/filechanger.exe"));
    InstanceLock running; // the program has not ended yet: the changer waits
    ASSERT_TRUE(running.tryAcquire(box.home()));
    before = http->requests().size();
    EXPECT_EQ(u.RunAutoUpdate(true), AutoUpdater::Result::HandedOver);
    EXPECT_FALSE(requestsSince(before).join(u' ').contains(QStringLiteral("AutoVersionCheckerV1_lastver")));
    running.release();
    // Replaced, backed up, still executable and restarted with its arguments.
    ASSERT_TRUE(waitFor([&] { return QFileInfo(bin + QStringLiteral("/restarted.txt")).size() > 0; }))
        << bytes(bin + QStringLiteral("/filechanger.log")).toStdString();
    // The restarted build is told it was just put in place.
    EXPECT_EQ(bytes(bin + QStringLiteral("/restarted.txt")), QStringLiteral("new\n--flag\n두 단어\nreplaced=1\n").toUtf8());
    EXPECT_EQ(bytes(bin + QStringLiteral("/rollhaven2")), newBuild);
    EXPECT_TRUE(QFileInfo(bin + QStringLiteral("/rollhaven2")).isExecutable());
    EXPECT_EQ(bytes(bin + QStringLiteral("/rollhaven2.bak")), QByteArray("#!/bin/sh\necho 0\n"));
    EXPECT_FALSE(QFileInfo::exists(bin + QStringLiteral("/New_rollhaven2")));
    EXPECT_FALSE(QFileInfo::exists(bin + QStringLiteral("/New_rollhaven2.minisig")));
}

TEST_F(StartUpTest, AnInstalledLayoutKeepsItsCompanionsInItsLibraryFolder)
{
    // bin/rollhaven2 with lib/rollhaven2/ beside bin/, in a folder of the user's.
    const QString lib = box.home() + QStringLiteral("/lib/rollhaven2");
    ASSERT_TRUE(QDir().mkpath(lib));
    AutoUpdater& u = startPtr->updater();
    EXPECT_EQ(u.checkerPath(), lib + QStringLiteral("/AutoVersionCheckerV1.exe"));
    setServerAddresses(QString(), QStringLiteral("127.0.0.1"));
    for (const char* name : {"AutoVersionCheckerV1.exe", "filechanger.exe"})
        publishSigned(QLatin1String(name), bytes(kNext + QLatin1String(name)));
    publishRevision(QStringLiteral("2"));
    publish(QStringLiteral("rollhaven2_lastver.txt"), "1");
    const QByteArray newBuild = "#!/bin/sh\n[ \"$1\" = --revision ] && { echo 1; exit; }\necho new > restarted.txt\n";
    publishSigned(QStringLiteral("rollhaven2"), newBuild);
    putScript(bin + QStringLiteral("/rollhaven2"), "#!/bin/sh\necho 0\n");

    // The companions are brought up to date where they live; the new build
    // lands beside the program, which the changer replaces and restarts.
    EXPECT_EQ(u.RunAutoUpdate(false), AutoUpdater::Result::HandedOver) << log.join(u'\n').toStdString();
    EXPECT_EQ(companionRevision(lib + QStringLiteral("/AutoVersionCheckerV1.exe")), QStringLiteral("2"));
    EXPECT_EQ(companionRevision(lib + QStringLiteral("/filechanger.exe")), QStringLiteral("2"));
    ASSERT_TRUE(waitFor([&] { return bytes(bin + QStringLiteral("/restarted.txt")) == "new\n"; }))
        << bytes(bin + QStringLiteral("/filechanger.log")).toStdString();
    EXPECT_EQ(bytes(bin + QStringLiteral("/rollhaven2")), newBuild);
    EXPECT_TRUE(QFileInfo::exists(bin + QStringLiteral("/rollhaven2.bak")));
    EXPECT_EQ(QDir(lib).entryList(QDir::Files), (QStringList{QStringLiteral("AutoVersionCheckerV1.exe"), QStringLiteral("filechanger.exe")}));
}

TEST_F(StartUpTest, FileChangerLeavesTheOldProgramInPlaceWhenItCannotReplaceIt)
{
    const QString program = bin + QStringLiteral("/rollhaven2");
    const QString waiting = bin + QStringLiteral("/New_rollhaven2");
    const QString marker = bin + QStringLiteral("/restarted.txt");
    copyExecutable(kBuilt + QStringLiteral("filechanger.exe"), bin + QStringLiteral("/filechanger.exe"));
    putScript(program, "#!/bin/sh\n[ \"$1\" = --revision ] && { echo 1; exit; }\n"
                       "echo \"failed=$ROLLHAVEN2_UPDATE_FAILED replaced=$ROLLHAVEN2_UPDATE_REPLACED\" > restarted.txt\n");
    const QByteArray old = bytes(program);
    const auto change = [&] { return runFileChanger(); };
    // Signed with the release key as published under the program's name.
    const auto putSigned = [&](const QByteArray& build) {
        putScript(waiting, build);
        ASSERT_TRUE(release->sign(waiting, {}, false, QStringLiteral("file:rollhaven2")));
    };

    // The program does not end: nothing is touched, nothing restarted.
    put(waiting, "#!/bin/sh\n");
    InstanceLock running;
    ASSERT_TRUE(running.tryAcquire(box.home()));
    EXPECT_EQ(change(), 3);
    EXPECT_EQ(bytes(program), old);
    EXPECT_FALSE(QFileInfo::exists(marker));
    running.release();

    // The new build is gone: the old one stays, runs again and is told not to
    // hand over at once.
    QFile::remove(waiting);
    EXPECT_EQ(change(), 1);
    EXPECT_EQ(bytes(program), old);
    EXPECT_FALSE(QFileInfo::exists(program + QStringLiteral(".bak")));
    ASSERT_TRUE(waitFor([&] { return bytes(marker).endsWith('\n'); }));
    EXPECT_EQ(bytes(marker), QByteArray("failed=1 replaced=\n"));

    // A build that is not newer than the running one is refused.
    QFile::remove(marker);
    putSigned("#!/bin/sh\necho 1\n");
    EXPECT_EQ(change(), 1);
    EXPECT_EQ(bytes(program), old);
    EXPECT_FALSE(QFileInfo::exists(waiting));
    ASSERT_TRUE(waitFor([&] { return bytes(marker).endsWith('\n'); }));
    EXPECT_EQ(bytes(marker), QByteArray("failed=1 replaced=\n"));

    // A backup newer than the replaced build (what an earlier update
    // replaced) is kept; the newer build goes in and is told so.
    QFile::remove(marker);
    putScript(program + QStringLiteral(".bak"), "#!/bin/sh\necho 5\n");
    const QByteArray newer = "#!/bin/sh\n[ \"$1\" = --revision ] && { echo 2; exit; }\n"
                             "echo \"replaced=$ROLLHAVEN2_UPDATE_REPLACED\" > restarted.txt\n";
    putSigned(newer);
    EXPECT_EQ(change(), 0);
    EXPECT_EQ(bytes(program), newer);
    EXPECT_EQ(bytes(program + QStringLiteral(".bak")), QByteArray("#!/bin/sh\necho 5\n"));
    ASSERT_TRUE(waitFor([&] { return bytes(marker).endsWith('\n'); }));
    EXPECT_EQ(bytes(marker), QByteArray("replaced=1\n"));

    // So restarted, the program leaves a waiting build for the next start
    // instead of handing over twice in a row, and no tool inherits the mark.
    putScript(waiting, newer);
    qputenv(kEnvUpdateReplaced, "1");
    setServerAddresses(QString(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(startPtr->updater().RunAutoUpdate(true), AutoUpdater::Result::Continue);
    EXPECT_FALSE(qEnvironmentVariableIsSet(kEnvUpdateReplaced));
    EXPECT_TRUE(QFileInfo::exists(waiting));
    EXPECT_TRUE(log.join(u'\n').contains(QStringLiteral("waits for the next start"))) << log.join(u'\n').toStdString();
}

} // namespace
