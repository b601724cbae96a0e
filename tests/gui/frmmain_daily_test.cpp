// The window as a daily tool: the run in view (progress, stop, status), a dry
// run that leaves the grid as it was, the window's state kept per user, the
// INI list following its folder, the shortcuts, and a window that keeps
// answering while a run waits.
#include "config/projectrow.h"
#include "ftp_fixture.h"
#include "pipeline/desk.h"
#include "pipeline/ftptransfer.h"
#include "pipeline/steps.h"
#include "platform/journal.h"
#include "platform/launcher.h"
#include "sandbox.h"
#include "testinteraction.h"
#include "ui/frmhistory.h"
#include "ui/frmmain.h"
#include "ui/guimain.h"
#include "ui/projectview.h"
#include "ui/runchart.h"

#include <QScreen>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QTableWidget>
#include <QTest>
#include <QThread>
#include <QTranslator>

#include <gtest/gtest.h>

#include <memory>

using namespace rh;
using rh::test::Sandbox;
using rh::test::TestInteraction;

namespace {

const char* kSetup = R"([General]
ProjGrop1=회계;Project1,Project3
ProjGrop2=급여;Project2
RecentProjects=;1;2;3

[Distribute]
Path1=C:\deploy

[Project]
ProjectCount=3
Project1=원장관리
Project2=급여관리
Project3=인사관리

[Project1]
ISResult1=D:\out\ledger_setup_2.exe
[Project2]
ISResult1=D:\out\pay_setup_2.exe
[Project3]
ISResult1=D:\out\hr_setup_2.exe
)";

// Waits on a condition with a generous bound, letting events through.
bool waitFor(const std::function<bool()>& done, int ms = 10000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

struct DailyWindowTest : ::testing::Test {
    Sandbox box;
    TestInteraction ui;
    std::unique_ptr<Desk> desk = std::make_unique<Desk>();
    std::unique_ptr<FrmMain> w;

    void SetUp() override
    {
        setupGuiApplication(*qApp);
        box.writeIni(QStringLiteral("a_setup.ini"), QString::fromUtf8(kSetup));
        QDir().mkpath(box.drive(QStringLiteral("C")) + QStringLiteral("/deploy"));
        open();
    }

    void open()
    {
        desk->now = [] { return QDateTime(QDate(2024, 5, 15), QTime(10, 0)); }; // a Wednesday
        w = std::make_unique<FrmMain>(*desk);
        desk->Form_Load();
        w->show();
        desk->visible = true;
        // Shortcuts go to the active window.
        w->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(w.get(), 5000));
        QApplication::processEvents();
    }

    // Only these step boxes ticked.
    void onlySteps(std::initializer_list<int> boxes)
    {
        for (int i = 0; i < 6; ++i)
            desk->setStep(i, std::find(boxes.begin(), boxes.end(), i) != boxes.end());
    }

    // A step that works row by row as the real ones do, and journals a tool
    // run per row (what a dry run plans).
    std::function<bool()> rowStep(const QString& what, QList<int>* rows = nullptr,
                                  const std::function<void(int)>& during = {})
    {
        return [this, what, rows, during] {
            for (int r = 1; r <= desk->grid.maxRows(); ++r) {
                if (!desk->isTicked(r))
                    continue;
                if (desk->stopBetweenUnits())
                    return false;
                desk->grid.setActiveCell(ColStatus, r);
                desk->grid.setText(ColStatus, r, what + QStringLiteral("..."));
                journal().processStart(QStringLiteral("C:\\Tools\\") + what + QStringLiteral(".exe"), QString());
                if (rows)
                    rows->append(r);
                if (during)
                    during(r);
                desk->AddLog(QStringLiteral("[정상] ") + desk->grid.text(ColProjectName, r) + QLatin1Char(' ') + what);
            }
            return true;
        };
    }

    template <typename T>
    T* find(const QString& name)
    {
        T* x = w->findChild<T*>(name);
        EXPECT_NE(x, nullptr) << name.toStdString();
        return x;
    }
    QProgressBar* runBar() { return find<QProgressBar>(QStringLiteral("pgbRun")); }
    QString logText() { return find<QPlainTextEdit>(QStringLiteral("txtLog"))->toPlainText(); }
};

// The (step, project) groups of the plan a dry run prints.
QList<RunUnit> planGroups(const QString& log)
{
    QList<RunUnit> units;
    const QStringList lines = log.split(QLatin1Char('\n'));
    qsizetype i = lines.indexOf(QStringLiteral("모의실행 계획:"));
    QString step;
    for (++i; i > 0 && i < lines.size() && !lines[i].isEmpty(); ++i) {
        const QString& l = lines[i];
        if (l.startsWith(QLatin1Char('[')))
            step = l.mid(1, l.size() - 2);
        else if (l.startsWith(QStringLiteral("  ")) && !l.startsWith(QStringLiteral("    ")))
            units.append({step, l.trimmed()});
    }
    return units;
}

TEST_F(DailyWindowTest, ADryRunLeavesTheGridAsItWasAndItsProgressCountsThePlan)
{
    onlySteps({StepCompile, StepSetup});
    desk->steps.step1_2 = rowStep(QStringLiteral("컴파일"));
    desk->steps.step2 = [this] {
        const bool ok = rowStep(QStringLiteral("셋업"))();
        // What a real run would write into the grid.
        desk->grid.setText(ColFileVersion, 2, QStringLiteral("《급여관리 버전》"));
        desk->grid.setText(ColStatus, 2, QStringLiteral("패치배포 끝"));
        return ok;
    };
    desk->grid.setText(ColFileVersion, 2, QStringLiteral("1.0.0.7"));
    int maxShown = -1;
    ui.onPump = [&] { maxShown = std::max(maxShown, runBar()->maximum()); };

    QTest::keyClick(w.get(), Qt::Key_D, Qt::ControlModifier); // 모의실행
    ASSERT_TRUE(desk->chkDryRun.checked);
    ui.answer(true); // "정말 시작할까요?"
    QTest::keyClick(w.get(), Qt::Key_F5);

    // The plan the dry run printed has the units the progress counted.
    const QList<RunUnit> plan = planGroups(logText());
    EXPECT_EQ(plan, desk->plannedUnits());
    EXPECT_EQ(plan.size(), 6);
    EXPECT_EQ(maxShown, 6);
    EXPECT_EQ(runBar()->value(), 6);
    EXPECT_EQ(runBar()->maximum(), 6);

    // The grid shows what it showed before; the message says it was a dry run.
    EXPECT_EQ(desk->grid.text(ColFileVersion, 2), QStringLiteral("1.0.0.7"));
    EXPECT_EQ(desk->grid.text(ColStatus, 2), QString());
    EXPECT_EQ(desk->grid.text(ColStatus, 1), QString());
    ASSERT_FALSE(ui.tells().isEmpty());
    EXPECT_TRUE(ui.tells().last().startsWith(QStringLiteral("처리가 완료 되었습니다.\r\n(모의실행")))
        << ui.tells().last().toStdString();

    // A real run's values stay.
    QTest::keyClick(w.get(), Qt::Key_D, Qt::ControlModifier);
    ASSERT_FALSE(desk->chkDryRun.checked);
    ui.answer(true);
    QTest::keyClick(w.get(), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(desk->grid.text(ColStatus, 2), QStringLiteral("패치배포 끝"));
    EXPECT_EQ(ui.tells().last(), QStringLiteral("처리가 완료 되었습니다."));
}

TEST_F(DailyWindowTest, StopEndsTheRunBetweenUnitsAndTheStatusBarNamesTheUnit)
{
    onlySteps({StepCompile, StepSetup});
    QList<int> compiled;
    int setups = 0;
    QString statusDuring, timeDuring;
    bool stopEnabledDuring = false;
    desk->steps.step1_2 = rowStep(QStringLiteral("컴파일"), &compiled, [&](int row) {
        if (row != 1)
            return;
        QApplication::processEvents();
        statusDuring = find<QLabel>(QStringLiteral("lblStatus"))->text();
        timeDuring = find<QLabel>(QStringLiteral("lblRunTime"))->text();
        stopEnabledDuring = find<QPushButton>(QStringLiteral("btnStop"))->isEnabled();
        QTest::keyClick(w.get(), Qt::Key_Escape); // 중지
    });
    desk->steps.step2 = [&] {
        ++setups;
        return true;
    };
    EXPECT_FALSE(find<QPushButton>(QStringLiteral("btnStop"))->isEnabled());
    ui.answer(true);
    QTest::mouseClick(find<QPushButton>(QStringLiteral("btnTrans")), Qt::LeftButton);

    EXPECT_TRUE(stopEnabledDuring);
    EXPECT_EQ(statusDuring, QStringLiteral("컴파일 · 원장관리 · 컴파일..."));
    EXPECT_TRUE(timeDuring.contains(QStringLiteral("처음 실행"))) << timeDuring.toStdString();
    EXPECT_EQ(compiled, QList<int>{1}) << "the unit under way ends, no other starts";
    EXPECT_EQ(setups, 0);
    EXPECT_TRUE(logText().contains(QStringLiteral("중지 요청: 남은 작업 단위를 하지 않고 실행을 멈춥니다.")));
    EXPECT_EQ(desk->lastRunResult(), Desk::RunResult::Cancelled) << "a stop ends the run as a cancel does";
    EXPECT_TRUE(logText().contains(QStringLiteral("\n취소됨 ")));
    EXPECT_FALSE(logText().contains(QStringLiteral("Finish! ")));
    EXPECT_EQ(runBar()->maximum(), 6);
    EXPECT_EQ(runBar()->value(), 3) << "a stopped step counts its units as done";
    EXPECT_FALSE(find<QPushButton>(QStringLiteral("btnStop"))->isEnabled());

    // The next run knows how long the units took and estimates what is left.
    desk->steps.step1_2 = rowStep(QStringLiteral("컴파일"), nullptr, [&](int row) {
        if (row == 1) {
            QApplication::processEvents();
            timeDuring = find<QLabel>(QStringLiteral("lblRunTime"))->text();
        }
    });
    ui.answer(true);
    QTest::mouseClick(find<QPushButton>(QStringLiteral("btnTrans")), Qt::LeftButton);
    EXPECT_TRUE(timeDuring.contains(QStringLiteral("남은 약 "))) << timeDuring.toStdString();
    EXPECT_EQ(runBar()->value(), 6);

    // 중지 during the last unit of a distribution: nothing is left to skip,
    // but "전송후 닫기" no longer closes the window.
    onlySteps({StepDistribute});
    find<QCheckBox>(QStringLiteral("chkEndUnload"))->click();
    ASSERT_TRUE(desk->chkEndUnload.checked);
    desk->steps.step3 = [&] {
        QTest::keyClick(w.get(), Qt::Key_Escape);
        return true;
    };
    ui.answer(true);
    QTest::mouseClick(find<QPushButton>(QStringLiteral("btnTrans")), Qt::LeftButton);
    EXPECT_NE(desk->lastRunResult(), Desk::RunResult::Closed);
    EXPECT_TRUE(w->isVisible());
}

// 중지 during an upload of a real release: asked and answered Yes, the run
// ends cancelled and the window stays on its log although "전송후 닫기" is
// ticked.
TEST_F(DailyWindowTest, StopDuringAnUploadEndsTheRunCancelledAndTheWindowStays)
{
    rh::test::FtpServer server;
    ASSERT_TRUE(server.start()) << server.diagnostics().toStdString();
    box.site() = server.siteConfig(box.site());
    box.apply();
    QDir().mkpath(box.drive(QStringLiteral("D")) + QStringLiteral("/out"));
    QFile setup(box.drive(QStringLiteral("D")) + QStringLiteral("/out/ledger_setup_2.exe"));
    ASSERT_TRUE(setup.open(QIODevice::WriteOnly));
    setup.write(QByteArray(6 << 20, 's'));
    setup.close();
    attachSteps(*desk);
    onlySteps({StepDistribute});
    desk->chkVerUpdate.checked = false;
    desk->setTicked(2, false);
    desk->setTicked(3, false);
    desk->lstDest.clear();
    desk->lstDest.addSelected(QStringLiteral("FTP 다운로드서버"));
    find<QCheckBox>(QStringLiteral("chkEndUnload"))->click();
    ASSERT_TRUE(desk->chkEndUnload.checked);
    bool pressed = false;
    ui.onPump = [&] {
        if (!pressed && ftpConnection(*desk).lastUpload.chunkWrites >= 200) {
            pressed = true;
            QTest::mouseClick(find<QPushButton>(QStringLiteral("btnStop")), Qt::LeftButton);
        }
    };
    ui.answers({true, true}); // start; stop the upload
    QTest::mouseClick(find<QPushButton>(QStringLiteral("btnTrans")), Qt::LeftButton);
    ui.onPump = nullptr;

    ASSERT_TRUE(pressed);
    EXPECT_EQ(ui.questions(), (QStringList{QStringLiteral("정말 시작할까요?"), QStringLiteral("다운로드를 중단할까요?")}));
    EXPECT_EQ(desk->lastRunResult(), Desk::RunResult::Cancelled);
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(desk->closed);
    EXPECT_TRUE(logText().contains(QStringLiteral("\n취소됨 "))) << logText().toStdString();
    EXPECT_FALSE(QFile::exists(server.localPath(QStringLiteral("/public_html/download/ledger_setup_2.exe"))));
}

TEST_F(DailyWindowTest, TheProbeSeesAFreezeAndAToolRunDoesNotFreezeTheWindow)
{
    onlySteps({StepCompile});
    // A tool that runs for a second and a half, waited for as the steps wait.
    const QString tool = box.home() + QStringLiteral("/slowtool.sh");
    QFile f(tool);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\nsleep 1.5\n");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    desk->steps.step1_2 = [&] {
        QString why;
        EXPECT_TRUE(ShellExecuteAndWait(tool, 0, QString(), box.home(), false, false, &why)) << why.toStdString();
        return true;
    };
    ui.answer(true);
    desk->btnTrans_Click();
    EXPECT_LT(desk->probe.longestGapMs(), 1000) << "the window went unanswered during the tool run";
    const QJsonObject report =
        QJsonDocument::fromJson([&] {
            QFile r(desk->lastRunFileBase + QStringLiteral(".json"));
            return r.open(QIODevice::ReadOnly) ? r.readAll() : QByteArray();
        }())
            .object();
    EXPECT_EQ(qint64(report.value(QStringLiteral("longestGapMs")).toDouble()), desk->probe.longestGapMs());

    // A step that blocks is what the probe is there to see.
    desk->steps.step1_2 = [] {
        QThread::msleep(1200);
        return true;
    };
    ui.answer(true);
    desk->btnTrans_Click();
    EXPECT_GE(desk->probe.longestGapMs(), 1200);
}

TEST_F(DailyWindowTest, TheWindowFitsASmallScreenAndComesBackAsItWasLeft)
{
    EXPECT_LE(w->minimumSizeHint().width(), 1024);
    EXPECT_LE(w->minimumSizeHint().height(), 700);
    w->resize(1024, 700);
    QApplication::processEvents();
    EXPECT_EQ(w->size(), QSize(1024, 700));
    // Every control of the right column can be scrolled into view.
    auto* side = find<QScrollArea>(QStringLiteral("sideScroll"));
    for (const char* name : {"btnClose", "btnHistory", "btnStop", "btnTrans", "chkEndUnload"}) {
        auto* b = find<QWidget>(QString::fromLatin1(name));
        side->ensureWidgetVisible(b);
        const QRect r(b->mapTo(w.get(), QPoint(0, 0)), b->size());
        EXPECT_TRUE(w->rect().contains(r)) << name;
    }
    auto* ftp = find<QScrollArea>(QStringLiteral("ftpScroll"));
    auto* rename = find<QWidget>(QStringLiteral("chkFTPAutoRemove"));
    ftp->ensureWidgetVisible(rename);
    EXPECT_TRUE(w->rect().contains(QRect(rename->mapTo(w.get(), QPoint(0, 0)), rename->size())));

    // Size, splitters and a column width are kept when the window closes.
    w->resize(1100, 720);
    auto* mainSplit = find<QSplitter>(QStringLiteral("mainSplitter"));
    mainSplit->setSizes({250, 350});
    QApplication::processEvents();
    const QList<int> sizes = mainSplit->sizes();
    find<ProjectView>(QStringLiteral("spList"))->horizontalHeader()->resizeSection(1, 333);
    w->close();
    w.reset();
    desk = std::make_unique<Desk>();
    open();
    EXPECT_EQ(w->size(), QSize(1100, 720));
    EXPECT_EQ(find<QSplitter>(QStringLiteral("mainSplitter"))->sizes(), sizes);
    EXPECT_EQ(find<ProjectView>(QStringLiteral("spList"))->horizontalHeader()->sectionSize(1), 333);
}

TEST_F(DailyWindowTest, TheIniListFollowsItsFolderAndTheLastChoiceComesBack)
{
    auto* chooser = find<QComboBox>(QStringLiteral("cmbSetups"));
    ASSERT_EQ(chooser->count(), 1);
    box.writeIni(QStringLiteral("b_new.ini"), QString::fromUtf8(kSetup));
    EXPECT_TRUE(waitFor([&] { return chooser->count() == 2; })) << "a new INI shows up without a restart";
    EXPECT_EQ(chooser->currentText(), QStringLiteral("a_setup.ini")) << "the loaded file stays chosen";

    desk->chooseSetup(1);
    EXPECT_EQ(desk->IniPath, box.iniPath(QStringLiteral("b_new.ini")));
    w->close();
    w.reset();
    desk = std::make_unique<Desk>();
    open();
    EXPECT_EQ(find<QComboBox>(QStringLiteral("cmbSetups"))->currentText(), QStringLiteral("b_new.ini"));

    QFile::remove(box.iniPath(QStringLiteral("a_setup.ini")));
    chooser = find<QComboBox>(QStringLiteral("cmbSetups"));
    EXPECT_TRUE(waitFor([&] { return chooser->count() == 1; }));
    EXPECT_EQ(chooser->currentText(), QStringLiteral("b_new.ini"));
}

TEST_F(DailyWindowTest, ShortcutsTriggerTheirActionsAndTheTipsSayThem)
{
    // F5: the start question comes.
    ui.answer(false);
    QTest::keyClick(w.get(), Qt::Key_F5);
    ASSERT_EQ(ui.questions(), QStringList{QStringLiteral("정말 시작할까요?")});

    // Alt+2: the second group replaces the selection.
    QTest::keyClick(w.get(), Qt::Key_2, Qt::AltModifier);
    EXPECT_EQ(desk->selCount, 1);
    EXPECT_TRUE(desk->isTicked(2));

    // Ctrl+O: the INI goes to the desktop's application.
    QString opened;
    desk->openDocument = [&](const QString& path) {
        opened = path;
        return true;
    };
    QTest::keyClick(w.get(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(opened, box.iniPath(QStringLiteral("a_setup.ini")));
    // Nothing to open it with and no editor named: a message names the file.
    desk->openDocument = [](const QString&) { return false; };
    qputenv("VISUAL", "");
    qputenv("EDITOR", "");
    QTest::keyClick(w.get(), Qt::Key_O, Qt::ControlModifier);
    ASSERT_FALSE(ui.tells().isEmpty());
    EXPECT_TRUE(ui.tells().last().contains(box.iniPath(QStringLiteral("a_setup.ini"))));

    // F1: the list of shortcuts.
    QTest::keyClick(w.get(), Qt::Key_F1);
    EXPECT_EQ(ui.messages.last().title, QStringLiteral("도움말"));
    EXPECT_TRUE(ui.messages.last().text.contains(QStringLiteral("Ctrl+H: 실행 기록")));

    // Ctrl+H: the run history.
    QTest::keyClick(w.get(), Qt::Key_H, Qt::ControlModifier);
    EXPECT_NE(w->findChild<FrmHistory*>(), nullptr);

    for (const auto& [name, keys] : {std::pair{"btnTrans", "F5"}, std::pair{"btnStop", "Esc"},
                                      std::pair{"btnHistory", "Ctrl+H"}, std::pair{"chkDryRun", "Ctrl+D"},
                                      std::pair{"cmdOpenINI", "Ctrl+O"}, std::pair{"btnProjGroup_1", "Alt+2"}})
        EXPECT_TRUE(find<QWidget>(QString::fromLatin1(name))->toolTip().contains(QString::fromLatin1(keys))) << name;
}

TEST_F(DailyWindowTest, ASetupIniErrorNamesFileSectionKeyAndValueInTheLog)
{
    box.writeIni(QStringLiteral("b_bad.ini"), QStringLiteral("[General]\nProjGrop1=A;B;C\n[Project]\nProjectCount=1\n"
                                                              "Project1=원장관리\n[Project1]\nISResult1=D:\\a.exe\n"));
    ASSERT_TRUE(waitFor([&] { return desk->setupNames.size() == 2; }));
    desk->chooseSetup(1);
    const QString file = box.iniPath(QStringLiteral("b_bad.ini"));
    EXPECT_TRUE(ui.tells().contains(QStringLiteral("설정파일 내용중 [General] - ProjGrop1의 값이 잘못되었습니다.")));
    EXPECT_TRUE(logText().contains(QStringLiteral("[오류] 설정파일 ") + file + QStringLiteral(": [General] ProjGrop1=A;B;C")));
    EXPECT_TRUE(logText().contains(QStringLiteral("[오류] 설정파일 ") + file
                                   + QStringLiteral(": [Project1] ISResult1=D:\\a.exe (")))
        << logText().toStdString();
}

TEST_F(DailyWindowTest, HistoryFiltersByResultAndAClickOnTheChartOpensThatRun)
{
    // Each run starts a minute later, so each has its own report.
    int minutes = 0;
    desk->now = [&minutes] { return QDateTime(QDate(2024, 5, 15), QTime(10, 0)).addSecs(60 * minutes++); };
    onlySteps({StepCompile});
    desk->steps.step1_2 = rowStep(QStringLiteral("컴파일"));
    ui.answer(true);
    desk->btnTrans_Click(); // finished
    desk->steps.step1_2 = [] { return false; };
    ui.answer(true);
    desk->btnTrans_Click(); // stopped

    FrmHistory history(box.home() + QStringLiteral("/logs"));
    {
        // Opened as it comes, it fits the screen, small ones too.
        FrmHistory fresh(box.home() + QStringLiteral("/logs"));
        fresh.show();
        QApplication::processEvents();
        const QSize room = fresh.screen()->availableGeometry().size();
        EXPECT_LE(fresh.width(), room.width()) << fresh.minimumSizeHint().width();
        EXPECT_LE(fresh.height(), room.height()) << fresh.minimumSizeHint().height();
    }
    history.resize(900, 600);
    history.show();
    QApplication::processEvents();
    ASSERT_EQ(history.runs->rowCount(), 2);
    EXPECT_EQ(history.runs->item(0, 2)->text(), QStringLiteral("중단"));

    history.cmbResult->setCurrentText(QStringLiteral("완료"));
    EXPECT_TRUE(history.runs->isRowHidden(0));
    EXPECT_FALSE(history.runs->isRowHidden(1));
    EXPECT_EQ(history.currentRun(), 1);
    EXPECT_TRUE(history.chart->barRect(0).isEmpty()) << "filtered runs leave the chart";

    history.cmbResult->setCurrentText(QStringLiteral("전체"));
    const QRect bar = history.chart->barRect(0);
    ASSERT_FALSE(bar.isEmpty());
    QTest::mouseClick(history.chart, Qt::LeftButton, {}, bar.center());
    EXPECT_EQ(history.currentRun(), 0);

    // 이어하기 is for the run that did not finish, and hands over its journal.
    QString resumed;
    history.resume = [&](const QString& path) { resumed = path; };
    EXPECT_TRUE(history.btnResume->isEnabled());
    history.btnResume->click();
    rh::JournalFile journal;
    ASSERT_TRUE(rh::readJournalFile(resumed, &journal)) << resumed.toStdString();
    EXPECT_EQ(journal.end.value(QStringLiteral("result")).toString(), QStringLiteral("stopped"));
    history.selectRun(1);
    EXPECT_FALSE(history.btnResume->isEnabled());
    history.selectRun(0);

    QStringList opened;
    history.opener = [&](const QString& path) {
        opened << path;
        return true;
    };
    history.btnOpenReport->click();
    history.btnOpenJournal->click();
    history.btnOpenFolder->click();
    ASSERT_EQ(opened.size(), 3);
    EXPECT_TRUE(opened[0].endsWith(QStringLiteral(".json")));
    EXPECT_TRUE(opened[1].endsWith(QStringLiteral(".journal.txt")));
    EXPECT_EQ(opened[2], box.home() + QStringLiteral("/logs"));
}

TEST(QtKoreanTest, QtsOwnButtonTextsComeFromTheKoreanTranslation)
{
    const QString english = QCoreApplication::translate("QPlatformTheme", "&Yes");
    ASSERT_TRUE(installQtTranslation(*qApp)) << "qtbase_ko from qt6-translations-l10n is missing";
    const QString korean = QCoreApplication::translate("QPlatformTheme", "&Yes");
    EXPECT_NE(korean, english);
    EXPECT_TRUE(korean.contains(QStringLiteral("예"))) << korean.toStdString();
    for (QTranslator* t : qApp->findChildren<QTranslator*>())
        QCoreApplication::removeTranslator(t);
}

} // namespace
