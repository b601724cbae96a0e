// The run and compile steps against the stand-in development environment and
// packer, started as real processes through the drive map.
#include "config/projectrow.h"
#include "pipeline/desk.h"
#include "pipeline/runcompile.h"
#include "platform/drivemap.h"
#include "platform/peversion.h"
#include "sandbox.h"
#include "standins.h"
#include "testinteraction.h"
#include "util/fileutil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace rh;
using namespace rh::test;

namespace {

struct RunCompileFixture : ::testing::Test {
    Sandbox box;
    TestInteraction ui;
    Desk desk;
    StandInLog calls{box.home() + QStringLiteral("/standin.log")};

    // A grid row; the project's files live under C:\Src\<folder>.
    int addProject(const QString& name, const QString& folder, const QString& selected = QStringLiteral("1"))
    {
        const int row = desk.grid.appendRow();
        desk.grid.setText(ColSelected, row, selected);
        desk.grid.setText(ColProjectName, row, name);
        desk.grid.setText(ColVbpPath, row, QStringLiteral("C:\\Src\\%1\\%1.vbp").arg(folder));
        desk.grid.setText(ColExePath, row, QStringLiteral("C:\\Src\\%1\\%1.exe").arg(folder));
        return row;
    }
    QString vbpOf(int row) const { return desk.grid.text(ColVbpPath, row); }
    QString exeOf(int row) const { return desk.grid.text(ColExePath, row); }
    void writeProject(int row, VbpSpec spec) { writeVbp(nativeOf(vbpOf(row)), spec); }
    QString status(int row) const { return desk.grid.text(ColStatus, row); }
};

VbpSpec standIn(const QString& words, int major = 1)
{
    VbpSpec spec;
    spec.major = major;
    spec.extraLines << QStringLiteral("RollhavenStandIn=") + words;
    return spec;
}

} // namespace

TEST_F(RunCompileFixture, RunStepWaitsForEachTickedProjectThenAsks)
{
    installCompiler(box);
    const int ledger = addProject(QStringLiteral("원장관리"), QStringLiteral("Ledger"));
    const int tax = addProject(QStringLiteral("세금계산서"), QStringLiteral("Tax")); // no project file
    const int pay = addProject(QStringLiteral("급여관리"), QStringLiteral("Pay"), QStringLiteral(" 1"));
    const int stock = addProject(QStringLiteral("재고관리"), QStringLiteral("Stock"), QStringLiteral("True"));
    // The run lasts until the wait has pumped three times.
    const QString release = box.home() + QStringLiteral("/run.release");
    writeProject(ledger, standIn(QStringLiteral("RunUntil:") + release));
    writeProject(pay, {});
    writeProject(stock, {});

    ui.onPump = [&] {
        if (ui.pumps - ui.log.size() == 3)
            QFile(release).open(QIODevice::WriteOnly);
    };
    ui.answer(true);
    EXPECT_TRUE(Step1_1(desk));
    ui.onPump = nullptr;
    EXPECT_TRUE(QFile::exists(release));
    EXPECT_EQ(ui.log, (QStringList{QStringLiteral("[정상] 원장관리 Running..."),
                                   QStringLiteral("[오류] 세금계산서 VBP파일이 존재하지 않습니다.(C:\\Src\\Tax\\Tax.vbp)"),
                                   QString()}));
    // Every log line yields once; the rest are the pumps of the wait.
    EXPECT_GE(ui.pumps - ui.log.size(), 3);
    EXPECT_EQ(calls.lines(), QStringList{QStringLiteral("vb6 /runexit ") + nativeOf(vbpOf(ledger))});
    EXPECT_EQ(status(ledger), QStringLiteral("RUN 끝"));
    EXPECT_EQ(status(tax), QStringLiteral("RUN 끝"));
    EXPECT_EQ(status(pay), QString());
    EXPECT_EQ(status(stock), QString());
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_EQ(ui.messages[0].kind, Message::Ask);
    EXPECT_EQ(ui.messages[0].text, QStringLiteral("모든 빌드가 정상인가요? 계속 진행할까요?"));
    EXPECT_EQ(ui.messages[0].title, QStringLiteral("계속 진행?"));
    EXPECT_EQ(ui.messages[0].icon, MsgIcon::Question);

    // No to the question stops the run, without the closing empty line.
    ui.log.clear();
    ui.answer(false);
    EXPECT_FALSE(Step1_1(desk));
    EXPECT_EQ(ui.log.size(), 2);
}

// The compiler's fixed path has blanks: a file planted at "C:\Program" must
// not be taken for the program part of the command line.
TEST_F(RunCompileFixture, APlantedProgramOnTheCompilerPathNeverRuns)
{
    installCompiler(box);
    const QString planted = box.drive(QStringLiteral("C")) + QStringLiteral("/Program");
    const QString ran = box.home() + QStringLiteral("/planted.ran");
    QFile f(planted);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral("#!/bin/sh\ntouch '%1'\n").arg(ran).toUtf8());
    f.close();
    ASSERT_TRUE(f.setPermissions(f.permissions() | QFileDevice::ExeOwner));
    const int row = addProject(QStringLiteral("원장관리"), QStringLiteral("Ledger"));
    writeProject(row, {});
    ui.answer(true);
    EXPECT_TRUE(Step1_1(desk));
    EXPECT_FALSE(QFile::exists(ran));
    EXPECT_EQ(calls.lines(), QStringList{QStringLiteral("vb6 /runexit ") + nativeOf(vbpOf(row))});
}

TEST_F(RunCompileFixture, RunStepStopsWhenTheEnvironmentCannotBeStarted)
{
    const int ledger = addProject(QStringLiteral("원장관리"), QStringLiteral("Ledger"));
    const int tax = addProject(QStringLiteral("세금계산서"), QStringLiteral("Tax"));
    writeProject(ledger, {});
    writeProject(tax, {});
    EXPECT_FALSE(Step1_1(desk));
    ASSERT_EQ(ui.log.size(), 3);
    EXPECT_EQ(ui.log[0], QStringLiteral("[정상] 원장관리 Running..."));
    EXPECT_TRUE(ui.log[1].startsWith(QStringLiteral("[오류] 원장관리 프로그램을 시작할 수 없습니다.(C:\\Program Files")));
    EXPECT_EQ(ui.log[2], QStringLiteral("[오류] 원장관리 Run 실패!(processID=0)"));
    EXPECT_TRUE(ui.messages.isEmpty());
    EXPECT_EQ(status(ledger), QStringLiteral("Run..."));
    EXPECT_EQ(status(tax), QString());
}

TEST_F(RunCompileFixture, NoTickedRows)
{
    installCompiler(box);
    addProject(QStringLiteral("원장관리"), QStringLiteral("Ledger"), QStringLiteral("0"));
    ui.answer(true);
    EXPECT_TRUE(Step1_1(desk));
    EXPECT_EQ(ui.questions().size(), 1) << "the question comes even without a ticked row";

    desk.UpxExePath = QStringLiteral("D:\\upx.exe");
    EXPECT_FALSE(Step1_2(desk)) << "the packer is checked before the rows";
    installPacker(box);
    ui.log.clear();
    EXPECT_TRUE(Step1_2(desk));
    EXPECT_TRUE(ui.log.isEmpty());
    EXPECT_TRUE(calls.lines().isEmpty());
}

TEST_F(RunCompileFixture, CompileBuildsAVersionedExecutableAndPacksIt)
{
    installStandInTools(box, QStringLiteral("C:\\Tools\\upx.exe"));
    desk.UpxExePath = QStringLiteral("C:\\Tools\\upx.exe");
    const int ledger = addProject(QStringLiteral("원장관리"), QStringLiteral("Ledger"));
    const int tax = addProject(QStringLiteral("세금계산서"), QStringLiteral("Tax"));
    writeProject(ledger, {1, 604, 12, QStringLiteral("Ledger.exe"), {}, QStringLiteral("원장관리 프로그램"), {}});
    // The executable lands in Path32 below the project; ExePath names it there.
    writeProject(tax, {2, 3, 45, QStringLiteral("Tax.exe"), QStringLiteral("bin"), {}, {}});
    desk.grid.setText(ColExePath, tax, QStringLiteral("C:\\Src\\Tax\\bin\\Tax.exe"));
    Sandbox::writeAnsi(nativeOf(exeOf(ledger)), QStringLiteral("old build"));

    EXPECT_TRUE(Step1_2(desk));
    EXPECT_EQ(ui.log,
              (QStringList{QStringLiteral("[정상] 원장관리 이전 실행파일 삭제"), QStringLiteral("[정상] 원장관리 컴파일중..."),
                           QStringLiteral("[정상] 원장관리 UPX 압축/해제완료"), QString(),
                           QStringLiteral("[경고] 세금계산서 이전 실행파일이 존재하지 않습니다.(C:\\Src\\Tax\\bin\\Tax.exe)"),
                           QStringLiteral("[정상] 세금계산서 컴파일중..."), QStringLiteral("[정상] 세금계산서 UPX 압축/해제완료"),
                           QString()}));
    EXPECT_TRUE(ui.messages.isEmpty());
    EXPECT_EQ(status(ledger), QStringLiteral("컴파일 끝"));
    EXPECT_EQ(status(tax), QStringLiteral("컴파일 끝"));
    EXPECT_EQ(calls.lines(), (QStringList{QStringLiteral("vb6 /make ") + nativeOf(vbpOf(ledger)),
                                          QStringLiteral("upx ") + nativeOf(exeOf(ledger)),
                                          QStringLiteral("upx -d ") + nativeOf(exeOf(ledger)),
                                          QStringLiteral("vb6 /make ") + nativeOf(vbpOf(tax)),
                                          QStringLiteral("upx ") + nativeOf(exeOf(tax)),
                                          QStringLiteral("upx -d ") + nativeOf(exeOf(tax))}));

    // The new executables carry the project's version as the version reader sees it.
    EXPECT_EQ(GetFileVerText(exeOf(ledger), true, true), QStringLiteral("1.604.12"));
    EXPECT_EQ(GetFileVerText(exeOf(tax), false, true), QStringLiteral("2.03"));
    const QStringList entries = GetFileVer(exeOf(ledger));
    EXPECT_TRUE(entries.contains(QStringLiteral("FileDescription: 원장관리 프로그램"))) << entries.join(u'|').toStdString();
    EXPECT_TRUE(entries.contains(QStringLiteral("Language: Korean"))) << entries.join(u'|').toStdString();
}

TEST_F(RunCompileFixture, CompileRetryPromptRerunsTheMakeUntilNo)
{
    installStandInTools(box);
    desk.UpxExePath = QStringLiteral("D:\\upx.exe");
    const int ledger = addProject(QStringLiteral("원장관리"), QStringLiteral("Ledger"));
    const int tax = addProject(QStringLiteral("세금계산서"), QStringLiteral("Tax"));
    writeProject(ledger, standIn(QStringLiteral("FailBuild")));
    writeProject(tax, {});

    ui.answers({true, false});
    EXPECT_FALSE(Step1_2(desk));
    ASSERT_EQ(ui.questions().size(), 2);
    for (const Message& m : ui.messages) {
        EXPECT_EQ(m.text, QStringLiteral("컴파일이 실패하였습니다. 다시 시도 하시겠습니까?"));
        EXPECT_EQ(m.title, QStringLiteral("컴파일 재시도"));
        EXPECT_FALSE(m.defaultNo) << "the compiler ran: a retry may help";
    }
    EXPECT_EQ(ui.log.last(),
              QStringLiteral("[오류] 원장관리 컴파일된 EXE파일이 존재하지 않습니다.(C:\\Src\\Ledger\\Ledger.exe)"));
    const QString make = QStringLiteral("vb6 /make ") + nativeOf(vbpOf(ledger));
    EXPECT_EQ(calls.lines(), (QStringList{make, make})) << "no packing, and the later row is not compiled";
    EXPECT_EQ(status(ledger), QStringLiteral("컴파일..."));
    EXPECT_EQ(status(tax), QString());
}

TEST_F(RunCompileFixture, CompileRetryThatSucceedsGoesOn)
{
    installStandInTools(box);
    desk.UpxExePath = QStringLiteral("D:\\upx.exe");
    const int ledger = addProject(QStringLiteral("원장관리"), QStringLiteral("Ledger"));
    writeProject(ledger, standIn(QStringLiteral("FailBuilds:1"), 3));
    ui.answer(true);
    EXPECT_TRUE(Step1_2(desk));
    EXPECT_EQ(ui.questions().size(), 1);
    EXPECT_EQ(GetFileVerText(exeOf(ledger), false, true), QStringLiteral("3.00"));
    EXPECT_EQ(calls.lines().size(), 4); // two makes, pack, unpack
    EXPECT_EQ(status(ledger), QStringLiteral("컴파일 끝"));
}

TEST_F(RunCompileFixture, CompileWithoutProjectFileStillOffersTheMakeRetry)
{
    installStandInTools(box);
    desk.UpxExePath = QStringLiteral("D:\\upx.exe");
    const int tax = addProject(QStringLiteral("세금계산서"), QStringLiteral("Tax"));
    ui.answers({true, false});
    EXPECT_FALSE(Step1_2(desk));
    EXPECT_EQ(ui.log, (QStringList{QStringLiteral("[경고] 세금계산서 이전 실행파일이 존재하지 않습니다.(C:\\Src\\Tax\\Tax.exe)"),
                                   QStringLiteral("[오류] 세금계산서 VBP파일이 존재하지 않습니다.(C:\\Src\\Tax\\Tax.vbp)"),
                                   QStringLiteral("[오류] 세금계산서 컴파일된 EXE파일이 존재하지 않습니다.(C:\\Src\\Tax\\Tax.exe)")}));
    // The Yes reran the make with the missing project file; the first pass had none.
    EXPECT_EQ(calls.lines(), QStringList{QStringLiteral("vb6 /make ") + nativeOf(vbpOf(tax))});
    // A retry cannot bring the project file back: No is the default.
    ASSERT_EQ(ui.messages.size(), 2);
    EXPECT_TRUE(ui.messages[0].defaultNo);
    EXPECT_TRUE(ui.messages[1].defaultNo);
}

TEST_F(RunCompileFixture, MissingPackerStopsBeforeAnyRow)
{
    installCompiler(box);
    desk.UpxExePath = QStringLiteral("C:\\Tools\\upx.exe");
    const int ledger = addProject(QStringLiteral("원장관리"), QStringLiteral("Ledger"));
    writeProject(ledger, {});
    Sandbox::writeAnsi(nativeOf(exeOf(ledger)), QStringLiteral("old build"));
    EXPECT_FALSE(Step1_2(desk));
    EXPECT_EQ(ui.log, QStringList{QStringLiteral("[오류] 실행파일 압축프로그램(UPX)을 찾을 수 없습니다.(C:\\Tools\\upx.exe)")});
    EXPECT_TRUE(QFileInfo::exists(nativeOf(exeOf(ledger))));
    EXPECT_EQ(status(ledger), QString());
    EXPECT_TRUE(calls.lines().isEmpty());
}

TEST_F(RunCompileFixture, AnOldExecutableThatCannotBeDeletedStopsTheStep)
{
    installStandInTools(box);
    desk.UpxExePath = QStringLiteral("D:\\upx.exe");
    // A file nobody may delete, even root: a process file mapped as drive P:.
    box.site().driveMap.append({QStringLiteral("P:"), QStringLiteral("/proc/self")});
    box.apply();
    const int ledger = addProject(QStringLiteral("원장관리"), QStringLiteral("Ledger"));
    desk.grid.setText(ColExePath, ledger, QStringLiteral("P:\\comm"));
    writeProject(ledger, {});

    // The stale file would pass the existence check as a fresh build.
    EXPECT_FALSE(Step1_2(desk));
    EXPECT_EQ(ui.tells(), QStringList{QStringLiteral("Error 70 (Permission denied) in procedure Step1_2 of Form FrmMain")});
    EXPECT_EQ(ui.log, QStringList{QStringLiteral("[오류] 원장관리 이전 실행파일을 삭제할 수 없습니다.(P:\\comm)")});
    EXPECT_EQ(status(ledger), QStringLiteral("컴파일..."));
}

TEST_F(RunCompileFixture, ToolsThatCannotBeStartedAreNamedWithTheReason)
{
    desk.UpxExePath = QStringLiteral("C:\\Tools\\upx.exe");
    installPacker(box, desk.UpxExePath);
    // Blanks in the project's folder: the paths reach the tools whole.
    const int ledger = addProject(QStringLiteral("원장관리"), QStringLiteral("Ledger"));
    desk.grid.setText(ColVbpPath, ledger, QStringLiteral("C:\\My Src\\Ledger.vbp"));
    desk.grid.setText(ColExePath, ledger, QStringLiteral("C:\\My Src\\Ledger.exe"));
    writeProject(ledger, {});
    const QString vb6 = QStringLiteral("C:\\Program Files\\Microsoft Visual Studio\\VB98\\vb6.exe");

    // No development environment: the retry prompt follows the reason.
    ui.answer(false);
    EXPECT_FALSE(Step1_2(desk));
    EXPECT_EQ(ui.log.mid(1, 2),
              (QStringList{QStringLiteral("[정상] 원장관리 컴파일중..."),
                           QStringLiteral("[오류] 원장관리 프로그램을 시작할 수 없습니다.(") + vb6
                               + QStringLiteral(") 실행할 프로그램을 찾을 수 없습니다: ") + vb6}));

    // A packer whose interpreter is missing never ran: no "done" line.
    installCompiler(box);
    const QString upx = nativeOf(desk.UpxExePath);
    QFile::remove(upx); // a link to the stand-in
    Sandbox::writeAnsi(upx, QStringLiteral("#!/nowhere/sh\n"));
    QFile(upx).setPermissions(QFile(upx).permissions() | QFileDevice::ExeOwner);
    ui.log.clear();
    ui.answer(false); // would a split path fail the make, no retry
    EXPECT_FALSE(Step1_2(desk));
    EXPECT_TRUE(QFileInfo::exists(nativeOf(exeOf(ledger))));
    EXPECT_EQ(ui.log.mid(1),
              (QStringList{QStringLiteral("[정상] 원장관리 컴파일중..."),
                           QStringLiteral("[오류] 원장관리 프로그램을 시작할 수 없습니다.(C:\\Tools\\upx.exe) "
                                          "프로그램을 시작할 수 없습니다(No such file or directory): ")
                               + upx}));
}

TEST_F(RunCompileFixture, AnExecutablePathAboveItsDriveIsNeverTouched)
{
    installStandInTools(box);
    desk.UpxExePath = QStringLiteral("D:\\upx.exe");
    const int ledger = addProject(QStringLiteral("원장관리"), QStringLiteral("Ledger"));
    writeProject(ledger, {});
    // One ".." above C: would be the folder that holds every drive.
    const QString outside = box.home() + QStringLiteral("/drives/victim.exe");
    Sandbox::writeAnsi(outside, QStringLiteral("not ours"));
    desk.grid.setText(ColExePath, ledger, QStringLiteral("C:\\..\\victim.exe"));
    ui.answer(false);
    EXPECT_FALSE(Step1_2(desk));
    EXPECT_EQ(Sandbox::readBytes(outside), QByteArray("not ours"));
    EXPECT_EQ(ui.log.value(0), QStringLiteral("[경고] 원장관리 이전 실행파일이 존재하지 않습니다.(C:\\..\\victim.exe)"));
}

// 중지 while the compiler runs: the compiler is ended the way a CI engine
// ends a job, not waited for, and the run ends as cancelled without a retry
// question.
TEST_F(RunCompileFixture, StopDuringACompileEndsTheCompilerAndTheRunIsCancelled)
{
    installStandInTools(box, QStringLiteral("C:\\Tools\\upx.exe"));
    box.drive(QStringLiteral("S"));
    desk.UpxExePath = QStringLiteral("C:\\Tools\\upx.exe");
    const int ledger = addProject(QStringLiteral("원장관리"), QStringLiteral("Ledger"));
    writeProject(ledger, standIn(QStringLiteral("MakeMs:120000")));
    desk.steps.step1_2 = [this] { return Step1_2(desk); };
    for (int k = 0; k < 6; ++k)
        desk.chkStep[size_t(k)].checked = k == StepCompile;
    desk.selCount = 1;
    desk.visible = true;
    bool stopped = false;
    ui.onPump = [&] {
        if (!stopped && calls.lines().contains(QStringLiteral("vb6 /make ") + nativeOf(vbpOf(ledger)))) {
            stopped = true;
            desk.requestStop();
        }
    };
    ui.answer(true);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(desk.btnTrans_Click(), Desk::RunResult::Cancelled);
    ui.onPump = nullptr;
    EXPECT_TRUE(stopped);
    EXPECT_LT(clock.elapsed(), 60000) << "the compiler was waited for";
    EXPECT_TRUE(ui.log.contains(QStringLiteral("[오류] 원장관리 실행 취소: 실행 중인 도구를 끝냈습니다.(")
                                + developmentEnvironmentPath() + QLatin1Char(')')))
        << ui.log.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(ui.questions(), QStringList{QStringLiteral("정말 시작할까요?")});
    EXPECT_FALSE(QFile::exists(nativeOf(exeOf(ledger))));
    EXPECT_EQ(calls.lines().filter(QStringLiteral("upx")), QStringList());
}
