// FtpSession against a real FTP server on loopback (tests/support/ftp_fixture).
#include "ftp_fixture.h"
#include "net/ftpsession.h"
#include "site/sitecfg.h"
#include "ports.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <curl/curl.h>

#include <stdexcept>
#include <vector>

using namespace rh;
using rh::test::FtpServer;

namespace {

const QString kDownload = QString::fromLatin1(kFtpDownloadFolder);
const QString kVersions = QString::fromLatin1(kFtpVersionsFolder);

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Writes `size` pseudo-random bytes (fixed seed per size, so mix-ups show).
void writeFile(const QString& path, qint64 size)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    QRandomGenerator gen(quint32(size) ^ 0x5eed);
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (qint64 left = size; left > 0;) {
        gen.fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
        qint64 n = std::min<qint64>(left, block.size());
        ASSERT_EQ(f.write(block.constData(), n), n);
        left -= n;
    }
}

struct ChunkLog {
    std::vector<FtpChunk> chunks;
    FtpUploadHooks hooks()
    {
        FtpUploadHooks h;
        h.chunk = [this](const FtpChunk& c) {
            chunks.push_back(c);
            return true;
        };
        return h;
    }
};

class FtpSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_local.isValid());
        ASSERT_TRUE(server.start(serverOptions())) << server.diagnostics().toStdString();
        m_savedSite = site();
        setSite(server.siteConfig(site()));
    }
    void TearDown() override { setSite(m_savedSite); }
    virtual FtpServer::Options serverOptions() const { return {}; }

    QString local(const QString& name) const { return m_local.filePath(name); }
    QString localFile(const QString& name, qint64 size)
    {
        QString p = local(name);
        writeFile(p, size);
        return p;
    }
    void connectOrFail(FtpSession& s)
    {
        FtpResult r = s.connect(server.login());
        ASSERT_TRUE(r.ok()) << r.describe().toStdString() << "\n"
                            << server.diagnostics().toStdString();
    }

    FtpServer server;

private:
    QTemporaryDir m_local;
    SiteConfig m_savedSite;
};

TEST_F(FtpSessionTest, UploadsAreByteExactWithOneCallbackPerChunk)
{
    FtpSession s;
    // The default login comes from the site configuration.
    FtpResult c = s.connect();
    ASSERT_TRUE(c.ok()) << c.describe().toStdString();

    const qint64 sizes[] = {0, 1500, 2048, 20 * 1024 * 1024 + 123};
    for (qint64 size : sizes) {
        SCOPED_TRACE(size);
        const QString name = QStringLiteral("f%1_2.exe").arg(size);
        const QString src = localFile(name, size);
        ChunkLog log;
        FtpResult r = s.uploadFile(src, kDownload + name, log.hooks());
        ASSERT_TRUE(r.ok()) << r.describe().toStdString();
        EXPECT_TRUE(r.remoteOpened);
        EXPECT_EQ(r.bytesSent, size);
        EXPECT_EQ(readAll(server.localPath(kDownload + name)), readAll(src));

        const qint64 expected = (size + 1023) / 1024;
        ASSERT_EQ(qint64(log.chunks.size()), expected);
        qint64 queued = 0;
        for (size_t i = 0; i < log.chunks.size(); ++i) {
            const FtpChunk& ch = log.chunks[i];
            const bool last = i + 1 == log.chunks.size();
            EXPECT_EQ(ch.bytes, last ? size - queued : 1024) << "chunk " << i;
            queued += ch.bytes;
            EXPECT_EQ(ch.queued, queued);
            EXPECT_EQ(ch.total, size);
            EXPECT_EQ(ch.remainder(), last && size % 1024 != 0) << "chunk " << i;
        }
    }
    // Every upload rode on the login's connection.
    EXPECT_EQ(server.connectionCount(), 1) << server.diagnostics().toStdString();
}

TEST_F(FtpSessionTest, RenameLookupAndVersionFilesShareOneConnection)
{
    FtpSession s;
    connectOrFail(s);

    // A version file from memory, with a Korean name sent as CP949 bytes.
    const QByteArray content("3.0.1.7;240305_1407");
    const QString verName = QStringLiteral("장부_2.ver");
    FtpResult up = s.uploadData(content, kVersions + verName);
    ASSERT_TRUE(up.ok()) << up.describe().toStdString();
    EXPECT_EQ(readAll(server.localPath(kVersions + verName)), content);

    FtpFileInfo info;
    FtpResult look = s.lookup(kVersions + verName, &info);
    ASSERT_TRUE(look.ok()) << look.describe().toStdString();
    EXPECT_TRUE(info.exists);
    EXPECT_EQ(info.size, content.size());

    FtpResult ren = s.rename(kVersions + verName, kVersions + QStringLiteral("장부.ver"));
    ASSERT_TRUE(ren.ok()) << ren.describe().toStdString();
    EXPECT_FALSE(QFile::exists(server.localPath(kVersions + verName)));
    EXPECT_EQ(readAll(server.localPath(kVersions + QStringLiteral("장부.ver"))), content);

    look = s.lookup(kVersions + verName, &info);
    ASSERT_TRUE(look.ok()) << look.describe().toStdString();
    EXPECT_FALSE(info.exists);
    EXPECT_EQ(info.size, -1);

    // An empty file exists with size 0 (not "missing").
    ASSERT_TRUE(s.uploadData({}, kDownload + QStringLiteral("empty.exe")).ok());
    look = s.lookup(kDownload + QStringLiteral("empty.exe"), &info);
    EXPECT_TRUE(look.ok() && info.exists && info.size == 0) << look.describe().toStdString();

    // Refused renames report the server's reply.
    FtpResult missing = s.rename(kDownload + QStringLiteral("nothing_2.exe"),
                                 kDownload + QStringLiteral("nothing.exe"));
    EXPECT_EQ(missing.status, FtpStatus::Failed);
    EXPECT_EQ(missing.curlCode, int(CURLE_QUOTE_ERROR));
    EXPECT_TRUE(missing.serverReply.startsWith(QLatin1String("550"))) << missing.describe().toStdString();
    EXPECT_TRUE(missing.errorText.contains(QLatin1String("nothing_2.exe")));

    FtpResult badTarget = s.rename(kVersions + QStringLiteral("장부.ver"),
                                   QStringLiteral("/no/such/folder/x.ver"));
    EXPECT_EQ(badTarget.status, FtpStatus::Failed);
    EXPECT_TRUE(badTarget.errorText.contains(QLatin1String("/no/such/folder/x.ver")))
        << badTarget.describe().toStdString();
    EXPECT_TRUE(QFile::exists(server.localPath(kVersions + QStringLiteral("장부.ver"))));

    // An upload into a missing folder: the remote file is never opened.
    const QString src = localFile(QStringLiteral("a.exe"), 1500);
    FtpResult lost = s.uploadFile(src, QStringLiteral("/public_html/nowhere/a.exe"));
    EXPECT_EQ(lost.status, FtpStatus::Failed);
    EXPECT_FALSE(lost.remoteOpened);
    EXPECT_NE(lost.curlCode, 0);
    EXPECT_FALSE(lost.serverReply.isEmpty());

    // None of the failures above cost the connection.
    ASSERT_TRUE(s.uploadFile(src, kDownload + QStringLiteral("a.exe")).ok());
    EXPECT_EQ(readAll(server.localPath(kDownload + QStringLiteral("a.exe"))), readAll(src));
    EXPECT_EQ(server.connectionCount(), 1) << server.diagnostics().toStdString();
}

TEST_F(FtpSessionTest, ConnectTwiceKeepsTheFirstConnection)
{
    FtpSession s;
    connectOrFail(s);
    FtpResult again = s.connect(server.login());
    EXPECT_EQ(again.status, FtpStatus::Failed);
    EXPECT_TRUE(s.isConnected());
    ASSERT_TRUE(s.uploadData("x", kDownload + QStringLiteral("x.ver")).ok());
    EXPECT_EQ(server.connectionCount(), 1);

    s.disconnect();
    EXPECT_FALSE(s.isConnected());
    FtpFileInfo info;
    EXPECT_EQ(s.lookup(kDownload + QStringLiteral("x.ver"), &info).status, FtpStatus::Failed);
    EXPECT_EQ(server.connectionCount(), 1);

    connectOrFail(s);
    EXPECT_TRUE(s.lookup(kDownload + QStringLiteral("x.ver"), &info).ok());
    EXPECT_TRUE(info.exists);
    EXPECT_EQ(server.connectionCount(), 2);
}

TEST_F(FtpSessionTest, RefusedLoginAndUnreachableServerKeepPasswordsOut)
{
    const QString correct = server.login().password;
    FtpLogin wrong = server.login();
    wrong.password = QStringLiteral("Wr0ng#Secret9");
    FtpSession s;
    FtpResult r = s.connect(wrong);
    EXPECT_EQ(r.status, FtpStatus::Failed);
    EXPECT_EQ(r.curlCode, int(CURLE_LOGIN_DENIED)) << r.describe().toStdString();
    EXPECT_FALSE(s.isConnected());
    EXPECT_FALSE(r.describe().contains(wrong.password)) << r.describe().toStdString();
    EXPECT_FALSE(r.describe().contains(correct));
    EXPECT_TRUE(server.waitForOutput(QStringLiteral("EVENT login-failed tvc1")));
    EXPECT_FALSE(server.diagnostics().contains(wrong.password));

    server.kill();
    FtpResult down = s.connect(server.login());
    EXPECT_EQ(down.status, FtpStatus::Failed);
    EXPECT_EQ(down.curlCode, int(CURLE_COULDNT_CONNECT)) << down.describe().toStdString();
    EXPECT_FALSE(down.describe().contains(correct));
    EXPECT_FALSE(s.isConnected());
}

TEST_F(FtpSessionTest, ServerKilledMidUploadFailsAndReconnectWorks)
{
    const QString src = localFile(QStringLiteral("big_2.exe"), 20 * 1024 * 1024);
    FtpSession s;
    connectOrFail(s);
    FtpUploadHooks hooks;
    hooks.chunk = [this](const FtpChunk& c) {
        if (c.queued == 4 * 1024 * 1024)
            server.kill();
        return true;
    };
    FtpResult r = s.uploadFile(src, kDownload + QStringLiteral("big_2.exe"), hooks);
    EXPECT_EQ(r.status, FtpStatus::Failed);
    EXPECT_TRUE(r.remoteOpened);
    EXPECT_NE(r.curlCode, 0);
    EXPECT_LT(r.bytesSent, qint64(20 * 1024 * 1024));

    ASSERT_TRUE(server.restart()) << server.diagnostics().toStdString();
    s.disconnect();
    connectOrFail(s);
    const QString small = localFile(QStringLiteral("small.exe"), 1500);
    FtpResult after = s.uploadFile(small, kDownload + QStringLiteral("small.exe"));
    ASSERT_TRUE(after.ok()) << after.describe().toStdString();
    EXPECT_EQ(readAll(server.localPath(kDownload + QStringLiteral("small.exe"))), readAll(small));
}

TEST_F(FtpSessionTest, CancelFromChunkCallbackLeavesThePartialFile)
{
    const qint64 size = 20 * 1024 * 1024;
    const QString src = localFile(QStringLiteral("c_2.exe"), size);
    FtpSession s;
    connectOrFail(s);
    int calls = 0;
    FtpUploadHooks hooks;
    hooks.chunk = [&calls](const FtpChunk&) { return ++calls < 3000; };
    FtpResult r = s.uploadFile(src, kDownload + QStringLiteral("c_2.exe"), hooks);
    EXPECT_EQ(r.status, FtpStatus::Cancelled) << r.describe().toStdString();
    EXPECT_EQ(calls, 3000); // no chunk is offered after the refusal
    // The server writes until it sees the connection end; read after it closed the file.
    EXPECT_TRUE(server.waitForUploadClosed(kDownload + QStringLiteral("c_2.exe")))
        << server.diagnostics().toStdString();

    // The partial file stays, holding a prefix of what was approved and
    // nothing of the refused chunk.
    const QByteArray remote = readAll(server.localPath(kDownload + QStringLiteral("c_2.exe")));
    EXPECT_LE(remote.size(), 2999 * 1024);
    EXPECT_EQ(remote, readAll(src).left(remote.size()));

    // The session carries on (curl opens a fresh control connection after an abort).
    FtpFileInfo info;
    FtpResult look = s.lookup(kDownload + QStringLiteral("c_2.exe"), &info);
    ASSERT_TRUE(look.ok()) << look.describe().toStdString();
    EXPECT_TRUE(info.exists);
}

TEST_F(FtpSessionTest, BadInputIsRefusedBeforeTheServerSeesIt)
{
    FtpSession s;
    connectOrFail(s);
    const QString src = localFile(QStringLiteral("ok.exe"), 10);

    FtpResult noFile = s.uploadFile(local(QStringLiteral("missing.exe")), kDownload + QStringLiteral("m.exe"));
    EXPECT_EQ(noFile.status, FtpStatus::Failed);
    EXPECT_EQ(noFile.curlCode, int(CURLE_READ_ERROR));
    EXPECT_FALSE(QFile::exists(server.localPath(kDownload + QStringLiteral("m.exe"))));

    // A line break in a name would smuggle a second command onto the control connection.
    FtpResult inject = s.rename(kDownload + QStringLiteral("ok.exe\r\nDELE /public_html/download/keep"),
                                kDownload + QStringLiteral("x"));
    EXPECT_EQ(inject.status, FtpStatus::Failed);
    EXPECT_EQ(s.uploadFile(src, QStringLiteral("relative/ok.exe")).status, FtpStatus::Failed);
    // A character CP949 cannot hold would reach the server as '?'.
    EXPECT_EQ(s.uploadData("1", kVersions + QStringLiteral("\u00e6\u0100.ver")).status, FtpStatus::Failed);

    // Names with blanks, '#', '%' and '?' arrive as written.
    const QString odd = kDownload + QStringLiteral("a b#c%20d?.exe");
    ASSERT_TRUE(s.uploadFile(src, odd).ok());
    EXPECT_EQ(readAll(server.localPath(odd)), readAll(src));
    EXPECT_EQ(QDir(server.localPath(kDownload)).entryList(QDir::Files),
              QStringList{QStringLiteral("a b#c%20d?.exe")});
}

TEST_F(FtpSessionTest, CallbacksCannotReenterOrOutliveTheSession)
{
    const QString src = localFile(QStringLiteral("r.exe"), 3 * 1024 * 1024);
    FtpSession s;
    connectOrFail(s);

    FtpResult inner;
    FtpUploadHooks reenter;
    reenter.chunk = [&](const FtpChunk& c) {
        if (c.queued == 1024)
            inner = s.rename(kDownload + QStringLiteral("r.exe"), kDownload + QStringLiteral("q.exe"));
        return true;
    };
    ASSERT_TRUE(s.uploadFile(src, kDownload + QStringLiteral("r.exe"), reenter).ok());
    EXPECT_EQ(inner.status, FtpStatus::Failed);
    EXPECT_TRUE(inner.errorText.contains(QLatin1String("busy")));

    // A throwing callback must not unwind through curl.
    FtpUploadHooks throwing;
    throwing.chunk = [](const FtpChunk& c) -> bool {
        if (c.queued > 100 * 1024)
            throw std::runtime_error("boom");
        return true;
    };
    FtpResult thrown = s.uploadFile(src, kDownload + QStringLiteral("t.exe"), throwing);
    EXPECT_EQ(thrown.status, FtpStatus::Failed);
    EXPECT_EQ(thrown.curlCode, int(CURLE_READ_ERROR));

    // Closing from inside a callback stops the transfer and closes afterwards.
    FtpUploadHooks closing;
    closing.chunk = [&](const FtpChunk& c) {
        if (c.queued == 2048)
            s.disconnect();
        return true;
    };
    FtpResult closed = s.uploadFile(src, kDownload + QStringLiteral("d.exe"), closing);
    EXPECT_EQ(closed.status, FtpStatus::Cancelled);
    EXPECT_FALSE(s.isConnected());
}

TEST_F(FtpSessionTest, ProxiesFromTheEnvironmentAreIgnoredUnlessTheSiteNamesOne)
{
    const QByteArray dead = "http://127.0.0.1:" + QByteArray::number(rh::test::refusingPort());
    qputenv("ftp_proxy", dead);
    qputenv("all_proxy", dead);
    FtpSession s;
    FtpResult direct = s.connect(server.login());
    EXPECT_TRUE(direct.ok()) << direct.describe().toStdString();
    EXPECT_TRUE(s.uploadData("1", kVersions + QStringLiteral("p.ver")).ok());
    s.disconnect();

    FtpLogin viaProxy = server.login();
    viaProxy.proxy = QString::fromLatin1(dead);
    EXPECT_EQ(s.connect(viaProxy).curlCode, int(CURLE_COULDNT_CONNECT)) << "the named proxy is used";
    qunsetenv("ftp_proxy");
    qunsetenv("all_proxy");
    // The site's key reaches the login.
    SiteConfig withProxy = site();
    withProxy.ftpProxy = QStringLiteral("proxy.local:3128");
    setSite(withProxy);
    EXPECT_EQ(FtpLogin::fromSite().proxy, QStringLiteral("proxy.local:3128"));
}

class RefusingFtpSessionTest : public FtpSessionTest,
                               public ::testing::WithParamInterface<const char*> {
protected:
    FtpServer::Options serverOptions() const override
    {
        FtpServer::Options o;
        o.refuse = QString::fromLatin1(GetParam()).split(QLatin1Char(','));
        return o;
    }
};

TEST_P(RefusingFtpSessionTest, LookupsFallBackWhenTheServerRefusesSize)
{
    FtpSession s;
    connectOrFail(s);
    const QString korean = kVersions + QStringLiteral("장부 setup_2.ver");
    ASSERT_TRUE(s.uploadData("3.0.1.7;240305_1407", korean).ok());
    ASSERT_TRUE(s.uploadData({}, kDownload + QStringLiteral("empty.exe")).ok());
    ASSERT_TRUE(s.uploadData("x", kDownload + QStringLiteral("empty.exe.bak")).ok());

    FtpFileInfo info;
    FtpResult look = s.lookup(korean, &info);
    ASSERT_TRUE(look.ok()) << look.describe().toStdString();
    EXPECT_TRUE(info.exists);
    EXPECT_EQ(info.size, 19);
    look = s.lookup(kDownload + QStringLiteral("empty.exe"), &info);
    EXPECT_TRUE(look.ok() && info.exists && info.size == 0) << look.describe().toStdString();
    look = s.lookup(kDownload + QStringLiteral("empty"), &info);
    EXPECT_TRUE(look.ok() && !info.exists) << look.describe().toStdString();
    look = s.lookup(kDownload + QStringLiteral("versions"), &info); // a folder is no file
    EXPECT_TRUE(look.ok() && !info.exists) << look.describe().toStdString();
    look = s.lookup(QStringLiteral("/no/such/folder/a.exe"), &info);
    EXPECT_TRUE(look.ok() && !info.exists) << look.describe().toStdString();
    EXPECT_EQ(server.connectionCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(Servers, RefusingFtpSessionTest, ::testing::Values("SIZE", "SIZE,MLST"));

class ThrottledFtpSessionTest : public FtpSessionTest {
protected:
    FtpServer::Options serverOptions() const override
    {
        FtpServer::Options o;
        o.throttleBytesPerSec = 1024 * 1024;
        return o;
    }
};

TEST_F(ThrottledFtpSessionTest, IdleHookRunsWhileTheNetworkIsSlowAndCanCancel)
{
    const qint64 size = 20 * 1024 * 1024;
    const QString src = localFile(QStringLiteral("slow_2.exe"), size);
    FtpSession s;
    connectOrFail(s);
    int idleCalls = 0;
    qint64 chunks = 0;
    FtpUploadHooks hooks;
    hooks.chunk = [&](const FtpChunk&) {
        ++chunks;
        return true;
    };
    hooks.idle = [&] { return ++idleCalls < 5; };
    FtpResult r = s.uploadFile(src, kDownload + QStringLiteral("slow_2.exe"), hooks);
    EXPECT_EQ(r.status, FtpStatus::Cancelled) << r.describe().toStdString();
    EXPECT_EQ(idleCalls, 5);
    EXPECT_LT(chunks, size / 1024) << "cancelled while the upload (20 s at this rate) went on";
}

// A server that reads slowly still holds much of an upload in the socket
// buffers when the last byte has been handed over; the hooks go on answering
// until it has read it all and confirmed the file.
class SlowReadingFtpSessionTest : public FtpSessionTest {
protected:
    FtpServer::Options serverOptions() const override
    {
        FtpServer::Options o;
        o.throttleBytesPerSec = 128 * 1024;
        return o;
    }
};

TEST_F(SlowReadingFtpSessionTest, HooksGoOnUntilTheServerHasReadTheLastByte)
{
    const qint64 size = 384 * 1024;
    const QString src = localFile(QStringLiteral("tail_2.exe"), size);
    FtpSession s;
    connectOrFail(s);
    QElapsedTimer clock;
    qint64 lastCall = 0, longestGap = 0;
    auto called = [&] {
        longestGap = std::max(longestGap, clock.elapsed() - lastCall);
        lastCall = clock.elapsed();
    };
    FtpUploadHooks hooks;
    hooks.chunk = [&](const FtpChunk&) {
        called();
        return true;
    };
    hooks.idle = [&] {
        called();
        return true;
    };
    clock.start();
    const FtpResult r = s.uploadFile(src, kDownload + QStringLiteral("tail_2.exe"), hooks);
    called();
    ASSERT_TRUE(r.ok()) << r.describe().toStdString();
    EXPECT_EQ(readAll(server.localPath(kDownload + QStringLiteral("tail_2.exe"))), readAll(src));
    // The hooks come every 50 ms; a second is far off even on a busy machine.
    EXPECT_LT(longestGap, 1000) << "of " << clock.elapsed() << " ms";
}

} // namespace
