// Server addresses from the address checker, against a real HTTP server on
// loopback (tests/support/http_fixture) and a cache file in a sandbox.
#include "app/serveraddress.h"
#include "http_fixture.h"
#include "net/http.h"
#include "sandbox.h"
#include "testinteraction.h"
#include "util/json.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <memory>

using namespace rh;
using rh::test::HttpServer;

namespace {

const QString kChecker = QString::fromLatin1(kServerAddressCheckerPath);
const QByteArray kBom("\xEF\xBB\xBF");

const QByteArray kGoodReply = QStringLiteral(
    R"({"success": true, "data": {"ver": 7, "note": "x", "servers": [)"
    R"({"name": "사내메신저DB서버", "host": "10.1.2.3"},)"
    R"({"name": "자동업데이트_런처", "host": "web.first"},)"
    R"({"name": "자동업데이트_런처", "host": "web.second"},)"
    R"({"name": "Build", "host": "build.host"}]}})").toUtf8();

QByteArray readBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(bytes);
}

class ServerAddressTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server = new HttpServer;
        startOk = server->start();
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(startOk) << server->diagnostics().toStdString();
        server->clearReplies();
        sandbox.site().checkerHost = server->host();
        sandbox.site().checkerPort = server->port();
        sandbox.site().allowedHosts = {QStringLiteral("10.1.2.3"), QStringLiteral("web.first"), QStringLiteral("web.second")};
        sandbox.apply();
        ClearServerAddressData();
        setServerAddressCheckerTimeouts(5, 10);
    }
    void TearDown() override { ClearServerAddressData(); }

    QString cachePath() const { return serverAddressFilePath(); }
    // The check as start-up runs it; returns the request target it sent.
    QString check(const QString& user, bool expected)
    {
        const int before = int(server->requests().size());
        EXPECT_EQ(CheckServerAddress(user), expected);
        const QStringList all = server->requests();
        return all.size() > before ? all.last() : QStringLiteral("<no request>");
    }

    static HttpServer* server;
    static bool startOk;
    test::Sandbox sandbox;
    test::TestInteraction ui;
};

HttpServer* ServerAddressTest::server = nullptr;
bool ServerAddressTest::startOk = false;

TEST_F(ServerAddressTest, GoodReplyIsCachedAndLookedUpByExactName)
{
    server->setReply(kChecker, 200, kGoodReply);
    EXPECT_EQ(check(QString(), true), kChecker); // no cache, no user: no query at all

    ASSERT_EQ(cachePath(), sandbox.home() + QStringLiteral("/server_address_setting.json"));
    const QByteArray bytes = readBytes(cachePath());
    ASSERT_TRUE(bytes.startsWith(kBom)) << bytes.toStdString();
    // Exactly the reply's "data", Korean names as UTF-8, other members kept.
    EXPECT_EQ(JsonParse(QString::fromUtf8(bytes.mid(3))), JsonParse(QString::fromUtf8(kGoodReply))["data"]);
    EXPECT_TRUE(bytes.contains(QStringLiteral("사내메신저DB서버").toUtf8()));
    EXPECT_TRUE(QDir(sandbox.home()).entryList({QStringLiteral("*.json*")}, QDir::Files)
                == QStringList{QString::fromLatin1(kServerAddressFileName)}); // no temporary left

    EXPECT_EQ(GetServerHost(messengerDbServerName()), QString()); // not loaded yet
    LoadServerAddress();
    EXPECT_EQ(GetServerHost(messengerDbServerName()), QStringLiteral("10.1.2.3"));
    EXPECT_EQ(GetServerHost(autoUpdateLauncherName()), QStringLiteral("web.first")); // first wins
    EXPECT_EQ(GetServerHost(QStringLiteral("Build")), QStringLiteral("build.host"));
    EXPECT_EQ(GetServerHost(QStringLiteral("build")), QString());
    EXPECT_EQ(GetServerHost(QStringLiteral("Build ")), QString());
    EXPECT_EQ(GetServerHost(QStringLiteral("자동업데이트 런처")), QString());
    EXPECT_TRUE(ui.tells().isEmpty()) << ui.tells().join(QLatin1Char('\n')).toStdString();
}

TEST_F(ServerAddressTest, CachedVersionAndUserAreSentBackEncoded)
{
    server->setReply(kChecker, 200, QByteArrayLiteral(R"({"success": false})"));
    EXPECT_EQ(check(QStringLiteral("kim"), true), kChecker + QStringLiteral("?user=kim"));

    writeBytes(cachePath(), kBom + QByteArrayLiteral(R"({"ver": 7, "servers": []})"));
    EXPECT_EQ(check(QString(), true), kChecker + QStringLiteral("?ver=7"));
    EXPECT_EQ(check(QStringLiteral("kim"), true), kChecker + QStringLiteral("?ver=7&user=kim"));
    // Blanks, "&", "=" and Korean cannot break the query or add members to it.
    EXPECT_EQ(check(QStringLiteral("홍 a&b=c"), true),
              kChecker + QStringLiteral("?ver=7&user=%ED%99%8D%20a%26b%3Dc"));

    writeBytes(cachePath(), QByteArrayLiteral(R"({"ver": "2024.05-b", "servers": []})")); // no BOM
    EXPECT_EQ(check(QString(), true), kChecker + QStringLiteral("?ver=2024.05-b"));
}

TEST_F(ServerAddressTest, FailedOrUnusableRepliesLeaveTheCacheAlone)
{
    const QByteArray old = kBom + QByteArrayLiteral(R"({"ver": 3, "servers": [{"name": "A", "host": "old.host"}]})");
    writeBytes(cachePath(), old);

    struct Case {
        const char* what;
        int status;
        QByteArray body;
        bool result;
    };
    const Case cases[] = {
        {"success false", 200, R"({"success": false, "data": {"ver": 9, "servers": []}})", true},
        {"success missing", 200, R"({"data": {"ver": 9, "servers": []}})", true},
        {"success as text", 200, R"({"success": "true", "data": {"ver": 9, "servers": []}})", true},
        {"success without data", 200, R"({"success": true})", true},
        {"data not an object", 200, R"({"success": true, "data": [1, 2]})", true},
        {"not found", 404, R"({"success": true, "data": {"ver": 9, "servers": []}})", false},
        {"server error", 500, R"({"success": true, "data": {"ver": 9, "servers": []}})", false},
        {"not JSON", 200, "<html>maintenance</html>", false},
        {"empty body", 200, "", false},
        {"cut short", 200, R"({"success": true, "data": {"ver": 9, "servers": [{"name": "A", "host": "new.h)", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        server->setReply(kChecker, c.status, c.body);
        EXPECT_EQ(check(QString(), c.result), kChecker + QStringLiteral("?ver=3"));
        EXPECT_EQ(readBytes(cachePath()), old);
    }
    LoadServerAddress();
    EXPECT_EQ(GetServerHost(QStringLiteral("A")), QStringLiteral("old.host"));
    EXPECT_TRUE(ui.tells().isEmpty()) << ui.tells().join(QLatin1Char('\n')).toStdString();
}

TEST_F(ServerAddressTest, UnreachableOrHangingCheckerFallsBackToTheCache)
{
    server->setReply(kChecker, 200, kGoodReply);
    ASSERT_TRUE(CheckServerAddress(QString()));
    const QByteArray cached = readBytes(cachePath());

    {
        HttpServer gone;
        ASSERT_TRUE(gone.start()) << gone.diagnostics().toStdString();
        sandbox.site().checkerPort = gone.port();
        sandbox.apply();
        gone.kill(); // nothing listens on that port any more
        EXPECT_FALSE(CheckServerAddress(QStringLiteral("kim")));
    }

    // A checker that never answers in time must not hold start-up forever.
    sandbox.site().checkerPort = server->port();
    sandbox.apply();
    HttpServer::Reply slow;
    slow.body = QByteArrayLiteral(R"({"success": true, "data": {"ver": 8, "servers": []}})");
    slow.delaySec = 4;
    server->setReply(kChecker, slow);
    setServerAddressCheckerTimeouts(2, 1);
    EXPECT_FALSE(CheckServerAddress(QString()));

    EXPECT_EQ(readBytes(cachePath()), cached);
    LoadServerAddress();
    EXPECT_EQ(GetServerHost(messengerDbServerName()), QStringLiteral("10.1.2.3"));
    EXPECT_EQ(GetServerHost(autoUpdateLauncherName()), QStringLiteral("web.first"));
}

TEST_F(ServerAddressTest, DamagedCacheCountsAsMissingAndIsRepaired)
{
    const QByteArray damaged[] = {
        QByteArray(),                                                          // empty file
        kBom,                                                                  // BOM only
        QByteArrayLiteral(R"({"ver": 7, "servers": [{"name": "A", "host": "half)"), // cut short
        QByteArrayLiteral("garbage"),
    };
    for (const QByteArray& bytes : damaged) {
        SCOPED_TRACE(bytes.toStdString());
        writeBytes(cachePath(), bytes);
        LoadServerAddress();
        EXPECT_TRUE(ServerAddressData().isEmpty());
        EXPECT_EQ(GetServerHost(QStringLiteral("A")), QString()); // defaults stay

        server->setReply(kChecker, 200, kGoodReply);
        EXPECT_EQ(check(QString(), true), kChecker); // no version taken from it
        LoadServerAddress();
        EXPECT_EQ(GetServerHost(messengerDbServerName()), QStringLiteral("10.1.2.3"));
        ClearServerAddressData();
    }
}

TEST_F(ServerAddressTest, LoadKeepsHeldDataWithoutFileAndSkipsOddEntries)
{
    // No file: whatever was held stays.
    LoadServerAddress();
    EXPECT_TRUE(ServerAddressData().isEmpty());
    writeBytes(cachePath(), QStringLiteral(R"({"servers": [{"name": "A", "host": "a.host"}]})").toUtf8());
    LoadServerAddress();
    QFile::remove(cachePath());
    LoadServerAddress();
    EXPECT_EQ(GetServerHost(QStringLiteral("A")), QStringLiteral("a.host"));

    // Entries that are not objects, names and hosts of other kinds, no "servers".
    writeBytes(cachePath(), QStringLiteral(
        R"({"servers": ["A", null, {"host": "nameless"}, {"name": 5, "host": 42}, {"name": "B"}, {"name": "A", "host": "a2"}]})")
                                .toUtf8());
    LoadServerAddress();
    EXPECT_EQ(GetServerHost(QStringLiteral("A")), QStringLiteral("a2"));
    EXPECT_EQ(GetServerHost(QStringLiteral("5")), QStringLiteral("42"));
    EXPECT_EQ(GetServerHost(QStringLiteral("B")), QString());
    EXPECT_EQ(GetServerHost(QString()), QString());
    writeBytes(cachePath(), QByteArrayLiteral(R"({"ver": 1, "servers": {"name": "A", "host": "x"}})"));
    LoadServerAddress();
    EXPECT_FALSE(ServerAddressData().isEmpty());
    EXPECT_EQ(GetServerHost(QStringLiteral("A")), QString());
}

TEST_F(ServerAddressTest, CacheThatCannotBeWrittenShowsTheMessageAndStaysAsItWas)
{
    // A folder in the cache file's place: the rename over it fails.
    ASSERT_TRUE(QDir(sandbox.home()).mkdir(QString::fromLatin1(kServerAddressFileName)));
    server->setReply(kChecker, 200, kGoodReply);
    EXPECT_EQ(check(QString(), true), kChecker); // a folder is no cache file: no version
    ASSERT_EQ(ui.tells().size(), 1);
    EXPECT_TRUE(ui.tells().first().startsWith(QStringLiteral("파일 저장 중 오류 발생: ")))
        << ui.tells().first().toStdString();
    EXPECT_TRUE(QFileInfo(cachePath()).isDir());
    EXPECT_EQ(QDir(sandbox.home()).entryList({QStringLiteral("*.json*")}, QDir::Files), QStringList());
}

// The client the checker and the update downloads use.
TEST_F(ServerAddressTest, HttpGetToFileReplacesOnlyOnSuccess)
{
    const QString target = sandbox.home() + QStringLiteral("/download/rev.txt");
    QDir().mkpath(QFileInfo(target).absolutePath());
    writeBytes(target, "old");

    server->setReply(QStringLiteral("/missing"), 404, "nope");
    HttpResult r = httpGetToFile(server->url(QStringLiteral("/missing")), target);
    EXPECT_EQ(r.status, 404);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(readBytes(target), QByteArray("old"));

    HttpServer::Reply moved;
    moved.status = 302;
    moved.location = QStringLiteral("/files/rev.txt");
    server->setReply(QStringLiteral("/rev"), moved);
    QByteArray big(300 * 1024, 'x');
    big.append("end");
    writeBytes(server->root() + QStringLiteral("/rev.bin"), big);
    server->setReply(QStringLiteral("/files/rev.txt"), 200, big);
    r = httpGetToFile(server->url(QStringLiteral("/rev")), target);
    EXPECT_TRUE(r.ok()) << r.describe().toStdString();
    EXPECT_EQ(readBytes(target), big);
    EXPECT_EQ(QDir(QFileInfo(target).absolutePath()).entryList(QDir::Files), QStringList{QStringLiteral("rev.txt")});

    r = httpGet(server->url(QStringLiteral("/rev.bin")), HttpOptions{5, 10, 1024});
    EXPECT_FALSE(r.answered()); // larger than allowed
    EXPECT_TRUE(r.body.isEmpty());
    r = httpGet(QStringLiteral("ftp://127.0.0.1/x"));
    EXPECT_FALSE(r.answered());
    EXPECT_FALSE(r.errorText.isEmpty());
}

TEST_F(ServerAddressTest, AServerThatStopsAnsweringEndsTheRequestWithinTheStallTime)
{
    HttpServer::Reply silent;
    silent.body = "late";
    silent.delaySec = 120;
    server->setReply(QStringLiteral("/silent"), silent);
    HttpOptions options;
    options.timeoutSec = 0; // no overall limit: only the stall ends it
    options.stallTimeoutSec = 1;
    QElapsedTimer t;
    t.start();
    const HttpResult r = httpGet(server->url(QStringLiteral("/silent")), options);
    EXPECT_FALSE(r.answered());
    EXPECT_EQ(r.curlCode, 28) << r.describe().toStdString(); // CURLE_OPERATION_TIMEDOUT
    EXPECT_LT(t.elapsed(), 60000);
}

} // namespace
