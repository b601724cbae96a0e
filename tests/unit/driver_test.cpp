// The release driver: its checks in order, the fixed step order with the
// signing columns, the run log and how a run ends.
#include "config/projectrow.h"
#include "pipeline/desk.h"
#include "platform/errors.h"
#include "platform/profile.h"
#include "sandbox.h"
#include "testinteraction.h"

#include <QDir>

#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace rh;
using rh::test::Sandbox;
using rh::test::TestInteraction;

namespace {

struct DriverFixture : ::testing::Test {
    Sandbox box;
    TestInteraction ui;
    Desk desk;
    QStringList calls;
    QDateTime clock = QDateTime(QDate(2026, 12, 9), QTime(10, 0, 0));

    void SetUp() override
    {
        QDir().mkpath(box.drive(QStringLiteral("C")) + QStringLiteral("/out"));
        box.writeIni(QStringLiteral("a.ini"),
                     QStringLiteral("[Distribute]\r\nPath1=C:\\out\r\n[Project]\r\nProjectCount=2\r\n"
                                    "Project1=P1\r\nProject2=P2\r\n[Project1]\r\nISResult1=D:\\o\\p1_setup_2.exe\r\n"
                                    "최종버전업=2026-12-09 10:00\r\n"
                                    "[Project2]\r\nISResult1=D:\\o\\p2_setup_2.exe\r\n"));
        desk.now = [this] { return clock; };
        desk.Form_Load(); // a Wednesday: immediate release, no message
        ui.messages.clear();
        desk.visible = true;
        desk.setTicked(1, true);
    }

    // The log without what every run ends with (verification, step timings).
    QStringList runLog() const
    {
        for (qsizetype i = 1; i < ui.log.size(); ++i)
            if (ui.log[i].startsWith(QStringLiteral("단계별 소요시간: "))
                || ui.log[i].startsWith(QStringLiteral("검증 결과: ")))
                return ui.log.mid(0, i - 1);
        return ui.log;
    }

    void attachRecordingSteps(const QString& failing = QString())
    {
        auto rec = [this, failing](const QString& name) {
            calls << name;
            EXPECT_FALSE(desk.btnTrans.enabled) << "controls stay disabled during a run";
            EXPECT_TRUE(ui.busy);
            return name != failing;
        };
        desk.steps.step1_1 = [=] { return rec(QStringLiteral("Step1_1")); };
        desk.steps.step1_2 = [=] { return rec(QStringLiteral("Step1_2")); };
        desk.steps.step2 = [=] { return rec(QStringLiteral("STEP2")); };
        desk.steps.step3 = [=] { return rec(QStringLiteral("Step3")); };
        desk.steps.codeSigning = [=](int a, int b) {
            return rec(QStringLiteral("CodeSigning(%1,%2)").arg(a).arg(b));
        };
    }
};

} // namespace

TEST_F(DriverFixture, NoToTheQuestionChangesNothing)
{
    attachRecordingSteps();
    ui.answer(false);
    EXPECT_EQ(desk.btnTrans_Click(), Desk::RunResult::Refused);
    EXPECT_TRUE(calls.isEmpty());
    EXPECT_TRUE(desk.txtLog.startsWith(QStringLiteral("[Setup.ini")));
    EXPECT_EQ(ui.messages.size(), 1);
    EXPECT_FALSE(ui.messages[0].defaultNo);
}

TEST_F(DriverFixture, ChecksRunInOrderWithTheirMessages)
{
    attachRecordingSteps();
    desk.setTicked(1, false);
    ui.answer(true);
    desk.btnTrans_Click();
    EXPECT_EQ(ui.tells(), QStringList{QStringLiteral("선택된 프로젝트가 없습니다.")});

    desk.setTicked(1, true);
    desk.lstDest.selected[0] = false;
    ui.messages.clear();
    ui.answer(true);
    desk.btnTrans_Click();
    ASSERT_EQ(ui.tells().size(), 1);
    EXPECT_EQ(ui.messages.last().text, QStringLiteral("먼저 전송 목적지를 선택하세요."));
    EXPECT_EQ(ui.messages.last().title, QStringLiteral("전송목적지 누락"));

    // Distribution not ticked: no destination needed, but selected ones must exist.
    desk.setStep(StepDistribute, false);
    desk.lstDest.addSelected(QStringLiteral("\\\\nohost\\share"));
    desk.lstDest.addSelected(QStringLiteral("FTP 서버"));
    desk.lstDest.addSelected(QStringLiteral("C:\\missing"));
    ui.messages.clear();
    ui.answer(true);
    EXPECT_EQ(desk.btnTrans_Click(), Desk::RunResult::Refused);
    EXPECT_EQ(ui.tells(), QStringList{QStringLiteral("전송목적지 경로가 존재하지 않습니다.\r\nC:\\missing")});
    EXPECT_TRUE(calls.isEmpty());
}

TEST_F(DriverFixture, MissingDriveSStopsEvenACompileOnlyRun)
{
    attachRecordingSteps();
    for (int i = 0; i < 6; ++i)
        desk.setStep(i, i == StepCompile);
    QDir(box.drive(QStringLiteral("S"))).removeRecursively();
    ui.answer(true);
    EXPECT_EQ(desk.btnTrans_Click(), Desk::RunResult::Refused);
    EXPECT_EQ(ui.tells(), QStringList{QStringLiteral("S:드라이버를 찾을 수 없습니다.")});
    EXPECT_TRUE(calls.isEmpty());
}

TEST_F(DriverFixture, VersionUpDayAsksWhenATickedRowWasNotVersionedUpToday)
{
    attachRecordingSteps();
    desk.cmdVerUp.tag = QStringLiteral("Y");
    EXPECT_TRUE(desk.IsVersionUpDoneToday()); // row 1 carries today's date
    desk.setTicked(2, true);
    EXPECT_FALSE(desk.IsVersionUpDoneToday());
    ui.answers({true, false});
    EXPECT_EQ(desk.btnTrans_Click(), Desk::RunResult::Refused);
    ASSERT_EQ(ui.messages.size(), 2);
    EXPECT_EQ(ui.messages[1].text, QStringLiteral("버전업을 하지 않은 프로젝트가 있습니다. 그래도 시작하시겠습니까?"));
    EXPECT_EQ(ui.messages[1].title, QStringLiteral("버전업 확인"));
    EXPECT_TRUE(ui.messages[1].defaultNo);
    EXPECT_EQ(ui.messages[1].icon, MsgIcon::Question);
    EXPECT_TRUE(calls.isEmpty());

    // Not the version-up day: never asked.
    desk.cmdVerUp.tag.clear();
    ui.messages.clear();
    ui.answer(true);
    EXPECT_EQ(desk.btnTrans_Click(), Desk::RunResult::Finished);
    EXPECT_EQ(ui.questions().size(), 1);
}

TEST_F(DriverFixture, StepsRunInTheFixedOrderWithTheirColumns)
{
    attachRecordingSteps();
    ui.answer(true);
    EXPECT_EQ(desk.cmdAllStep_Click(), Desk::RunResult::Finished);
    EXPECT_EQ(calls, (QStringList{QStringLiteral("Step1_1"), QStringLiteral("Step1_2"), QStringLiteral("CodeSigning(8,0)"),
                                  QStringLiteral("STEP2"), QStringLiteral("CodeSigning(12,17)"), QStringLiteral("Step3")}));
    calls.clear();
    desk.chkPatchOnly.checked = true;
    ui.answer(true);
    desk.btnTrans_Click();
    EXPECT_EQ(calls[2], QStringLiteral("CodeSigning(8,0)"));
    EXPECT_EQ(calls[4], QStringLiteral("CodeSigning(17,0)"));
}

TEST_F(DriverFixture, AFinishedRunLogsStartFinishAndElapsedTime)
{
    attachRecordingSteps();
    desk.steps.step1_2 = [this] {
        desk.AddLog(QStringLiteral("[정상] P1 compiled"));
        clock = clock.addSecs(3725);
        return true;
    };
    ui.answer(true);
    EXPECT_EQ(desk.btnTrans_Click(), Desk::RunResult::Finished);
    EXPECT_EQ(runLog(), (QStringList{QStringLiteral("Start...10:00:00"), QStringLiteral("[정상] P1 compiled"),
                                     QStringLiteral("Finish! 11:02:05"), QStringLiteral("경과시간: 01:02:05")}));
    // Then each step that ran, with its share of the run.
    const QStringList record = ui.log.mid(runLog().size());
    ASSERT_GE(record.filter(QStringLiteral("단계별 소요시간: 전체 ")).size(), 1);
    EXPECT_TRUE(record.filter(QRegularExpression(QStringLiteral("^  컴파일: \\d+\\.\\d\\d초 \\(\\d+\\.\\d%\\)$"))).size() == 1)
        << record.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(desk.txtLog, ui.log.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
    EXPECT_EQ(ui.tells(), QStringList{QStringLiteral("처리가 완료 되었습니다.")});
    EXPECT_TRUE(desk.btnTrans.enabled);
    EXPECT_TRUE(desk.stepFrameEnabled);
    EXPECT_EQ(ui.busyChanges, (QList<bool>{true, false}));
}

TEST_F(DriverFixture, ARunAcrossMidnightShowsTheTrueElapsedTime)
{
    clock = QDateTime(QDate(2026, 12, 9), QTime(23, 59, 50));
    desk.steps.step1_2 = [this] {
        clock = clock.addSecs(25);
        return true;
    };
    ui.answer(true);
    desk.btnTrans_Click();
    EXPECT_EQ(runLog().last(), QStringLiteral("경과시간: 00:00:25"));
}

TEST_F(DriverFixture, AFailingStepStopsTheRunWithoutFinishLines)
{
    attachRecordingSteps(QStringLiteral("Step1_2"));
    ui.answer(true);
    EXPECT_EQ(desk.btnTrans_Click(), Desk::RunResult::Stopped);
    EXPECT_EQ(calls, QStringList{QStringLiteral("Step1_2")});
    EXPECT_EQ(runLog().size(), 1);
    EXPECT_TRUE(ui.log[0].startsWith(QStringLiteral("Start...")));
    EXPECT_TRUE(ui.tells().isEmpty());
    EXPECT_TRUE(desk.btnTrans.enabled);
    EXPECT_TRUE(desk.destFrameEnabled);
}

TEST_F(DriverFixture, MessagesOfARunAreLoggedAndCountedAtTheEnd)
{
    desk.steps.step1_2 = [this] {
        tell(QStringLiteral("Error copying File\r\n권한이 없습니다(C:\\out\\a.exe)"));
        desk.AddLog(QStringLiteral("[오류] P1 VBP파일이 존재하지 않습니다.(D:\\a.vbp)"));
        return true;
    };
    desk.setStep(StepCompile, true);
    desk.setStep(StepDistribute, false);
    ui.answer(true);
    EXPECT_EQ(desk.btnTrans_Click(), Desk::RunResult::Finished);
    ASSERT_GT(ui.log.size(), 5) << ui.log.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(ui.log[1], QStringLiteral("[오류] Error copying File / 권한이 없습니다(C:\\out\\a.exe)"));
    EXPECT_TRUE(ui.log[3].startsWith(QStringLiteral("Finish! ")));
    // After the run's timings and report, the count ends the log.
    EXPECT_EQ(ui.log.last(), QStringLiteral("오류 2건: P1"));
    EXPECT_EQ(ui.tells().last(), QStringLiteral("처리가 완료 되었습니다.\r\n오류 2건: P1"));
    EXPECT_EQ(desk.runErrorCount(), 2);

    // A stopped run ends with the count as well; a clean one has none.
    desk.steps.step1_2 = [] {
        tell(QStringLiteral("서버 접속 실패!"));
        return false;
    };
    ui.answer(true);
    EXPECT_EQ(desk.btnTrans_Click(), Desk::RunResult::Stopped);
    EXPECT_EQ(ui.log.last(), QStringLiteral("오류 1건"));
    desk.steps.step1_2 = [] { return true; };
    ui.answer(true);
    EXPECT_EQ(desk.btnTrans_Click(), Desk::RunResult::Finished);
    EXPECT_EQ(desk.runErrorCount(), 0);
    EXPECT_EQ(ui.tells().last(), QStringLiteral("처리가 완료 되었습니다."));
}

TEST_F(DriverFixture, CloseAfterTransferOnlyAfterADistribution)
{
    attachRecordingSteps();
    desk.chkEndUnload.checked = true;
    desk.setStep(StepDistribute, false);
    ui.answer(true);
    EXPECT_EQ(desk.btnTrans_Click(), Desk::RunResult::Finished);
    EXPECT_TRUE(runLog().last().startsWith(QStringLiteral("경과시간: ")));
    EXPECT_TRUE(ui.tells().isEmpty());
    EXPECT_FALSE(desk.closed);

    desk.setStep(StepDistribute, true);
    ui.log.clear();
    ui.answer(true);
    EXPECT_EQ(desk.btnTrans_Click(), Desk::RunResult::Closed);
    EXPECT_TRUE(desk.closed);
    EXPECT_EQ(runLog().size(), 1); // "Start..." only
    EXPECT_EQ(ProfileFile::load(box.iniPath(QStringLiteral("a.ini")))
                  .getText(QStringLiteral("General"), QStringLiteral("RecentProjects"), {}, 200),
              QStringLiteral(";1"));
}

TEST_F(DriverFixture, UnattachedStepsAreSkippedSilently)
{
    ui.answer(true);
    EXPECT_EQ(desk.cmdAllStep_Click(), Desk::RunResult::Finished);
    ASSERT_EQ(runLog().size(), 3);
    EXPECT_TRUE(ui.log[1].startsWith(QStringLiteral("Finish! ")));
}

TEST_F(DriverFixture, AStepThatThrowsStopsTheChain)
{
    attachRecordingSteps();
    desk.steps.step1_2 = []() -> bool { throw RhError(err::PathNotFound, QStringLiteral("Path not found")); };
    ui.answer(true);
    EXPECT_EQ(desk.cmdAllStep_Click(), Desk::RunResult::Stopped);
    EXPECT_EQ(calls, QStringList{QStringLiteral("Step1_1")}) << "no step after the failed one";
    EXPECT_EQ(ui.tells(), QStringList{QStringLiteral(
                              "Error 76 (Path not found) in procedure btnTrans_Click of Form FrmMain")});
    EXPECT_FALSE(ui.log.last().startsWith(QStringLiteral("경과시간")));
}
