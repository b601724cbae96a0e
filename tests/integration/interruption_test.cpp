// A release of the demo's two products with every step, interrupted at one
// point (the program killed, a server gone for a while), then resumed: what
// it leaves on every destination, the FTP server and in both databases must
// be what one uninterrupted release of the same selection leaves, with no
// file uploaded or signed twice and no record written twice.
#include "ftp_fixture.h"
#include "mariadb_fixture.h"
#include "platform/macaddress.h"
#include "sandbox.h"
#include "standins.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QThread>

#include <functional>
#include <ostream>
#include <optional>
#include <tuple>

#include <gtest/gtest.h>

using rh::test::FtpServer;
using rh::test::MariaDbServer;
using rh::test::Sandbox;
using rh::test::SigningStation;

namespace {

const QString kProgram = QStringLiteral(RH_BINARY_DIR "/src/rollhaven2");
const QStringList kRelease{QStringLiteral("--ini"),   QStringLiteral("demo.ini"),  QStringLiteral("--today"),
                           QStringLiteral("2026-12-09"), QStringLiteral("--group"), QStringLiteral("1"),
                           QStringLiteral("--yes"),   QStringLiteral("--steps"),
                           QStringLiteral("run,compile,buildsign,setup,setupsign,distribute")};
constexpr int kBoundMs = 120000; // generous: the machine may be busy

// The folder of the one certificate (signing.pem, signing-key.pem) every
// sandbox's station signs with; empty when openssl could not make it.
QString signingCertificate()
{
    static QTemporaryDir dir;
    static const bool made = [] {
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"),
                      {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                       QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                       QStringLiteral("/CN=Site Signing"), QStringLiteral("-keyout"),
                       dir.path() + QStringLiteral("/signing-key.pem"), QStringLiteral("-out"),
                       dir.path() + QStringLiteral("/signing.pem")});
        return openssl.waitForFinished(kBoundMs) && openssl.exitCode() == 0;
    }();
    return made ? dir.path() : QString();
}

bool waitUntil(const std::function<bool()>& done, int ms = kBoundMs)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void touch(const QString& path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
}

// Where an interrupted run is stopped.
enum class Point { Compile, SigningWait, FtpUpload, FtpServerDown, DatabaseDown };

struct Row {
    const char* name;
    Point point;
};
void PrintTo(const Row& row, std::ostream* os)
{
    *os << row.name;
}

const Row kRows[] = {
    {"KilledDuringCompile", Point::Compile},
    {"KilledDuringSigningWait", Point::SigningWait},
    {"KilledDuringFtpUpload", Point::FtpUpload},
    {"FtpServerStoppedMidUpload", Point::FtpServerDown},
    {"DatabaseDownBeforeDiary", Point::DatabaseDown},
};

// What a release leaves behind, as sorted text lines, plus how often each
// file was uploaded and signed.
struct EndState {
    QStringList lines;
    QMap<QString, int> uploads; // remote path -> closed uploads
    QMap<QString, int> signings; // file name -> signings
};

// The lines only in `want` ("- ") and only in `got` ("+ "), counting repeats.
QStringList differences(const QStringList& want, const QStringList& got)
{
    QMap<QString, int> count;
    for (const QString& l : want)
        ++count[l];
    for (const QString& l : got)
        --count[l];
    QStringList out;
    for (auto it = count.cbegin(); it != count.cend(); ++it)
        for (int n = it.value(); n != 0; n += n > 0 ? -1 : 1)
            out << (n > 0 ? QStringLiteral("- ") : QStringLiteral("+ ")) + it.key();
    return out;
}

std::string counts(const QMap<QString, int>& map)
{
    QStringList out;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        out << QStringLiteral("%1 x%2").arg(it.key()).arg(it.value());
    return out.join(QLatin1Char('\n')).toStdString();
}

// A sandbox laid out as the demo's (inis/demo.ini, its tools and projects),
// with its own MariaDB, FTP server and signing station.
struct Release {
    Sandbox box;
    MariaDbServer db;
    FtpServer ftp;
    std::optional<SigningStation> station;
    QString hold; // the file the held stand-ins wait for
    std::unique_ptr<QProcess> proc;
    int launches = 0;

    QString home() const { return box.home(); }
    QString signingLog() const { return home() + QStringLiteral("/signings.log"); }

    void setUp(bool holdSigning, qint64 ftpThrottle)
    {
        hold = home() + QStringLiteral("/hold");
        ASSERT_TRUE(db.start()) << db.diagnostics().toStdString();
        const QStringList macs = rh::machineMacAddresses();
        ASSERT_FALSE(macs.isEmpty()) << "this machine has no network adapter with a MAC address";
        QString error;
        ASSERT_TRUE(db.exec(QString::fromUtf8(bytesOf(QStringLiteral(RH_SOURCE_DIR "/scripts/demo/mariadb-demo.sql"))),
                            nullptr, &error))
            << error.toStdString();
        ASSERT_TRUE(db.exec(QStringLiteral("INSERT INTO tv_inhouse.user_mac (user_id, mac_addr) VALUES ('dev01', '%1')")
                                .arg(macs.first())));
        FtpServer::Options options;
        options.throttleBytesPerSec = ftpThrottle;
        options.writeThrough = true;
        ASSERT_TRUE(ftp.start(options)) << ftp.diagnostics().toStdString();

        QFile site(home() + QStringLiteral("/site.ini"));
        ASSERT_TRUE(site.open(QIODevice::WriteOnly));
        site.write(QStringLiteral("[Servers]\nFileServerHost=fileserver\nDBServerAddress=127.0.0.1\nDBPort=%1\n"
                                  "WebDBPort=%1\nWebServerAddress=127.0.0.1\nWebHttpPort=1\nCheckerHost=127.0.0.1\n"
                                  "CheckerPort=1\n[Text]\nCodePage=CP949\n[Drives]\nC:=drives/C\nD:=drives/D\n"
                                  "S:=drives/S\n\\\\fileserver=drives/fileserver\n[Signing]\nPollMs=200\n"
                                  "Certificate=signing.pem\n")
                       .arg(db.port())
                       .toUtf8()
                   + Sandbox::accountKeys() // ends with [Ftp]
                   + QStringLiteral("Host=127.0.0.1\nPort=%1\n").arg(ftp.port()).toUtf8());
        site.close();
        ASSERT_TRUE(QFile::copy(QStringLiteral(RH_SOURCE_DIR "/scripts/demo/inis/demo.ini"), box.iniPath(QStringLiteral("demo.ini"))));
        QFile password(home() + QStringLiteral("/password"));
        ASSERT_TRUE(password.open(QIODevice::WriteOnly) && password.write("demo\n") == 5);
        password.close();
        QFile updater(home() + QStringLiteral("/웹인증번호업데이터.exe"));
        ASSERT_TRUE(updater.open(QIODevice::WriteOnly) && updater.write("#!/bin/sh\nexit 0\n") > 0);
        updater.setPermissions(updater.permissions() | QFileDevice::ExeOwner);
        updater.close();

        // The demo's own layout of the setup builders and their projects.
        QProcess builders;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ROOT"), QStringLiteral(RH_SOURCE_DIR));
        env.insert(QStringLiteral("SANDBOX"), home());
        builders.setProcessEnvironment(env);
        builders.start(QStringLiteral("bash"), {QStringLiteral(RH_SOURCE_DIR "/scripts/demo/setup-builders.sh")});
        ASSERT_TRUE(builders.waitForFinished(kBoundMs) && builders.exitCode() == 0)
            << builders.readAllStandardError().toStdString();
        for (const char* dir : {"C/Release/배포", "C/Release/베타", "fileserver/프로그램셋업/1_정식버전"})
            QDir().mkpath(home() + QStringLiteral("/drives/") + QString::fromUtf8(dir));
        rh::test::installStandInTools(box, QStringLiteral("C:\\Tools\\upx.exe"));
        for (const auto& [project, title, major, minor, revision] :
             {std::tuple{"Ledger", "원장관리", 1, 612, 31}, std::tuple{"Tax", "세금계산서", 2, 612, 7}}) {
            rh::test::VbpSpec spec;
            spec.major = major;
            spec.minor = minor;
            spec.revision = revision;
            spec.exeName = QString::fromUtf8(project) + QStringLiteral(".exe");
            spec.description = QString::fromUtf8(title);
            rh::test::writeVbp(box.drive(QStringLiteral("C")) + QStringLiteral("/Src/%1/%1.vbp").arg(QLatin1String(project)),
                               spec);
        }

        // The station signs for real with the certificate site.ini names, one
        // certificate and signing time for every sandbox so equal files sign alike.
        ASSERT_FALSE(signingCertificate().isEmpty());
        for (const char* f : {"/signing.pem", "/signing-key.pem"})
            ASSERT_TRUE(QFile::copy(signingCertificate() + QLatin1String(f), home() + QLatin1String(f)));
        station.emplace(box, 0.05);
        station->signWith(home() + QStringLiteral("/signing.pem"), home() + QStringLiteral("/signing-key.pem"),
                          1'765'000'000);
        station->logTo(signingLog());
        if (holdSigning)
            station->holdUntil(hold);
        ASSERT_TRUE(station->start(&error)) << error.toStdString();
    }

    // Starts the program headless on this sandbox; output goes to out.txt.
    void launch(QStringList args, const QProcessEnvironment& extra = {})
    {
        proc = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home() + QStringLiteral("/settings"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.remove(QStringLiteral("ROLLHAVEN2_HOME"));
        env.remove(QStringLiteral("ROLLHAVEN2_PASSWORD"));
        env.insert(extra);
        proc->setProcessEnvironment(env);
        const QString out = home() + QStringLiteral("/out-%1.txt").arg(++launches);
        proc->setStandardOutputFile(out);
        proc->setStandardErrorFile(out, QIODevice::Append);
        args = QStringList{QStringLiteral("--headless"), QStringLiteral("--home"), home(),
                           QStringLiteral("--password-file"), home() + QStringLiteral("/password")}
               + args;
        proc->start(kProgram, args);
        ASSERT_TRUE(proc->waitForStarted());
    }
    bool running() const { return proc && proc->state() != QProcess::NotRunning; }
    // Waits for the program to end by itself; its exit code, -1 when it did not.
    int finish()
    {
        if (!proc->waitForFinished(kBoundMs)) {
            proc->kill();
            proc->waitForFinished();
            return -1;
        }
        return proc->exitStatus() == QProcess::NormalExit ? proc->exitCode() : -1;
    }
    void kill9()
    {
        proc->kill();
        proc->waitForFinished(kBoundMs);
    }
    // What the last run printed.
    QString output() const
    {
        return QString::fromUtf8(bytesOf(home() + QStringLiteral("/out-%1.txt").arg(launches)));
    }
    // The text of every run log so far.
    QString runLogs() const
    {
        QString all;
        const QString logs = home() + QStringLiteral("/logs/");
        for (const QString& f : QDir(logs).entryList({QStringLiteral("run_*.log")}, QDir::Files, QDir::Name))
            all += QString::fromUtf8(bytesOf(logs + f));
        return all;
    }
    // The second product's setup under way on the FTP server: bytes in its
    // "_2" name, the first product's uploads all done before it.
    static QString interruptedUpload() { return QStringLiteral("/public_html/download/tax_setup_2.exe"); }
    bool uploading() const { return QFileInfo(ftp.localPath(interruptedUpload())).size() > 0; }

    EndState endState() const
    {
        EndState s;
        // Setup times reach version files (";yyMMdd_HHmm"), official copies
        // and the catalogue ("(yyMMdd)"): two releases made at different
        // minutes differ there and nowhere else.
        const auto stamped = [](QString text) {
            static const QRegularExpression stamp(QStringLiteral(";\\d{6}_\\d{4}")),
                date(QStringLiteral("\\(\\d{6}\\)"));
            return text.replace(stamp, QStringLiteral(";<stamp>")).replace(date, QStringLiteral("(<date>)"));
        };
        const auto files = [&](const QString& label, const QString& root, bool withSize) {
            // Every file under root as "label/relative path [size] digest".
            QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                it.next();
                const QByteArray bytes = bytesOf(it.filePath());
                const QString content = it.fileName().endsWith(QLatin1String(".ver"))
                    ? QString::fromLocal8Bit(bytes) // "version;stamp", short
                    : QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
                s.lines << stamped(label + it.filePath().mid(root.size())
                                   + (withSize ? QStringLiteral(" %1").arg(bytes.size()) : QString())
                                   + QLatin1Char(' ') + content);
            }
        };
        const QString drives = home() + QStringLiteral("/drives/");
        for (const char* folder : {"C/Release", "C/2TarvelInstalls", "S/Codesigning", "fileserver"})
            files(QString::fromUtf8(folder), drives + QString::fromUtf8(folder), false);
        files(QStringLiteral("ftp:"), ftp.root(), true);
        // Records a database could not take wait here for the next run.
        if (QFile::exists(home() + QStringLiteral("/pending_records.json")))
            s.lines << QStringLiteral("pending_records.json");
        // Row ids and the diary's date (the server's CURDATE()) are left out.
        QString rows;
        EXPECT_TRUE(db.exec(QStringLiteral(
                                "SELECT 'diary', d.writer, d.note, d.secret, p.partcode FROM tv_inhouse.diary d"
                                " LEFT JOIN tv_inhouse.diary_part p ON p.diaryseq = d.seq;"
                                "SELECT 'diary_part', partcode FROM tv_inhouse.diary_part;"
                                "SELECT 'file_rname', code, rname FROM webhost.file_rname;"
                                "SELECT 'cate3', idx, title, DemoDownFile FROM webhost.cate3;"
                                "SELECT 'cate3_info', idx, title, DemoDownFile FROM webhost.cate3_info;"),
                            &rows));
        s.lines += stamped(rows).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        s.lines.sort();
        for (const QString& path : ftp.closedUploads())
            ++s.uploads[path];
        for (const QString& line : QString::fromUtf8(bytesOf(signingLog())).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            ++s.signings[line];
        return s;
    }

    void tearDown()
    {
        if (running())
            kill9();
        touch(hold); // lets a held stand-in go
        if (station)
            station->stop();
    }
};

// The uninterrupted release, made once.
const EndState& reference()
{
    static std::optional<EndState> state;
    if (!state) {
        Release r;
        r.setUp(false, 0);
        r.launch(kRelease);
        const int code = r.finish();
        EXPECT_EQ(code, 0) << r.output().toStdString();
        state = r.endState();
        r.tearDown();
    }
    return *state;
}

class Interruption : public ::testing::TestWithParam<Row> {};

} // namespace

TEST_P(Interruption, ResumedReleaseEndsAsAnUninterruptedOne)
{
    const EndState& want = reference();
    ASSERT_FALSE(::testing::Test::HasFailure()) << "the uninterrupted release failed";
    ASSERT_FALSE(want.uploads.isEmpty());
    ASSERT_FALSE(want.signings.isEmpty());

    const Point point = GetParam().point;
    Release r;
    const bool ftpPoint = point == Point::FtpUpload || point == Point::FtpServerDown;
    // A slow server keeps an upload under way long enough to be caught in it.
    r.setUp(point == Point::SigningWait || point == Point::DatabaseDown, ftpPoint ? 1024 : 0);
    if (::testing::Test::HasFatalFailure())
        return;

    QProcessEnvironment extra;
    if (point == Point::Compile)
        extra.insert(QStringLiteral("RH_VB6_HOLD"), r.hold);
    r.launch(kRelease, extra);
    QString interruptedUpload;
    switch (point) {
    case Point::Compile: {
        const QString started = r.hold + QStringLiteral(".started");
        ASSERT_TRUE(waitUntil([&] { return bytesOf(started).endsWith('\n') || !r.running(); }) && r.running())
            << r.output().toStdString();
        r.kill9();
        // The orphaned compiler finishes, as it would on a desk.
        const QString stat = QStringLiteral("/proc/%1/stat").arg(QString::fromLatin1(bytesOf(started).trimmed()));
        touch(r.hold);
        ASSERT_TRUE(waitUntil([&] {
            const QByteArray s = bytesOf(stat); // "pid (name) S ...": gone, or a zombie
            return s.isEmpty() || s.mid(s.lastIndexOf(')') + 2, 1) == "Z";
        }));
        break;
    }
    case Point::SigningWait:
    case Point::DatabaseDown:
        ASSERT_TRUE(waitUntil([&] { return r.runLogs().contains(QStringLiteral("서명 대기중...")) || !r.running(); })
                    && r.running())
            << r.output().toStdString();
        if (point == Point::SigningWait) {
            r.kill9();
            // The station signs what it was given once the program has gone.
            touch(r.hold);
            ASSERT_TRUE(waitUntil([&] {
                return QDir(r.station->unsignedFolder()).entryList(QDir::Files).isEmpty();
            }));
        } else {
            r.db.stop();
            touch(r.hold);
            EXPECT_NE(r.finish(), 0) << r.output().toStdString();
            ASSERT_TRUE(r.db.restart()) << r.db.diagnostics().toStdString();
        }
        break;
    case Point::FtpUpload:
    case Point::FtpServerDown:
        ASSERT_TRUE(waitUntil([&] { return r.uploading() || !r.running(); }) && r.running())
            << r.output().toStdString();
        interruptedUpload = Release::interruptedUpload();
        if (point == Point::FtpUpload)
            r.kill9();
        else {
            r.ftp.kill();
            EXPECT_NE(r.finish(), 0) << r.output().toStdString();
        }
        ASSERT_TRUE(r.ftp.restart(FtpServer::Options())) << r.ftp.diagnostics().toStdString();
        break;
    }

    // The interruption left work undone: the comparison sees it.
    const EndState interrupted = r.endState();
    EXPECT_FALSE(differences(want.lines, interrupted.lines).isEmpty());

    r.launch({QStringLiteral("--resume")});
    const int resumed = r.finish();
    const EndState got = r.endState();
    r.tearDown();
    EXPECT_EQ(resumed, 0) << r.output().toStdString();
    const QStringList missed = differences(want.lines, got.lines);
    EXPECT_TRUE(missed.isEmpty()) << "- uninterrupted only, + resumed only:\n"
                                  << missed.join(QLatin1Char('\n')).toStdString() << "\n\nthe resumed run:\n"
                                  << r.output().toStdString();
    // Once each, as in the uninterrupted release; the upload that was cut
    // off may be made again.
    QMap<QString, int> uploads = got.uploads;
    if (uploads.value(interruptedUpload) > want.uploads.value(interruptedUpload))
        --uploads[interruptedUpload];
    EXPECT_EQ(counts(uploads), counts(want.uploads));
    EXPECT_EQ(counts(got.signings), counts(want.signings));
}

INSTANTIATE_TEST_SUITE_P(Release, Interruption, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });
