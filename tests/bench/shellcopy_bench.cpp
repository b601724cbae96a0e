// ShellCopyFiles against cp: 1 GiB in four files copied into a fresh folder,
// each tool twice in alternating order, caches left as they are. Prints the
// throughput of every run and the ratio of the means (target: >= 0.9).
// Dirty pages are written back (sync) before every timed run so no run pays
// for the previous one's write-back; nothing is dropped from the cache.
// RH_BENCH_DIR chooses the scratch folder (default: the temporary folder).
// cp is a process per copy; with 1 GiB per copy its start-up is a few ms of
// seconds, so the ratio compares the copying. Exits 1 when the target is
// missed, 2 when a copy failed.
#include "platform/shellcopy.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <vector>

#include <unistd.h>

namespace {

constexpr int kFiles = 4;
constexpr qint64 kFileSize = qint64(256) << 20;

bool makeSource(const QString& path, quint32 seed)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    QByteArray chunk(4 << 20, Qt::Uninitialized);
    QRandomGenerator gen(seed);
    for (qint64 written = 0; written < kFileSize; written += chunk.size()) {
        gen.fillRange(reinterpret_cast<quint32*>(chunk.data()), chunk.size() / 4);
        if (f.write(chunk) != chunk.size())
            return false;
    }
    return true;
}

double mbPerSecond(qint64 nanoseconds)
{
    return double(kFiles * kFileSize) / (1024.0 * 1024.0) / (double(nanoseconds) / 1e9);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString base = qEnvironmentVariableIsSet("RH_BENCH_DIR") ? qEnvironmentVariable("RH_BENCH_DIR")
                                                                   : QDir::tempPath();
    QTemporaryDir scratch(base + QStringLiteral("/rh-shellcopy-bench-XXXXXX"));
    if (!scratch.isValid()) {
        std::fprintf(stderr, "cannot make a scratch folder in %s\n", qPrintable(base));
        return 2;
    }
    const QString srcDir = scratch.path() + QStringLiteral("/src");
    QDir().mkpath(srcDir);
    QStringList sources;
    QString list;
    for (int i = 0; i < kFiles; ++i) {
        const QString p = srcDir + QStringLiteral("/setup_%1_2.exe").arg(i);
        if (!makeSource(p, quint32(i + 1))) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(p));
            return 2;
        }
        sources << p;
        if (i)
            list += QChar(0);
        list += p;
    }

    int run = 0;
    auto timeCp = [&]() -> qint64 {
        const QString dest = scratch.path() + QStringLiteral("/cp%1").arg(++run);
        QDir().mkpath(dest);
        ::sync();
        QElapsedTimer t;
        t.start();
        const int rc = QProcess::execute(QStringLiteral("cp"), sources + QStringList{dest + QLatin1Char('/')});
        const qint64 ns = t.nsecsElapsed();
        QDir(dest).removeRecursively();
        return rc == 0 ? ns : -1;
    };
    auto timeRh = [&]() -> qint64 {
        const QString dest = scratch.path() + QStringLiteral("/rh%1").arg(++run);
        ::sync();
        QElapsedTimer t;
        t.start();
        const bool ok = rh::ShellCopyFiles(list, dest, 0, false); // progress path included
        const qint64 ns = t.nsecsElapsed();
        QDir(dest).removeRecursively();
        return ok ? ns : -1;
    };

    // Each tool runs twice per round, in alternating order: cp, rh, rh, cp.
    // RH_BENCH_ROUNDS repeats the round on a noisy machine.
    const int rounds = std::max(1, qEnvironmentVariableIntValue("RH_BENCH_ROUNDS"));
    std::printf("shellcopy_bench: %d files x %lld MiB in %s, %d round(s)\n", kFiles, kFileSize >> 20,
                qPrintable(scratch.path()), rounds);
    // One untimed copy first: the first copy after the sources were written
    // is slow whichever tool makes it.
    if (timeCp() < 0) {
        std::fprintf(stderr, "cp failed\n");
        return 2;
    }
    std::vector<qint64> cp, rh;
    for (int i = 0; i < 2 * rounds; ++i) {
        const bool cpFirst = i % 2 == 0;
        for (int k = 0; k < 2; ++k) {
            const bool isCp = (k == 0) == cpFirst;
            const qint64 ns = isCp ? timeCp() : timeRh();
            if (ns < 0) {
                std::fprintf(stderr, "%s failed\n", isCp ? "cp" : "ShellCopyFiles");
                return 2;
            }
            (isCp ? cp : rh).push_back(ns);
            std::printf("  %-15s %8.1f MB/s\n", isCp ? "cp" : "ShellCopyFiles", mbPerSecond(ns));
        }
    }
    auto mean = [](const std::vector<qint64>& v) {
        return mbPerSecond(std::accumulate(v.begin(), v.end(), qint64(0)) / qint64(v.size()));
    };
    auto best = [](const std::vector<qint64>& v) { return mbPerSecond(*std::min_element(v.begin(), v.end())); };
    const double ratio = mean(rh) / mean(cp);
    std::printf("mean: cp %.1f MB/s, ShellCopyFiles %.1f MB/s, ratio %.2f (target >= 0.90): %s\n", mean(cp),
                mean(rh), ratio, ratio >= 0.9 ? "met" : "MISSED");
    std::printf("best: cp %.1f MB/s, ShellCopyFiles %.1f MB/s, ratio %.2f\n", best(cp), best(rh),
                best(rh) / best(cp));
    return ratio >= 0.9 ? 0 : 1;
}
