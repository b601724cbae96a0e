// Start-up of the built program, median of 10 starts per case: to the login
// dialog (window, offscreen) and to the first run-log line (headless), with
// the server-address checker answering on loopback, accepting and never
// answering, and refusing. The peer is `rollhaven2 --headless --help`, the
// same process start without start-up. Real MariaDB (allow-list, login) and
// a real loopback HTTP server (checker, update folder) serve every start.
// A start that never shows its mark is a failed measurement: it is reported
// and left out of the median, and the bench then exits 2; a median over its
// target exits 1.
#include "http_fixture.h"
#include "mariadb_fixture.h"
#include "ports.h"
#include "sandbox.h"

#include "platform/macaddress.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <algorithm>
#include <cstdio>

using namespace rh;

namespace {

const int kStarts = 10;

struct Env {
    rh::test::Sandbox box;
    QString bin;
    QString password;
    QProcessEnvironment env;
};

void writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(data);
}

// Starts the program and returns the milliseconds until `mark` appears on the
// stream it names; -1 when it never does. The process is ended afterwards.
double timeTo(const Env& e, const QStringList& args, const QByteArray& mark, bool onStdErr, bool kill)
{
    QProcess p;
    p.setProcessEnvironment(e.env);
    QElapsedTimer t;
    t.start();
    p.start(e.bin + QStringLiteral("/rollhaven2"), args);
    QByteArray seen;
    double ms = -1;
    while (t.elapsed() < 30000) {
        if (!p.waitForReadyRead(50) && p.state() == QProcess::NotRunning)
            break;
        seen += onStdErr ? p.readAllStandardError() : p.readAllStandardOutput();
        if (seen.contains(mark)) {
            ms = t.nsecsElapsed() / 1e6;
            break;
        }
    }
    if (kill)
        p.kill();
    p.waitForFinished(30000);
    if (ms < 0)
        std::fprintf(stderr, "no '%s' seen; stderr: %s\n", mark.constData(), p.readAllStandardError().constData());
    return ms;
}

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? -1 : (v[(v.size() - 1) / 2] + v[v.size() / 2]) / 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    rh::test::MariaDbServer db;
    rh::test::HttpServer http;
    if (!db.start() || !http.start()) {
        std::fprintf(stderr, "servers did not start:\n%s\n%s\n", qPrintable(db.diagnostics()),
                     qPrintable(http.diagnostics()));
        return 2;
    }
    const QStringList macs = machineMacAddresses();
    if (macs.isEmpty()) {
        std::fprintf(stderr, "no network adapter with a MAC address\n");
        return 2;
    }
    db.exec(QStringLiteral("INSERT INTO tv_inhouse.user (id, password2) VALUES ('kim', SHA1('secret'));"
                           "INSERT INTO tv_inhouse.user_mac (user_id, mac_addr) VALUES ('kim', '%1');")
                .arg(macs.first()));

    Env e;
    const QString home = e.box.home();
    e.bin = home + QStringLiteral("/bin");
    QDir().mkpath(e.bin);
    for (const char* name : {"rollhaven2", "AutoVersionCheckerV1.exe", "filechanger.exe"})
        QFile::copy(QStringLiteral(RH_BINARY_DIR "/src/") + QLatin1String(name), e.bin + QLatin1Char('/') + QLatin1String(name));
    QDir().mkpath(e.box.drive(QStringLiteral("C")) + QStringLiteral("/배포"));
    e.box.writeIni(QStringLiteral("bench.ini"),
                   QStringLiteral("[Distribute]\r\nPath1=C:\\배포\r\n[Project]\r\nProjectCount=1\r\nProject1=원장관리\r\n"
                                  "[Project1]\r\nISResult1=D:\\o\\ledger_setup_2.exe\r\n"));
    writeFile(home + QStringLiteral("/pw.txt"), "secret");
    // Current revisions on the update folder: every start runs the checker
    // and downloads nothing.
    const QString folder = http.root() + QStringLiteral("/download/자동업데이트_v1/");
    writeFile(folder + QStringLiteral("AutoVersionCheckerV1_lastver.txt"), "1");
    writeFile(folder + QStringLiteral("rollhaven2_lastver.txt"), "0");
    http.setReply(QStringLiteral("/serverinfo/server-address-checker.php"), 200,
                  R"({"success": true, "data": {"ver": 1, "servers": [{"name": "사내메신저DB서버", "host": "127.0.0.1"},)"
                  R"({"name": "자동업데이트_런처", "host": "127.0.0.1"}]}})");

    rh::test::SilentListener silent;
    const int refusing = rh::test::refusingPort();

    e.env = QProcessEnvironment::systemEnvironment();
    e.env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/settings"));
    e.env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    e.env.remove(QStringLiteral("ROLLHAVEN2_HOME"));
    e.env.remove(QStringLiteral("ROLLHAVEN2_PASSWORD"));

    const QStringList window{QStringLiteral("--home"), home};
    const QStringList headless{QStringLiteral("--headless"), QStringLiteral("--home"), home, QStringLiteral("--ini"),
                               QStringLiteral("bench.ini"), QStringLiteral("--rows"), QStringLiteral("1"),
                               QStringLiteral("--steps"), QStringLiteral("none"), QStringLiteral("--today"),
                               QStringLiteral("2026-12-09"), QStringLiteral("--yes"), QStringLiteral("--password-file"),
                               home + QStringLiteral("/pw.txt")};

    int failed = 0;
    // Only starts that showed their mark are timed.
    const auto add = [&failed](QList<double>& into, double ms) {
        if (ms < 0)
            ++failed;
        else
            into << ms;
    };
    QList<double> peer;
    for (int k = 0; k < kStarts; ++k)
        add(peer, timeTo(e, {QStringLiteral("--headless"), QStringLiteral("--help")}, "usage:", false, false));
    const double peerMs = median(peer);
    std::printf("start-up of rollhaven2, median of %d starts (peer: --headless --help, %.0f ms)\n", kStarts, peerMs);
    std::printf("%-34s %14s %14s %10s %10s\n", "checker", "window ms", "headless ms", "w/peer", "h/peer");

    int missed = 0;
    struct Case {
        const char* name;
        int port;
        double target;
    };
    for (const Case& c : {Case{"answering on loopback", http.port(), 500},
                          Case{"accepting, never answering", silent.port(), 3500},
                          Case{"refusing", refusing, 700}}) {
        writeFile(home + QStringLiteral("/site.ini"),
                  QStringLiteral("[Servers]\nDBServerAddress=127.0.0.1\nDBPort=%1\nWebServerAddress=127.0.0.1\n"
                                 "WebHttpPort=%2\nCheckerHost=127.0.0.1\nCheckerPort=%3\n[Drives]\nC:=drives/C\n"
                                 "D:=drives/D\nS:=drives/S\n")
                      .arg(db.port())
                      .arg(http.port())
                      .arg(c.port)
                      .toUtf8()
                      + rh::test::Sandbox::accountKeys());
        QList<double> w, h;
        for (int k = 0; k < kStarts; ++k) {
            QFile::remove(home + QStringLiteral("/server_address_setting.json"));
            add(w, timeTo(e, window, "start-up: login dialog shown", true, true));
            QFile::remove(home + QStringLiteral("/server_address_setting.json"));
            add(h, timeTo(e, headless, "Start...", false, false));
        }
        const double wm = median(w), hm = median(h);
        const bool met = !w.isEmpty() && !h.isEmpty() && wm < c.target && hm < c.target;
        missed += met ? 0 : 1;
        std::printf("%-34s %14.0f %14.0f %10.2f %10.2f   (%lld+%lld starts timed; target < %.0f ms: %s)\n", c.name, wm,
                    hm, wm / peerMs, hm / peerMs, static_cast<long long>(w.size()), static_cast<long long>(h.size()),
                    c.target, met ? "met" : "MISSED");
    }
    if (failed > 0)
        std::printf("%d start(s) never showed their mark: FAILED measurement\n", failed);
    return failed > 0 ? 2 : missed > 0 ? 1 : 0;
}
