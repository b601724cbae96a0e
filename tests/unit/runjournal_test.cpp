// The run's journal file: written as the run goes, closed with the run's
// result, and a run without that end reported at the next start.
#include "app/runhistory.h"
#include "pipeline/desk.h"
#include "site/apphome.h"
#include "platform/journal.h"
#include "sandbox.h"
#include "testinteraction.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace rh;
using rh::test::Sandbox;
using rh::test::TestInteraction;

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct RunJournalFixture : ::testing::Test {
    Sandbox box;
    TestInteraction ui;
    Desk desk;

    void SetUp() override
    {
        QDir().mkpath(box.drive(QStringLiteral("C")) + QStringLiteral("/out"));
        box.writeIni(QStringLiteral("a.ini"),
                     QStringLiteral("[Distribute]\r\nPath1=C:\\out\r\n[Project]\r\nProjectCount=2\r\n"
                                    "Project1=P1\r\nProject2=P2\r\n[Project1]\r\nISResult1=D:\\o\\p1_setup_2.exe\r\n"
                                    "[Project2]\r\nISResult1=D:\\o\\p2_setup_2.exe\r\n"));
        desk.now = [] { return QDateTime(QDate(2026, 12, 9), QTime(10, 0, 0)); };
        desk.Form_Load();
        desk.visible = true;
        desk.setTicked(2, true);
        desk.setStep(StepDistribute, true);
    }

    QString logs() const { return outputFolder() + QStringLiteral("/logs"); }
};

} // namespace

// Each way a run can end leaves its line; the entries are in the file while
// the step still runs, and the window's run keeps its own log.
TEST_F(RunJournalFixture, EveryEndingLeavesItsResultAndTheEntriesAreWrittenAsTheRunGoes)
{
    struct Case {
        const char* name;
        std::function<bool(Desk&)> step;
        Desk::RunResult result;
        const char* journalResult;
    };
    const QString target = box.home() + QStringLiteral("/made.txt");
    const QList<Case> cases{
        {"finished", [](Desk&) { return true; }, Desk::RunResult::Finished, "finished"},
        {"errors", [](Desk& d) { d.AddLog(QStringLiteral("[오류] P2 무엇인가 실패")); return true; },
         Desk::RunResult::Finished, "finished-with-errors"},
        {"stopped", [](Desk&) { return false; }, Desk::RunResult::Stopped, "stopped"},
        {"cancelled", [](Desk& d) { d.runCancelled = true; return true; }, Desk::RunResult::Cancelled, "cancelled"},
        {"ftp down", [](Desk& d) { d.EndProgram(); return false; }, Desk::RunResult::FtpFailed,
         "ftp-connection-failure"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        desk.closed = desk.ended = false;
        desk.setTicked(1, false);
        desk.setTicked(2, true);
        QByteArray seenDuringStep;
        desk.steps.step3 = [&] {
            journal().fileWrite(target, "x");
            seenDuringStep = readAll(journal().filePath());
            desk.setTicked(1, true); // the selection at the end is what gets saved
            return c.step(desk);
        };
        ui.answer(true);
        EXPECT_EQ(desk.btnTrans_Click(), c.result);
        const QString base = desk.lastRunFileBase;
        EXPECT_TRUE(seenDuringStep.contains(target.toUtf8())) << seenDuringStep.constData();
        JournalFile jf;
        ASSERT_TRUE(readJournalFile(base + QStringLiteral(".journal.jsonl"), &jf));
        EXPECT_EQ(jf.end.value(QStringLiteral("result")).toString(), QLatin1String(c.journalResult));
        ASSERT_EQ(jf.entries.size(), 1);
        EXPECT_EQ(jf.entries[0].project, QString());
        EXPECT_EQ(jf.run.value(QStringLiteral("selection")).toArray().size(), 1);
        // The window's own log of the run, line for line.
        EXPECT_TRUE(readAll(base + QStringLiteral(".log")).startsWith("Start..."));
        EXPECT_TRUE(QString::fromUtf8(readAll(base + QStringLiteral(".log"))).contains(QStringLiteral("실행 보고서: ")));
        if (c.result == Desk::RunResult::FtpFailed) { // saved before the program goes
            EXPECT_TRUE(Sandbox::readBytes(box.iniPath(QStringLiteral("a.ini"))).contains("RecentProjects=;1;2"));
        }
        QFile::remove(base + QStringLiteral(".journal.jsonl"));
    }
}

// A run killed mid-way (its journal has no end) is told at the next start
// with what it did, gets its report from the journal, shows in the history
// as such, and is told once.
TEST_F(RunJournalFixture, RunWithoutAnEndIsReportedOnceAtTheNextStart)
{
    const QString killed = logs() + QStringLiteral("/run_20261208_090000");
    desk.steps.step3 = [&] {
        journal().fileCopy(QStringLiteral("/tmp/p2.exe"), QStringLiteral("/srv/out/p2_2.exe"), 42);
        // What kill -9 leaves: the file as it is now.
        QFile::copy(journal().filePath(), killed + QStringLiteral(".journal.jsonl"));
        return true;
    };
    ui.answer(true);
    ASSERT_EQ(desk.btnTrans_Click(), Desk::RunResult::Finished);

    Desk next;
    next.now = desk.now;
    next.Form_Load();
    EXPECT_TRUE(next.txtLog.contains(QStringLiteral("(run_20261208_090000)이 끝나지 않았습니다. 기록된 작업 1건:")))
        << next.txtLog.toStdString();
    EXPECT_TRUE(next.txtLog.contains(QStringLiteral("/srv/out/p2_2.exe")));
    const QJsonObject report = QJsonDocument::fromJson(readAll(killed + QStringLiteral(".json"))).object();
    EXPECT_EQ(report.value(QStringLiteral("result")).toString(), QStringLiteral("abnormal"));
    EXPECT_EQ(report.value(QStringLiteral("journal")).toArray().size(), 1);
    const QList<RunHistoryEntry> history = loadRunHistory(logs());
    ASSERT_EQ(history.size(), 2);
    EXPECT_EQ(history[0].result, QStringLiteral("완료")) << desk.txtLog.toStdString();
    EXPECT_EQ(history[1].result, QStringLiteral("비정상 종료"));
    EXPECT_EQ(next.reportAbandonedRuns(), 0);
}
