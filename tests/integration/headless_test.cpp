// The built program run headless: flags, exit codes, output and the log file;
// its start-up against the suite's MariaDB (allow-list and login of this
// machine) and a loopback HTTP server (the update folder).
#include "http_fixture.h"
#include "mariadb_fixture.h"
#include "minisign_fixture.h"
#include "pefixtures.h"
#include "sandbox.h"
#include "standins.h"

#include "app/headless.h"
#include "site/instancelock.h"
#include "platform/journal.h"
#include "platform/macaddress.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

using rh::test::MariaDbEnvironment;
using rh::test::Sandbox;

namespace {

auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new MariaDbEnvironment);

const QString kProgram = QStringLiteral(RH_BINARY_DIR "/src/rollhaven2");

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool waitFor(const std::function<bool()>& done)
{
    QDeadlineTimer deadline(60000);
    while (!done() && !deadline.hasExpired())
        QThread::msleep(20);
    return done();
}

// "classname / name: message" of every failed case of a JUnit file, one a line.
std::string junitFailures(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "<no file>";
    QXmlStreamReader x(&f);
    QStringList out;
    QString testcase;
    while (!x.atEnd()) {
        if (x.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (x.name() == QLatin1String("testcase"))
            testcase = x.attributes().value(QLatin1String("classname")).toString() + QStringLiteral(" / ")
                + x.attributes().value(QLatin1String("name")).toString();
        else if (x.name() == QLatin1String("failure"))
            out << testcase + QStringLiteral(": ") + x.attributes().value(QLatin1String("message")).toString();
    }
    if (x.hasError())
        out << QStringLiteral("<bad XML: ") + x.errorString() + QLatin1Char('>');
    return out.join(QLatin1Char('\n')).toStdString();
}

struct Outcome {
    int code = -1;
    QString out, err;
};

struct HeadlessFixture : ::testing::Test {
    Sandbox box;
    rh::test::MariaDbServer* db = nullptr;
    QString password = QStringLiteral("s3cret'한글");
    QString program = kProgram;

    void SetUp() override
    {
        // This machine's first adapter is on the allow-list for "kim"; nothing
        // answers on port 1, so the checker and the update folder are offline.
        db = MariaDbEnvironment::server();
        ASSERT_NE(db, nullptr) << "the MariaDB server did not start";
        const QStringList macs = rh::machineMacAddresses();
        ASSERT_FALSE(macs.isEmpty()) << "this machine has no network adapter with a MAC address";
        ASSERT_TRUE(db->exec(QStringLiteral(
            "DELETE FROM tv_inhouse.user; DELETE FROM tv_inhouse.user_mac;"
            "INSERT INTO tv_inhouse.user (id, password2) VALUES ('kim', SHA1(CONVERT(X'%1' USING utf8mb4)));"
            "INSERT INTO tv_inhouse.user_mac (user_id, mac_addr) VALUES ('kim', '%2');")
                                 .arg(QLatin1String(password.toUtf8().toHex()), macs.first())));
        QDir().mkpath(box.drive(QStringLiteral("C")) + QStringLiteral("/배포"));
        box.writeIni(QStringLiteral("demo.ini"),
                     QStringLiteral("[General]\r\nProjGrop1=회계;Project1,Project2\r\n"
                                    "[Distribute]\r\nPath1=C:\\배포\r\n[Project]\r\nProjectCount=3\r\n"
                                    "Project1=원장관리\r\nProject2=세금\r\nProject3=급여\r\n"
                                    "[Project1]\r\nExePath=C:\\Src\\ledger.exe\r\nISResult1=D:\\o\\ledger_setup_2.exe\r\n"
                                    "[Project2]\r\nISResult1=D:\\o\\tax_setup_2.exe\r\n"
                                    "[Project3]\r\nISResult1=D:\\o\\pay_setup_2.exe\r\n"));
        QFile site(box.home() + QStringLiteral("/site.ini"));
        ASSERT_TRUE(site.open(QIODevice::WriteOnly));
        site.write("[Drives]\nC:=drives/C\nD:=drives/D\nS:=drives/S\n" + Sandbox::accountKeys());
        site.close();
        writeServers(1);
    }

    void writeServers(int webPort)
    {
        QFile site(box.home() + QStringLiteral("/site.ini"));
        QByteArray text = fileBytes(site.fileName());
        text = text.left(text.indexOf("[Servers]") < 0 ? text.size() : text.indexOf("[Servers]"));
        text += QStringLiteral("[Servers]\nDBServerAddress=127.0.0.1\nDBPort=%1\nCheckerHost=127.0.0.1\nCheckerPort=1\n"
                               "WebServerAddress=127.0.0.1\nWebHttpPort=%2\n")
                    .arg(db->port())
                    .arg(webPort)
                    .toUtf8();
        ASSERT_TRUE(site.open(QIODevice::WriteOnly | QIODevice::Truncate));
        site.write(text);
    }

    QProcessEnvironment environment(const QString& envPassword) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), box.home() + QStringLiteral("/settings"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.remove(QStringLiteral("ROLLHAVEN2_HOME"));
        env.remove(QStringLiteral("ROLLHAVEN2_PASSWORD"));
        if (!envPassword.isNull())
            env.insert(QStringLiteral("ROLLHAVEN2_PASSWORD"), envPassword);
        return env;
    }

    Outcome run(QStringList args) { return runAs(args, password); }
    Outcome runAs(QStringList args, const QString& envPassword, const QString& outputFile = QString())
    {
        QProcess p;
        p.setProcessEnvironment(environment(envPassword));
        if (!outputFile.isEmpty()) { // files outlive the process: its restart writes there too
            p.setStandardOutputFile(outputFile);
            p.setStandardErrorFile(outputFile + QStringLiteral(".err"));
        }
        args.prepend(box.home());
        args.prepend(QStringLiteral("--home"));
        args.prepend(QStringLiteral("--headless"));
        p.start(program, args);
        EXPECT_TRUE(p.waitForFinished(60000));
        if (!outputFile.isEmpty())
            return {p.exitCode(), QString(), QString::fromUtf8(fileBytes(outputFile + QStringLiteral(".err")))};
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
    }
};

} // namespace

TEST_F(HeadlessFixture, HelpListsTheFlags)
{
    Outcome r = run({QStringLiteral("--help")});
    EXPECT_EQ(r.code, 0);
    for (const char* flag : {"--ini", "--rows", "--group", "--steps", "--mode", "--yes", "patch-only", "--dest",
                             "--retries", "--send-pending", "5 finished with errors"})
        EXPECT_TRUE(r.out.contains(QLatin1String(flag))) << flag;
    EXPECT_EQ(r.out, rh::headlessUsage()); // which describes every flag: see the command line's unit test
}

TEST_F(HeadlessFixture, ListPrintsTheGrid)
{
    Outcome r = run({QStringLiteral("--ini"), QStringLiteral("demo.ini"), QStringLiteral("--group"), QStringLiteral("1"),
                 QStringLiteral("--list"), QStringLiteral("--today"), QStringLiteral("2026-12-09")});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("rows: 3, selected: 2")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("[x] 원장관리 | project1")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("[ ] 급여 | project3")));
}

TEST_F(HeadlessFixture, FinishedRunExitsZeroAndKeepsItsLog)
{
    // No step boxes: this is about the runner, not the steps (they have their own suites).
    Outcome r = run({QStringLiteral("--rows"), QStringLiteral("1,3"), QStringLiteral("--steps"), QStringLiteral("none"),
                     QStringLiteral("--today"), QStringLiteral("2026-12-09")});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("Start...")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("Finish! ")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("경과시간: ")));
    EXPECT_TRUE(r.err.contains(QStringLiteral("정말 시작할까요?")));
    const QStringList logs = QDir(box.home() + QStringLiteral("/logs")).entryList({QStringLiteral("run_*.log")});
    ASSERT_EQ(logs.size(), 1);
    QFile f(box.home() + QStringLiteral("/logs/") + logs[0]);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(f.readAll()), r.out);
    // The log ends with the step timings; the journal and the report lie beside it.
    EXPECT_TRUE(r.out.contains(QStringLiteral("\n단계별 소요시간: 전체 ")));
    const QString base = box.home() + QStringLiteral("/logs/") + logs[0].chopped(4);
    EXPECT_TRUE(QFile::exists(base + QStringLiteral(".journal.txt")));
    EXPECT_TRUE(QFile::exists(base + QStringLiteral(".json")));
    // Closing saved the selection into the setup INI, as the window does.
    EXPECT_TRUE(Sandbox::readBytes(box.iniPath(QStringLiteral("demo.ini"))).contains("RecentProjects=;1;3"));
}

// The JUnit file is the user's own: a planted link does not lead the write to
// another file of the user's.
TEST_F(HeadlessFixture, JunitIsNeverWrittenThroughALink)
{
    const QString victim = box.home() + QStringLiteral("/victim.txt"), link = box.home() + QStringLiteral("/junit.xml");
    QFile v(victim);
    ASSERT_TRUE(v.open(QIODevice::WriteOnly) && v.write("keep\n") == 5);
    v.close();
    ASSERT_TRUE(QFile::link(victim, link));
    Outcome r = run({QStringLiteral("--rows"), QStringLiteral("1"), QStringLiteral("--steps"), QStringLiteral("none"),
                     QStringLiteral("--junit"), link, QStringLiteral("--today"), QStringLiteral("2026-12-09")});
    EXPECT_TRUE(r.err.contains(QStringLiteral("JUnit 파일을 만들 수 없습니다: ") + link
                               + QStringLiteral(" (심볼릭 링크를 따라 쓰지 않습니다)")))
        << r.err.toStdString();
    EXPECT_EQ(Sandbox::readBytes(victim), QByteArray("keep\n"));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
}

TEST_F(HeadlessFixture, RefusedRunsExitNonZeroWithTheReason)
{
    Outcome none = run({QStringLiteral("--rows"), QStringLiteral("2"), QStringLiteral("--dest"), QStringLiteral(""),
                    QStringLiteral("--today"), QStringLiteral("2026-12-09")});
    EXPECT_EQ(none.code, 1);
    EXPECT_TRUE(none.err.contains(QStringLiteral("먼저 전송 목적지를 선택하세요.")));

    QDir(box.drive(QStringLiteral("S"))).removeRecursively();
    Outcome noS = run({QStringLiteral("--all"), QStringLiteral("--today"), QStringLiteral("2026-12-09")});
    EXPECT_EQ(noS.code, 1);
    EXPECT_TRUE(noS.err.contains(QStringLiteral("S:드라이버를 찾을 수 없습니다.")));
    EXPECT_FALSE(noS.out.contains(QStringLiteral("Start...")));
}

TEST_F(HeadlessFixture, VersionUpQuestionTakesItsDefaultUnlessYes)
{
    // 2025-12-30 is the version-up day; no row carries today's version-up date.
    Outcome r = run({QStringLiteral("--all"), QStringLiteral("--today"), QStringLiteral("2025-12-30")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("오늘은 [버전업] 하는날 입니다.")));
    EXPECT_TRUE(r.err.contains(QStringLiteral("버전업을 하지 않은 프로젝트가 있습니다. 그래도 시작하시겠습니까? -> 아니오(No)")));
    Outcome yes = run({QStringLiteral("--all"), QStringLiteral("--steps"), QStringLiteral("none"), QStringLiteral("--today"),
                       QStringLiteral("2025-12-30"), QStringLiteral("--yes")});
    EXPECT_EQ(yes.code, 0) << yes.err.toStdString();
}

TEST_F(HeadlessFixture, BadFlagsAreUsageErrors)
{
    EXPECT_EQ(run({QStringLiteral("--bogus")}).code, 3);
    EXPECT_EQ(run({QStringLiteral("--rows"), QStringLiteral("7")}).code, 3);
    EXPECT_EQ(run({QStringLiteral("--steps"), QStringLiteral("compile,fly")}).code, 3);
    // The parser's mistakes in the program's words, before any program folder is touched.
    for (const auto& [args, message] :
         {std::pair{QStringList{QStringLiteral("--list"), QStringLiteral("--ini")}, "옵션 값이 없습니다: --ini"},
          {QStringList{QStringLiteral("--list=yes")}, "값을 받지 않는 옵션입니다: --list=yes"},
          {QStringList{QStringLiteral("demo.ini")}, "알 수 없는 옵션: demo.ini"},
          {QStringList{QStringLiteral("-platform"), QStringLiteral("offscreen")}, "알 수 없는 옵션: -platform"}}) {
        QProcess p;
        p.setProcessEnvironment(environment(QString()));
        p.start(program, QStringList{QStringLiteral("--headless")} + args);
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 3);
        EXPECT_TRUE(p.readAllStandardError().startsWith(QByteArray(message) + '\n')) << message;
        EXPECT_FALSE(QFile::exists(box.home() + QStringLiteral("/settings/rollhaven2"))) << message;
    }
    // Both spellings of a value, and the last of a repeated flag, count.
    Outcome later = run({QStringLiteral("--ini=nope.ini"), QStringLiteral("--rows=2"), QStringLiteral("--all"),
                         QStringLiteral("--ini"), QStringLiteral("demo.ini"), QStringLiteral("--list"),
                         QStringLiteral("--today=2026-12-09")});
    EXPECT_EQ(later.code, 0) << later.err.toStdString();
    EXPECT_TRUE(later.out.contains(QStringLiteral("rows: 3, selected: 3")));
    Outcome missing = run({QStringLiteral("--ini"), QStringLiteral("nope.ini")});
    EXPECT_EQ(missing.code, 4);
    EXPECT_TRUE(missing.err.contains(QStringLiteral("설정파일(setup.ini)을 찾을수 없습니다.")));
}

TEST_F(HeadlessFixture, SigningTimeoutEndsTheRunWithAClearMessage)
{
    Sandbox::writeAnsi(box.drive(QStringLiteral("C")) + QStringLiteral("/Src/ledger.exe"), QStringLiteral("exe"));
    for (const char* dir : {"/Codesigning/unsigned", "/Codesigning/signed"})
        QDir().mkpath(box.drive(QStringLiteral("S")) + QLatin1String(dir));
    const QString junit = box.home() + QStringLiteral("/stopped.xml");
    Outcome r = run({QStringLiteral("--rows"), QStringLiteral("1"), QStringLiteral("--steps"), QStringLiteral("buildsign"),
                     QStringLiteral("--signing-timeout"), QStringLiteral("0.3"), QStringLiteral("--today"),
                     QStringLiteral("2026-12-09"), QStringLiteral("--junit"), junit});
    EXPECT_EQ(r.code, 2) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("[오류] 서명 대기 제한시간(0.3초)이 지났습니다.\n"
                                              "[오류] 원장관리 서명파일이 돌아오지 않았습니다.(S:\\Codesigning\\signed\\ledger.exe)")))
        << r.out.toStdString();
    EXPECT_FALSE(r.out.contains(QStringLiteral("Finish! ")));
    // The step that stopped the run fails in the JUnit report.
    EXPECT_EQ(junitFailures(junit), "rollhaven2.빌드서명 / 원장관리: [오류] 서명 대기 제한시간(0.3초)이 지났습니다.");
    EXPECT_EQ(run({QStringLiteral("--signing-timeout"), QStringLiteral("soon")}).code, 3);
}

TEST_F(HeadlessFixture, ErrorsOfAFinishedRunAreCountedAndGiveTheirOwnExitCode)
{
    // The run step logs the missing project file and goes on.
    const QString junit = box.home() + QStringLiteral("/errors.xml");
    Outcome r = run({QStringLiteral("--rows"), QStringLiteral("1"), QStringLiteral("--steps"), QStringLiteral("run"),
                     QStringLiteral("--today"), QStringLiteral("2026-12-09"), QStringLiteral("--junit"), junit});
    EXPECT_EQ(r.code, 5) << r.err.toStdString();
    EXPECT_EQ(junitFailures(junit), "rollhaven2.RUN / 원장관리: [오류] 원장관리 VBP파일이 존재하지 않습니다.()");
    const QStringList lines = r.out.trimmed().split(QLatin1Char('\n'));
    EXPECT_TRUE(lines.contains(QStringLiteral("[오류] 원장관리 VBP파일이 존재하지 않습니다.()")));
    EXPECT_EQ(lines.last(), QStringLiteral("오류 1건: 원장관리"));
    EXPECT_TRUE(r.err.contains(QStringLiteral("오류 1건: 원장관리")));
}

TEST_F(HeadlessFixture, RetryQuestionsAreAnsweredNoUnlessRetriesAllowThem)
{
    rh::test::installPacker(box);
    auto compile = [this](QStringList extra) {
        extra << QStringLiteral("--rows") << QStringLiteral("1") << QStringLiteral("--steps") << QStringLiteral("compile")
              << QStringLiteral("--today") << QStringLiteral("2026-12-09") << QStringLiteral("--yes");
        return run(extra);
    };
    Outcome never = compile({});
    EXPECT_EQ(never.code, 2) << never.err.toStdString();
    EXPECT_EQ(never.err.count(QStringLiteral("[컴파일 재시도]")), 1);
    EXPECT_TRUE(never.err.contains(QStringLiteral("[컴파일 재시도] 컴파일이 실패하였습니다. 다시 시도 하시겠습니까? -> 아니오(No)")));
    Outcome twice = compile({QStringLiteral("--retries"), QStringLiteral("2")});
    EXPECT_EQ(twice.code, 2);
    EXPECT_EQ(twice.err.count(QStringLiteral("[컴파일 재시도]")), 3);
    EXPECT_EQ(twice.err.count(QStringLiteral("-> 예(Yes)")), 2 + 1) << "two retries and the start question";
}

TEST_F(HeadlessFixture, RunsStartedInTheSameSecondKeepTheirOwnLogs)
{
    // Every name the next half minute could give is taken already.
    const QString logs = box.home() + QStringLiteral("/logs");
    QDir().mkpath(logs);
    const QDateTime now = QDateTime::currentDateTime().addDays(QDate::currentDate().daysTo(QDate(2026, 12, 9)));
    for (int s = 0; s < 30; ++s) {
        QFile f(logs + QStringLiteral("/run_") + now.addSecs(s).toString(QStringLiteral("yyyyMMdd_HHmmss"))
                + QStringLiteral(".log"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    Outcome r = run({QStringLiteral("--rows"), QStringLiteral("1"), QStringLiteral("--steps"), QStringLiteral("none"),
                     QStringLiteral("--today"), QStringLiteral("2026-12-09")});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    const QStringList own = QDir(logs).entryList({QStringLiteral("run_*_2.log")});
    ASSERT_EQ(own.size(), 1);
    QFile f(logs + QLatin1Char('/') + own[0]);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(f.readAll()), r.out);
    for (const QFileInfo& taken : QDir(logs).entryInfoList({QStringLiteral("run_*.log")})) {
        if (taken.fileName() != own[0]) {
            EXPECT_EQ(taken.size(), 0) << taken.fileName().toStdString();
        }
    }
}

TEST_F(HeadlessFixture, BadSiteConfigurationOrAnIniWithoutProjectsStartsNoRun)
{
    QFile site(box.home() + QStringLiteral("/site.ini"));
    ASSERT_TRUE(site.open(QIODevice::ReadOnly));
    const QByteArray good = site.readAll();
    site.close();
    ASSERT_TRUE(site.open(QIODevice::WriteOnly | QIODevice::Truncate));
    site.write(QByteArray(good).replace("[Servers]\n", "[Servers]\nDBPort=99999\n"));
    site.close();
    Outcome bad = run({QStringLiteral("--all"), QStringLiteral("--today"), QStringLiteral("2026-12-09")});
    EXPECT_EQ(bad.code, 4);
    EXPECT_TRUE(bad.err.contains(QStringLiteral("site.ini [Servers] DBPort 값이 잘못되었습니다: \"99999\"")))
        << bad.err.toStdString();
    EXPECT_FALSE(bad.out.contains(QStringLiteral("Start...")));

    // A database nobody answers on: the login says so, with a code of its own.
    ASSERT_TRUE(site.open(QIODevice::WriteOnly | QIODevice::Truncate));
    site.write(QByteArray(good).replace("[Servers]\n", "[Servers]\nDBPort=1\n"));
    site.close();
    Outcome down = run({QStringLiteral("--list")});
    EXPECT_EQ(down.code, 14) << down.err.toStdString();
    EXPECT_TRUE(down.err.contains(QStringLiteral("데이터베이스에 접속할 수 없어 로그인할 수 없습니다.")))
        << down.err.toStdString();
    EXPECT_FALSE(down.err.contains(QStringLiteral("허용되지 않은 컴퓨터입니다")));

    ASSERT_TRUE(site.open(QIODevice::WriteOnly | QIODevice::Truncate));
    site.write(good);
    site.close();
    box.writeIni(QStringLiteral("demo.ini"), QStringLiteral("[General]\r\nProjGrop1=회계;Project1\r\n"));
    Outcome empty = run({QStringLiteral("--all"), QStringLiteral("--today"), QStringLiteral("2026-12-09")});
    EXPECT_EQ(empty.code, 4);
    EXPECT_TRUE(empty.err.contains(QStringLiteral("설정파일에 프로젝트가 없습니다.")));
}

TEST_F(HeadlessFixture, LoginTakesTheAllowListAccountAndAPasswordThatNeverShows)
{
    const QStringList list{QStringLiteral("--list")};
    const QString wrong = QStringLiteral("Wr0ng'pw\\");
    const auto leaks = [&](const Outcome& r) {
        QString logs;
        for (const QString& f : QDir(box.home() + QStringLiteral("/logs")).entryList(QDir::Files))
            logs += QString::fromUtf8(fileBytes(box.home() + QStringLiteral("/logs/") + f));
        return (r.out + r.err + logs).contains(wrong) || (r.out + r.err + logs).contains(password);
    };

    Outcome refused = runAs(list, wrong);
    EXPECT_EQ(refused.code, 12);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("[로그인] 암호가 잘못되었습니다."))) << refused.err.toStdString();
    EXPECT_TRUE(refused.err.contains(QStringLiteral("로그인하지 못했습니다.")));
    EXPECT_FALSE(leaks(refused));

    // The file wins over the variable; no password at all is its own message.
    const QString file = box.home() + QStringLiteral("/pw.txt");
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(password.toUtf8() + "\n");
    f.close();
    Outcome good = runAs({QStringLiteral("--list"), QStringLiteral("--password-file"), file}, wrong);
    EXPECT_EQ(good.code, 0) << good.err.toStdString();
    EXPECT_TRUE(good.err.contains(QStringLiteral("start-up: login: kim on 127.0.0.1")));
    EXPECT_FALSE(leaks(good));
    Outcome none = runAs(list, QString());
    EXPECT_EQ(none.code, 12);
    EXPECT_TRUE(none.err.contains(QStringLiteral("암호가 없습니다"))) << none.err.toStdString();

    ASSERT_TRUE(db->exec(QStringLiteral("UPDATE tv_inhouse.user_mac SET block = 1")));
    Outcome blocked = run(list);
    EXPECT_EQ(blocked.code, 11);
    EXPECT_TRUE(blocked.err.contains(QStringLiteral("허용되지 않은 컴퓨터입니다. 관리자에게 문의바랍니다. / MAC: ")))
        << blocked.err.toStdString();
}

TEST_F(HeadlessFixture, SecondInstanceIsRefusedWhileTheFirstRunsAndAKilledOneLeavesNoLock)
{
    // A release waiting for the signing station (no time limit) runs until
    // killed; the same in a build without the window.
    Sandbox::writeAnsi(box.drive(QStringLiteral("C")) + QStringLiteral("/Src/ledger.exe"), QStringLiteral("exe"));
    for (const char* dir : {"/Codesigning/unsigned", "/Codesigning/signed"})
        QDir().mkpath(box.drive(QStringLiteral("S")) + QLatin1String(dir));
    QProcess first;
    first.setProcessEnvironment(environment(password));
    first.setProcessChannelMode(QProcess::MergedChannels);
    first.start(program, {QStringLiteral("--headless"), QStringLiteral("--home"), box.home(), QStringLiteral("--rows"),
                          QStringLiteral("1"), QStringLiteral("--steps"), QStringLiteral("buildsign"),
                          QStringLiteral("--today"), QStringLiteral("2026-12-09")});
    ASSERT_TRUE(first.waitForStarted());
    QByteArray firstOut;
    ASSERT_TRUE(waitFor([&] {
        first.waitForReadyRead(20);
        firstOut += first.readAll();
        return firstOut.contains("서명 대기중...") || first.state() == QProcess::NotRunning;
    }));
    ASSERT_EQ(first.state(), QProcess::Running) << firstOut.toStdString();
    ASSERT_FALSE(rh::InstanceLock::isFree(box.home()));

    // Every entry takes the lock, also those that never start a release.
    for (const char* entry : {"--list", "--send-pending"}) {
        SCOPED_TRACE(entry);
        Outcome second = run({QString::fromLatin1(entry)});
        EXPECT_EQ(second.code, 10);
        EXPECT_TRUE(second.err.contains(QStringLiteral("이미 프로그램이 실행중입니다."))) << second.err.toStdString();
        EXPECT_FALSE(second.err.contains(QStringLiteral("start-up: servers"))) << "no server asked";
    }

    first.kill(); // SIGKILL: no clean-up of its own
    ASSERT_TRUE(first.waitForFinished(30000));
    Outcome third = run({QStringLiteral("--list")});
    EXPECT_EQ(third.code, 0) << third.err.toStdString();
}

TEST_F(HeadlessFixture, NewerBuildIsDownloadedHandedOverReplacedBackedUpAndRestarted)
{
    rh::test::HttpServer http;
    ASSERT_TRUE(http.start()) << http.diagnostics().toStdString();
    writeServers(http.port());
    const QString bin = box.home() + QStringLiteral("/bin");
    QDir().mkpath(bin);
    for (const char* name : {"rollhaven2", "AutoVersionCheckerV1.exe", "filechanger.exe"})
        ASSERT_TRUE(QFile::copy(QStringLiteral(RH_BINARY_DIR "/src/") + QLatin1String(name),
                                bin + QLatin1Char('/') + QLatin1String(name)));
    const QString folder = http.root() + QStringLiteral("/download/자동업데이트_v1/");
    QDir().mkpath(folder);
    const QByteArray next = fileBytes(QStringLiteral(RH_BINARY_DIR "/next/rollhaven2"));
    for (const auto& [name, bytes] : {std::pair{"AutoVersionCheckerV1_lastver.txt", QByteArray("1")},
                                      std::pair{"rollhaven2_lastver.txt", QByteArray("1\r\n")},
                                      std::pair{"rollhaven2", next}}) {
        QFile f(folder + QLatin1String(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    // Signed with the release key that site.ini names.
    rh::test::ReleaseKey release;
    ASSERT_TRUE(release.ok() && release.sign(folder + QStringLiteral("rollhaven2"))) << release.diagnostics().toStdString();
    {
        QFile site(box.home() + QStringLiteral("/site.ini"));
        ASSERT_TRUE(site.open(QIODevice::Append));
        site.write("[Update]\nPublicKey=" + release.publicKey().toLatin1() + "\n");
    }
    const QByteArray old = fileBytes(bin + QStringLiteral("/rollhaven2"));
    const QString pw = box.home() + QStringLiteral("/pw.txt");
    QFile f(pw);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(password.toUtf8());
    f.close();

    program = bin + QStringLiteral("/rollhaven2");
    const QString output = box.home() + QStringLiteral("/out.txt");
    Outcome r = runAs({QStringLiteral("--list"), QStringLiteral("--password-file"), pw}, QString(), output);
    EXPECT_EQ(r.code, 13) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("hands over to"))) << r.err.toStdString();

    // The restarted build logs in again and prints the grid it was asked for.
    ASSERT_TRUE(waitFor([&] { return fileBytes(output).contains("rows: 3"); }))
        << fileBytes(output).toStdString() << fileBytes(bin + QStringLiteral("/filechanger.log")).toStdString();
    EXPECT_EQ(fileBytes(bin + QStringLiteral("/rollhaven2")), next);
    EXPECT_EQ(fileBytes(bin + QStringLiteral("/rollhaven2.bak")), old);
    EXPECT_TRUE(QFileInfo(bin + QStringLiteral("/rollhaven2")).isExecutable());
    EXPECT_FALSE(QFileInfo::exists(bin + QStringLiteral("/New_rollhaven2")));
    EXPECT_TRUE(fileBytes(output).contains("rollhaven2 revision 1 is current")) << fileBytes(output).toStdString();
}

// Every database session goes through one door: the hosts start-up resolved
// (here from the checker's cached reply, site.ini's own hosts resolve
// nowhere), with site.ini's port. A record kept by an earlier run reaches that
// host, and the login on the same door works.
TEST_F(HeadlessFixture, KeptRecordGoesToTheHostStartUpResolvedNotTheSiteDefault)
{
    QFile site(box.home() + QStringLiteral("/site.ini"));
    ASSERT_TRUE(site.open(QIODevice::WriteOnly | QIODevice::Truncate));
    site.write(QStringLiteral("[Drives]\nC:=drives/C\nD:=drives/D\nS:=drives/S\n"
                              "[Servers]\nDBServerAddress=db.site-default.invalid\nDBPort=%1\nWebDBPort=%1\n"
                              "WebServerAddress=www.site-default.invalid\nCheckerHost=127.0.0.1\nCheckerPort=1\n"
                              "AllowedHosts=127.0.0.1\n")
                   .arg(db->port())
                   .toUtf8()
               + Sandbox::accountKeys());
    site.close();
    QFile cache(box.home() + QStringLiteral("/server_address_setting.json"));
    ASSERT_TRUE(cache.open(QIODevice::WriteOnly));
    cache.write(R"({"ver": 1, "servers": [{"name": "사내메신저DB서버", "host": "127.0.0.1"},)"
                R"({"name": "자동업데이트_런처", "host": "127.0.0.1"}]})");
    cache.close();
    const QString note = QStringLiteral("* [현재버전] 문지기 → 3.1.4");
    ASSERT_TRUE(db->exec(QStringLiteral("DELETE FROM tv_inhouse.diary WHERE note = '%1'").arg(note)));
    QFile pending(box.home() + QStringLiteral("/pending_records.json"));
    ASSERT_TRUE(pending.open(QIODevice::WriteOnly));
    pending.write(QStringLiteral(R"({"format": "rollhaven2-pending-records", "records": [)"
                                 R"({"run": "20261204_170000", "kind": "diary", "date": "2026-12-04",)"
                                 R"( "writer": "kim", "name": "문지기", "version": "3.1.4", "partcode": "7"}]})")
                      .toUtf8());
    pending.close();

    const Outcome r = run({QStringLiteral("--send-pending")});
    EXPECT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_FALSE(r.out.contains(QStringLiteral("invalid"))) << r.out.toStdString();
    QString rows;
    ASSERT_TRUE(db->exec(QStringLiteral("SELECT writer, writedate FROM tv_inhouse.diary WHERE note = '%1'").arg(note),
                         &rows));
    EXPECT_EQ(rows.trimmed(), QStringLiteral("kim\t2026-12-04"));
    EXPECT_FALSE(QFile::exists(pending.fileName())); // sent, so no longer kept
}

// A CI engine aborting the job: SIGTERM during the signing wait ends the run
// cancelled with its own exit code, journal and report; kill -9 leaves the
// journal without an end, and the next start reports that run as ended
// abnormally. Without --signing-timeout the site's limit (here 1 minute) holds.
// A release whose setup was built for another version than its executable:
// the verification row says so and the run exits 6.
TEST_F(HeadlessFixture, ADisagreementFoundAfterTheReleaseExitsSix)
{
    QFile site(box.home() + QStringLiteral("/site.ini"));
    QByteArray text = fileBytes(site.fileName());
    text.replace("S:=drives/S\n", "S:=drives/S\n\\\\fileserver=drives/fileserver\n");
    ASSERT_TRUE(site.open(QIODevice::WriteOnly | QIODevice::Truncate));
    site.write(text);
    site.close();
    box.drive(QStringLiteral("S"));
    QDir().mkpath(box.home() + QStringLiteral("/drives/fileserver/프로그램셋업/1_정식버전"));
    QString error;
    for (const auto& [file, version] : {std::pair{"C/Src/ledger.exe", "1.2.0.3"}, std::pair{"D/o/ledger_setup_2.exe", "1.2.0.4"}}) {
        const QString path = box.home() + QStringLiteral("/drives/") + QLatin1String(file);
        QDir().mkpath(QFileInfo(path).absolutePath());
        ASSERT_FALSE(rh::test::makePe(path, {QStringLiteral("--version"), QLatin1String(version)}, &error).isEmpty())
            << error.toStdString();
    }
    Sandbox::writeAnsi(box.drive(QStringLiteral("C")) + QStringLiteral("/Src/ledger.vbp"),
                       QStringLiteral("MajorVer=1\r\nMinorVer=2\r\nRevisionVer=3\r\n"));
    box.writeIni(QStringLiteral("verify.ini"),
                 QStringLiteral("[General]\r\nProjGrop1=회계;Project1\r\n[Distribute]\r\nPath1=C:\\배포\r\n"
                                "[Project]\r\nProjectCount=1\r\nProject1=원장관리\r\n[Project1]\r\n"
                                "VbpPath=C:\\Src\\ledger.vbp\r\nExePath=C:\\Src\\ledger.exe\r\n"
                                "ISResult1=D:\\o\\ledger_setup_2.exe\r\n"));
    const Outcome r = run({QStringLiteral("--ini"), QStringLiteral("verify.ini"), QStringLiteral("--rows"), QStringLiteral("1"),
                           QStringLiteral("--steps"), QStringLiteral("distribute"), QStringLiteral("--no-ver-update"),
                           QStringLiteral("--today"), QStringLiteral("2026-12-09")});
    EXPECT_EQ(r.code, 6) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("  원장관리 | 실행파일 버전 | 1.2.3 | 1.2.0.3 | 일치"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(
        QStringLiteral("[오류] 원장관리 셋업 버전 ledger_setup_2.exe 불일치: 기대값 1.2.0.3, 실제값 1.2.0.4")))
        << r.out.toStdString();
}

TEST_F(HeadlessFixture, SignalCancelsTheRunAndAKilledRunIsReportedAtTheNextStart)
{
    Sandbox::writeAnsi(box.drive(QStringLiteral("C")) + QStringLiteral("/Src/ledger.exe"), QStringLiteral("exe"));
    for (const char* dir : {"/Codesigning/unsigned", "/Codesigning/signed"})
        QDir().mkpath(box.drive(QStringLiteral("S")) + QLatin1String(dir));
    QFile site(box.home() + QStringLiteral("/site.ini"));
    ASSERT_TRUE(site.open(QIODevice::Append));
    site.write("[Signing]\nWaitTimeout=1\n");
    site.close();
    const QString logs = box.home() + QStringLiteral("/logs");
    auto journals = [&] { return QDir(logs).entryList({QStringLiteral("run_*.journal.jsonl")}, QDir::Files, QDir::Name); };

    for (const bool hard : {false, true}) {
        SCOPED_TRACE(hard ? "kill -9" : "SIGTERM");
        const QStringList before = journals();
        QProcess p;
        p.setProcessEnvironment(environment(password));
        p.start(program, {QStringLiteral("--headless"), QStringLiteral("--home"), box.home(), QStringLiteral("--rows"),
                          QStringLiteral("1"), QStringLiteral("--steps"), QStringLiteral("buildsign"),
                          QStringLiteral("--today"), QStringLiteral("2026-12-09")});
        QByteArray out;
        ASSERT_TRUE(waitFor([&] {
            p.waitForReadyRead(50);
            out += p.readAllStandardOutput();
            return out.contains("서명 대기중...") || p.state() == QProcess::NotRunning;
        })) << out.constData();
        ASSERT_EQ(p.state(), QProcess::Running) << out.constData() << p.readAllStandardError().constData();
        if (hard)
            p.kill();
        else
            p.terminate();
        ASSERT_TRUE(p.waitForFinished(60000));
        QStringList made = journals();
        for (const QString& b : before)
            made.removeAll(b);
        ASSERT_EQ(made.size(), 1);
        rh::JournalFile jf;
        ASSERT_TRUE(rh::readJournalFile(logs + QLatin1Char('/') + made[0], &jf));
        EXPECT_FALSE(jf.entries.isEmpty()); // the hand-over's copy, at least
        if (!hard) {
            EXPECT_EQ(p.exitCode(), 7) << p.readAllStandardError().constData();
            EXPECT_EQ(jf.end.value(QStringLiteral("result")).toString(), QStringLiteral("cancelled"));
        } else {
            EXPECT_TRUE(jf.end.isEmpty());
            const Outcome next = run({QStringLiteral("--list")});
            EXPECT_TRUE(next.out.contains(QStringLiteral("비정상 종료: "))) << next.out.toStdString();
            ASSERT_TRUE(rh::readJournalFile(logs + QLatin1Char('/') + made[0], &jf));
            EXPECT_EQ(jf.end.value(QStringLiteral("result")).toString(), QStringLiteral("abnormal"));
        }
    }
}

// A dry run changes nothing, so it never hands over to a waiting build: it
// says one is waiting and plans the run with the program that runs.
TEST_F(HeadlessFixture, DryRunSaysANewerBuildWaitsAndPlansWithoutHandingOver)
{
    rh::test::HttpServer http;
    ASSERT_TRUE(http.start()) << http.diagnostics().toStdString();
    writeServers(http.port());
    const QString folder = http.root() + QStringLiteral("/download/자동업데이트_v1/");
    QDir().mkpath(folder);
    QFile lastver(folder + QStringLiteral("AutoVersionCheckerV1_lastver.txt"));
    ASSERT_TRUE(lastver.open(QIODevice::WriteOnly));
    lastver.write("1");
    lastver.close();
    const QString bin = box.home() + QStringLiteral("/bin");
    QDir().mkpath(bin);
    for (const char* name : {"rollhaven2", "AutoVersionCheckerV1.exe", "filechanger.exe"})
        ASSERT_TRUE(QFile::copy(QStringLiteral(RH_BINARY_DIR "/src/") + QLatin1String(name),
                                bin + QLatin1Char('/') + QLatin1String(name)));
    // A good waiting build: signed with the site's release key, as the version checker leaves it.
    rh::test::ReleaseKey release;
    ASSERT_TRUE(QFile::copy(QStringLiteral(RH_BINARY_DIR "/next/rollhaven2"), folder + QStringLiteral("rollhaven2")));
    ASSERT_TRUE(release.ok() && release.sign(folder + QStringLiteral("rollhaven2"))) << release.diagnostics().toStdString();
    ASSERT_TRUE(QFile::copy(folder + QStringLiteral("rollhaven2"), bin + QStringLiteral("/New_rollhaven2")));
    ASSERT_TRUE(QFile::copy(folder + QStringLiteral("rollhaven2.minisig"), bin + QStringLiteral("/New_rollhaven2.minisig")));
    {
        QFile site(box.home() + QStringLiteral("/site.ini"));
        ASSERT_TRUE(site.open(QIODevice::Append));
        site.write("[Update]\nPublicKey=" + release.publicKey().toLatin1() + "\n");
    }
    const QByteArray old = fileBytes(bin + QStringLiteral("/rollhaven2"));
    program = bin + QStringLiteral("/rollhaven2");
    const Outcome r = run({QStringLiteral("--rows"), QStringLiteral("1"), QStringLiteral("--steps"), QStringLiteral("none"),
                           QStringLiteral("--today"), QStringLiteral("2026-12-09"), QStringLiteral("--dry-run")});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("새 버전이 기다리고 있습니다: "))) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(QStringLiteral("hands over to")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("모의실행 계획:"))) << r.out.toStdString();
    EXPECT_TRUE(QFileInfo::exists(bin + QStringLiteral("/New_rollhaven2")));
    EXPECT_EQ(fileBytes(bin + QStringLiteral("/rollhaven2")), old);
}
