// The window's upload (FtpUploadFile on a desk: cancel check and event pump
// per 1024-byte chunk, the throttled status frame) against the curl command
// line, both sending the same file to the same loopback FTP server in the same
// run; and peak memory after a 20 MB and a large upload.
//
//   bench_ftpupload_bench [size-MB=200] [rounds=15]
//
// The Python server's speed varies from upload to upload; the rounds are
// interleaved and the medians decide. curl is a process per upload; its
// start-up is a few ms of seconds-long uploads, so the ratio compares the
// transfers. Exits 1 when the median ratio is under 0.90, 2 when an upload
// failed or arrived damaged.
#include "ftp_fixture.h"
#include "pipeline/desk.h"
#include "pipeline/ftptransfer.h"
#include "platform/interaction.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace rh;

namespace {

constexpr qint64 kMB = 1024 * 1024;

long peakRssKb()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

struct Failure {
    QString why;
};

[[noreturn]] void die(const QString& why)
{
    throw Failure{why};
}

// The window's side of the seam as the GUI has it: every pump runs the event
// loop; questions and messages would be failures here.
class PumpingInteraction final : public Interaction {
public:
    qint64 pumps = 0;
    QStringList messages;
    void logLine(const QString& line) override
    {
        messages << line;
        pumpEvents();
    }
    void pumpEvents() override
    {
        ++pumps;
        QCoreApplication::processEvents();
    }
    bool askYesNo(const QString& text, const QString&, MsgIcon, bool) override
    {
        messages << text;
        return false;
    }
    void tell(const QString& text, const QString&, MsgIcon) override { messages << text; }
    void setBusy(bool) override {}
};

bool writeFile(const QString& path, qint64 size)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    QRandomGenerator gen(11);
    QByteArray block(int(kMB), Qt::Uninitialized);
    for (qint64 left = size; left > 0; left -= block.size()) {
        gen.fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
        const qint64 n = std::min<qint64>(left, block.size());
        if (f.write(block.constData(), n) != n)
            return false;
    }
    return true;
}

QByteArray sha1(const QString& path)
{
    QFile f(path);
    QCryptographicHash h(QCryptographicHash::Sha1);
    if (!f.open(QIODevice::ReadOnly) || !h.addData(&f))
        return "unreadable";
    return h.result().toHex();
}

double curlUpload(const test::FtpServer& server, const QString& file, const QString& remote)
{
    const FtpLogin l = server.login();
    QProcess p;
    p.setProgram(QStringLiteral("curl"));
    p.setArguments({QStringLiteral("-sS"), QStringLiteral("-K"), QStringLiteral("-"), QStringLiteral("-T"), file,
                    QStringLiteral("ftp://127.0.0.1:%1/%2F").arg(l.port) + remote.mid(1)});
    QElapsedTimer t;
    t.start();
    p.start();
    if (!p.waitForStarted())
        die(QStringLiteral("cannot run curl: %1").arg(p.errorString()));
    p.write(QStringLiteral("user = \"%1:%2\"\n").arg(l.user, l.password).toUtf8());
    p.closeWriteChannel();
    p.waitForFinished(-1);
    const double s = t.elapsed() / 1000.0;
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        die(QStringLiteral("curl failed: %1").arg(QString::fromLocal8Bit(p.readAllStandardError())));
    return s;
}

struct DeskRun {
    double seconds = 0;
    qint64 chunks = 0;
    int refreshes = 0;
    qint64 pumps = 0;
};

// Connect, upload and disconnect on a desk, as the distribution step does.
// yieldIntervalMs 0 runs the event loop after every chunk.
DeskRun deskUpload(Desk& desk, PumpingInteraction& ui, const QString& file, const QString& remoteName,
                   int yieldIntervalMs = 1)
{
    ftpConnection(desk).yieldIntervalMs = yieldIntervalMs;
    // Something for the event loop to do now and then, like a window would.
    QTimer timer;
    int timerTicks = 0;
    QObject::connect(&timer, &QTimer::timeout, [&timerTicks] { ++timerTicks; });
    timer.start(10);
    const qint64 pumpsBefore = ui.pumps;
    QElapsedTimer t;
    t.start();
    if (!FtpConnect(desk))
        die(QStringLiteral("connect failed: %1").arg(ui.messages.join(QLatin1Char('|'))));
    const bool ok = FtpUploadFile(desk, file, remoteName, QString());
    FtpDisconnect(desk);
    DeskRun r;
    r.seconds = t.elapsed() / 1000.0;
    if (!ok || !ui.messages.isEmpty())
        die(QStringLiteral("upload failed: %1").arg(ui.messages.join(QLatin1Char('|'))));
    const FtpUploadStats& st = ftpConnection(desk).lastUpload;
    r.chunks = st.chunkWrites;
    r.refreshes = st.refreshes;
    r.pumps = ui.pumps - pumpsBefore;
    return r;
}

void checkAndRemove(const test::FtpServer& server, const QString& remote, const QString& file,
                    const QByteArray& expected)
{
    const QString path = server.localPath(remote);
    if (QFileInfo(path).size() != QFileInfo(file).size() || (!expected.isEmpty() && sha1(path) != expected))
        die(QStringLiteral("%1 arrived damaged").arg(remote));
    QFile::remove(path);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

int run(int argc, char** argv)
{
    const qint64 bigMb = argc > 1 ? QByteArray(argv[1]).toLongLong() : 200;
    const int rounds = argc > 2 ? QByteArray(argv[2]).toInt() : 15;
    if (bigMb <= 0 || rounds <= 0)
        die(QStringLiteral("usage: bench_ftpupload_bench [size-MB] [rounds]"));

    test::FtpServer server;
    if (!server.start())
        die(server.diagnostics());
    SiteConfig cfg = server.siteConfig(site());
    setSite(cfg);

    QTemporaryDir dir;
    const QString small = dir.filePath(QStringLiteral("small.bin"));
    const QString big = dir.filePath(QStringLiteral("big.bin"));
    if (!writeFile(small, 20 * kMB) || !writeFile(big, bigMb * kMB))
        die(QStringLiteral("cannot write the test files in %1").arg(dir.path()));
    const QString name = QStringLiteral("bench_2.exe");
    const QString remote = QString::fromLatin1(kFtpDownloadFolder) + name;

    PumpingInteraction ui;
    setInteraction(&ui);
    Desk desk;

    const long rssStart = peakRssKb();
    deskUpload(desk, ui, small, name);
    const long rssSmall = peakRssKb();
    checkAndRemove(server, remote, small, {});
    const DeskRun first = deskUpload(desk, ui, big, name);
    const long rssBig = peakRssKb();
    const QByteArray bigSum = sha1(big);
    checkAndRemove(server, remote, big, bigSum);

    // Interleaved, so a busy moment of the machine or of the Python server
    // hits every method alike.
    std::vector<double> curlRuns, deskRuns, strictRuns;
    DeskRun strict;
    for (int i = 0; i < rounds; ++i) {
        curlRuns.push_back(curlUpload(server, big, remote));
        checkAndRemove(server, remote, big, bigSum);
        deskRuns.push_back(deskUpload(desk, ui, big, name).seconds);
        checkAndRemove(server, remote, big, bigSum);
        strict = deskUpload(desk, ui, big, name, 0);
        strictRuns.push_back(strict.seconds);
        checkAndRemove(server, remote, big, bigSum);
    }
    setInteraction(nullptr);

    const double mb = double(bigMb);
    auto best = [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); };
    std::printf("FTP upload of %lld MB to a loopback pyftpdlib server, %d interleaved rounds\n",
                static_cast<long long>(bigMb), rounds);
    std::printf("%-46s %12s %12s\n", "", "median MB/s", "best MB/s");
    std::printf("%-46s %12.1f %12.1f\n", "curl -T", mb / median(curlRuns), mb / best(curlRuns));
    std::printf("%-46s %12.1f %12.1f\n", "FtpUploadFile on a desk, yield each 1 ms",
                mb / median(deskRuns), mb / best(deskRuns));
    std::printf("%-46s %12.1f %12.1f\n", "FtpUploadFile on a desk, yield each chunk",
                mb / median(strictRuns), mb / best(strictRuns));
    std::printf("ratio FtpUploadFile / curl: %.2f median, %.2f best (target >= 0.90)\n",
                median(curlRuns) / median(deskRuns), best(curlRuns) / best(deskRuns));
    std::printf("ratio with a yield after each chunk / curl: %.2f median, %.2f best\n",
                median(curlRuns) / median(strictRuns), best(curlRuns) / best(strictRuns));
    std::printf("per upload: %lld chunks, %d display refreshes; event pumps %lld (1 ms), %lld (each chunk)\n",
                static_cast<long long>(first.chunks), first.refreshes, static_cast<long long>(first.pumps),
                static_cast<long long>(strict.pumps));
    std::printf("peak RSS: start %ld KB, after 20 MB upload %ld KB, after %lld MB upload %ld KB (growth %ld KB)\n",
                rssStart, rssSmall, static_cast<long long>(bigMb), rssBig, rssBig - rssSmall);
    const bool met = median(curlRuns) / median(deskRuns) >= 0.9;
    std::printf("target: FtpUploadFile at least 0.90 of curl's median: %s\n", met ? "met" : "MISSED");
    return met ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    try {
        return run(argc, argv);
    } catch (const Failure& f) {
        setInteraction(nullptr);
        std::fprintf(stderr, "ftpupload_bench: %s (FAILED measurement)\n", qPrintable(f.why));
        return 2;
    }
}
