// The built program run headless: flags, exit codes, output and the log file.
#include "sandbox.h"
#include "standins.h"

#include <QDateTime>
#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

using rh::test::Sandbox;

namespace {

struct Outcome {
    int code = -1;
    QString out, err;
};

struct HeadlessFixture : ::testing::Test {
    Sandbox box;

    void SetUp() override
    {
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
        site.write("[Drives]\nC:=drives/C\nD:=drives/D\nS:=drives/S\n");
    }

    Outcome run(QStringList args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), box.home() + QStringLiteral("/settings"));
        env.remove(QStringLiteral("ROLLHAVEN2_HOME"));
        p.setProcessEnvironment(env);
        args.prepend(box.home());
        args.prepend(QStringLiteral("--home"));
        args.prepend(QStringLiteral("--headless"));
        p.start(QStringLiteral(RH_BINARY_DIR "/src/rollhaven2"), args);
        EXPECT_TRUE(p.waitForFinished(60000));
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
    // Closing saved the selection into the setup INI, as the window does.
    EXPECT_TRUE(Sandbox::readBytes(box.iniPath(QStringLiteral("demo.ini"))).contains("RecentProjects=;1;3"));
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
    Outcome missing = run({QStringLiteral("--ini"), QStringLiteral("nope.ini")});
    EXPECT_EQ(missing.code, 4);
    EXPECT_TRUE(missing.err.contains(QStringLiteral("설정파일(setup.ini)을 찾을수 없습니다.")));
}

TEST_F(HeadlessFixture, SigningTimeoutEndsTheRunWithAClearMessage)
{
    Sandbox::writeAnsi(box.drive(QStringLiteral("C")) + QStringLiteral("/Src/ledger.exe"), QStringLiteral("exe"));
    for (const char* dir : {"/Codesigning/unsigned", "/Codesigning/signed"})
        QDir().mkpath(box.drive(QStringLiteral("S")) + QLatin1String(dir));
    Outcome r = run({QStringLiteral("--rows"), QStringLiteral("1"), QStringLiteral("--steps"), QStringLiteral("buildsign"),
                     QStringLiteral("--signing-timeout"), QStringLiteral("0.3"), QStringLiteral("--today"),
                     QStringLiteral("2026-12-09")});
    EXPECT_EQ(r.code, 2) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("[오류] 서명 대기 제한시간(0.3초)이 지났습니다.\n"
                                              "[오류] 원장관리 서명파일이 돌아오지 않았습니다.(S:\\Codesigning\\signed\\ledger.exe)")))
        << r.out.toStdString();
    EXPECT_FALSE(r.out.contains(QStringLiteral("Finish! ")));
    EXPECT_EQ(run({QStringLiteral("--signing-timeout"), QStringLiteral("soon")}).code, 3);
}

TEST_F(HeadlessFixture, ErrorsOfAFinishedRunAreCountedAndGiveTheirOwnExitCode)
{
    // The run step logs the missing project file and goes on.
    Outcome r = run({QStringLiteral("--rows"), QStringLiteral("1"), QStringLiteral("--steps"), QStringLiteral("run"),
                     QStringLiteral("--today"), QStringLiteral("2026-12-09")});
    EXPECT_EQ(r.code, 5) << r.err.toStdString();
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
    ASSERT_TRUE(site.open(QIODevice::Append));
    site.write("[Servers]\nDBPort=99999\n");
    site.close();
    Outcome bad = run({QStringLiteral("--all"), QStringLiteral("--today"), QStringLiteral("2026-12-09")});
    EXPECT_EQ(bad.code, 4);
    EXPECT_TRUE(bad.err.contains(QStringLiteral("site.ini [Servers] DBPort 값이 잘못되었습니다: \"99999\"")))
        << bad.err.toStdString();
    EXPECT_FALSE(bad.out.contains(QStringLiteral("Start...")));

    ASSERT_TRUE(site.open(QIODevice::WriteOnly | QIODevice::Truncate));
    site.write("[Drives]\nC:=drives/C\nD:=drives/D\nS:=drives/S\n");
    site.close();
    box.writeIni(QStringLiteral("demo.ini"), QStringLiteral("[General]\r\nProjGrop1=회계;Project1\r\n"));
    Outcome empty = run({QStringLiteral("--all"), QStringLiteral("--today"), QStringLiteral("2026-12-09")});
    EXPECT_EQ(empty.code, 4);
    EXPECT_TRUE(empty.err.contains(QStringLiteral("설정파일에 프로젝트가 없습니다.")));
}
