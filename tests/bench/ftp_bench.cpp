// Upload throughput of FtpSession against the curl command line, both sending
// the same file to the same loopback FTP server in the same run, and peak
// memory after a 20 MB and a 200 MB upload (it must not grow with the size).
//
//   bench_ftp_bench [size-MB=200] [rounds=9] [buffer-KB=512]
//
// curl is a process per upload; its start-up is a few ms of seconds-long
// uploads, so the ratio compares the transfers. Exits 1 when the median ratio
// is under 0.90, 2 when an upload failed or arrived damaged.
#include "ftp_fixture.h"
#include "net/ftpsession.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace rh;

namespace {

constexpr qint64 kMB = 1024 * 1024;

struct Cpu {
    double self = 0, children = 0;
    static double seconds(const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; }
    static Cpu now()
    {
        rusage s{}, c{};
        getrusage(RUSAGE_SELF, &s);
        getrusage(RUSAGE_CHILDREN, &c);
        return {seconds(s.ru_utime) + seconds(s.ru_stime), seconds(c.ru_utime) + seconds(c.ru_stime)};
    }
};

long peakRssKb()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

bool writeFile(const QString& path, qint64 size)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    QRandomGenerator gen(7);
    QByteArray block(int(kMB), Qt::Uninitialized);
    for (qint64 left = size; left > 0; left -= block.size()) {
        gen.fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
        qint64 n = std::min<qint64>(left, block.size());
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

struct Run {
    double seconds = -1;
    double cpu = 0;
};

double median(std::vector<Run> runs, double Run::*field)
{
    std::sort(runs.begin(), runs.end(), [field](const Run& a, const Run& b) { return a.*field < b.*field; });
    const size_t n = runs.size();
    return n % 2 ? runs[n / 2].*field : (runs[n / 2 - 1].*field + runs[n / 2].*field) / 2;
}

double best(const std::vector<Run>& runs)
{
    double b = runs.front().seconds;
    for (const Run& r : runs)
        b = std::min(b, r.seconds);
    return b;
}

struct Failure {
    QString why;
};

// Thrown, not exit(): the server and the temporary files must be cleaned up.
[[noreturn]] void die(const QString& why)
{
    throw Failure{why};
}

// The curl CLI; the account goes in through stdin, not the command line.
Run curlUpload(const test::FtpServer& server, const QString& file, const QString& remote)
{
    FtpLogin l = server.login();
    QProcess p;
    p.setProgram(QStringLiteral("curl"));
    p.setArguments({QStringLiteral("-sS"), QStringLiteral("-K"), QStringLiteral("-"),
                    QStringLiteral("-T"), file,
                    QStringLiteral("ftp://127.0.0.1:%1/").arg(l.port) + QStringLiteral("%2F") + remote.mid(1)});
    Cpu before = Cpu::now();
    QElapsedTimer t;
    t.start();
    p.start();
    if (!p.waitForStarted())
        die(QStringLiteral("cannot run curl: %1 (install Debian's curl package)").arg(p.errorString()));
    p.write(QStringLiteral("user = \"%1:%2\"\n").arg(l.user, l.password).toUtf8());
    p.closeWriteChannel();
    p.waitForFinished(-1);
    Run r{t.elapsed() / 1000.0, 0};
    r.cpu = Cpu::now().children - before.children;
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        die(QStringLiteral("curl failed: %1").arg(QString::fromLocal8Bit(p.readAllStandardError())));
    return r;
}

int g_bufferKb = 512;

Run apiUpload(const test::FtpServer& server, const QString& file, const QString& remote,
              bool oneChunkPerRead)
{
    qint64 chunks = 0;
    FtpUploadHooks hooks;
    hooks.chunk = [&chunks](const FtpChunk&) {
        ++chunks; // the desk's per-chunk work would go here
        return true;
    };
    FtpUploadOptions opt;
    opt.oneChunkPerRead = oneChunkPerRead;
    opt.bufferSize = g_bufferKb * 1024;
    Cpu before = Cpu::now();
    QElapsedTimer t;
    t.start();
    FtpSession s;
    FtpResult c = s.connect(server.login());
    if (!c.ok())
        die(QStringLiteral("connect: %1").arg(c.describe()));
    FtpResult r = s.uploadFile(file, remote, hooks, opt);
    s.disconnect();
    Run run{t.elapsed() / 1000.0, Cpu::now().self - before.self};
    if (!r.ok())
        die(QStringLiteral("upload: %1").arg(r.describe()));
    if (chunks != (QFileInfo(file).size() + 1023) / 1024)
        die(QStringLiteral("chunk callback ran %1 times").arg(chunks));
    return run;
}

void checkAndRemove(const test::FtpServer& server, const QString& remote, const QString& file,
                    const QByteArray& expected)
{
    const QString path = server.localPath(remote);
    if (QFileInfo(path).size() != QFileInfo(file).size() || (!expected.isEmpty() && sha1(path) != expected))
        die(QStringLiteral("%1 arrived damaged: %2 bytes of %3").arg(remote).arg(QFileInfo(path).size()).arg(QFileInfo(file).size()));
    QFile::remove(path);
}

} // namespace

int run(int argc, char** argv);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    try {
        return run(argc, argv);
    } catch (const Failure& f) {
        std::fprintf(stderr, "ftp_bench: %s (FAILED measurement)\n", qPrintable(f.why));
        return 2;
    }
}

int run(int argc, char** argv)
{
    const qint64 bigMb = argc > 1 ? QByteArray(argv[1]).toLongLong() : 200;
    const int rounds = argc > 2 ? QByteArray(argv[2]).toInt() : 9;
    g_bufferKb = argc > 3 ? QByteArray(argv[3]).toInt() : 512;
    if (bigMb <= 0 || rounds <= 0 || g_bufferKb < 16 || g_bufferKb > 2048)
        die(QStringLiteral("usage: bench_ftp_bench [size-MB] [rounds] [buffer-KB 16..2048]"));

    test::FtpServer server;
    if (!server.start())
        die(server.diagnostics());
    QTemporaryDir dir; // in /tmp, removed at exit
    const QString small = dir.filePath(QStringLiteral("small.bin"));
    const QString big = dir.filePath(QStringLiteral("big.bin"));
    if (!writeFile(small, 20 * kMB) || !writeFile(big, bigMb * kMB))
        die(QStringLiteral("cannot write the test files in %1").arg(dir.path()));
    const QString remote = QString::fromLatin1(kFtpDownloadFolder) + QStringLiteral("bench.bin");

    // Memory first, before anything else could raise the peak.
    const long rssStart = peakRssKb();
    apiUpload(server, small, remote, false);
    const long rssSmall = peakRssKb();
    checkAndRemove(server, remote, small, {});
    apiUpload(server, big, remote, false);
    const long rssBig = peakRssKb();
    const QByteArray bigSum = sha1(big);
    checkAndRemove(server, remote, big, bigSum);

    // Interleaved rounds, so a busy moment of the machine or of the Python
    // server hits every method alike; medians decide, bests are shown too.
    std::vector<Run> curlRuns, apiRuns, oneRuns;
    for (int i = 0; i < rounds; ++i) {
        curlRuns.push_back(curlUpload(server, big, remote));
        checkAndRemove(server, remote, big, bigSum);
        apiRuns.push_back(apiUpload(server, big, remote, false));
        checkAndRemove(server, remote, big, bigSum);
        oneRuns.push_back(apiUpload(server, big, remote, true));
        checkAndRemove(server, remote, big, bigSum);
    }

    const double mb = double(bigMb);
    std::printf("FTP upload of %lld MB to a loopback pyftpdlib server, %d interleaved rounds\n",
                static_cast<long long>(bigMb), rounds);
    std::printf("%-40s %12s %12s %16s\n", "", "median MB/s", "best MB/s", "client CPU s");
    auto line = [mb](const char* what, const std::vector<Run>& runs) {
        std::printf("%-40s %12.1f %12.1f %16.2f   rounds(s):", what, mb / median(runs, &Run::seconds),
                    mb / best(runs), median(runs, &Run::cpu));
        for (const Run& r : runs)
            std::printf(" %.2f", r.seconds);
        std::printf("\n");
    };
    line("curl -T", curlRuns);
    const QByteArray apiName = QStringLiteral("FtpSession, %1 KB buffer, 1 KB chunks").arg(g_bufferKb).toUtf8();
    line(apiName.constData(), apiRuns);
    line("FtpSession, one 1 KB chunk per read", oneRuns);
    const double curlMedian = median(curlRuns, &Run::seconds);
    std::printf("ratio FtpSession / curl: %.2f median, %.2f best (target >= 0.90)\n",
                curlMedian / median(apiRuns, &Run::seconds), best(curlRuns) / best(apiRuns));
    std::printf("ratio 1 KB per read / curl: %.2f median, %.2f best\n",
                curlMedian / median(oneRuns, &Run::seconds), best(curlRuns) / best(oneRuns));
    std::printf("peak RSS: start %ld KB, after 20 MB upload %ld KB, after %lld MB upload %ld KB (growth %ld KB)\n",
                rssStart, rssSmall, static_cast<long long>(bigMb), rssBig, rssBig - rssSmall);
    const bool met = curlMedian / median(apiRuns, &Run::seconds) >= 0.9;
    std::printf("target: FtpSession at least 0.90 of curl's median: %s\n", met ? "met" : "MISSED");
    return met ? 0 : 1;
}
