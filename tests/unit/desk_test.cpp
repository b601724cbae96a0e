// The main window's rules on the desk: start-up by date, presets, selection
// tools, the setup chooser and closing.
#include "config/projectrow.h"
#include "pipeline/desk.h"
#include "site/apphome.h"
#include "platform/usersettings.h"
#include "sandbox.h"
#include "testinteraction.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>

using namespace rh;
using rh::test::Sandbox;
using rh::test::TestInteraction;

namespace {

QString fiveProjects(const QString& general = QString())
{
    QString t = QStringLiteral("[General]\r\nProjGrop1=AC;Project1,Project3\r\nProjGrop2=SP;Project1, Project3\r\n"
                               "ProjGrop3=EMPTY;\r\n")
        + general
        + QStringLiteral("[Distribute]\r\nPath1=FTP 서버\r\n[Distribute_Beta]\r\nPath1=C:\\beta\r\nPath2=C:\\beta2\r\n"
                         "[Project]\r\nProjectCount=5\r\n");
    for (int i = 1; i <= 5; ++i)
        t += QStringLiteral("Project%1=P%1\r\n").arg(i);
    for (int i = 1; i <= 5; ++i)
        t += QStringLiteral("[Project%1]\r\nISResult1=D:\\o\\p%1_setup_2.exe\r\n").arg(i);
    return t;
}

struct DeskFixture : ::testing::Test {
    Sandbox box;
    TestInteraction ui;
    Desk desk;

    void start(const QDate& today, const QString& ini = fiveProjects())
    {
        box.writeIni(QStringLiteral("a.ini"), ini);
        desk.now = [today] { return QDateTime(today, QTime(9, 30)); };
        desk.Form_Load();
    }
    QList<int> ticked() const
    {
        QList<int> out;
        for (int r = 1; r <= desk.grid.maxRows(); ++r)
            if (desk.isTicked(r))
                out << r;
        return out;
    }
};

const QDate kWednesday(2026, 12, 9);

} // namespace

TEST_F(DeskFixture, VersionUpDayIsTheLastTuesdayBeforeTheMonthsLastDay)
{
    // December 2025 ends on a Wednesday: Tuesday the 30th is the day.
    EXPECT_TRUE(Desk::isVersionUpDay(QDate(2025, 12, 30)));
    // September 2025 ends on a Tuesday: that Tuesday is not, the one before was.
    EXPECT_FALSE(Desk::isVersionUpDay(QDate(2025, 9, 30)));
    EXPECT_TRUE(Desk::isVersionUpDay(QDate(2025, 9, 23)));
    EXPECT_FALSE(Desk::isVersionUpDay(QDate(2025, 12, 23)));
    EXPECT_FALSE(Desk::isVersionUpDay(QDate(2025, 12, 29))); // a Monday

    start(QDate(2025, 12, 30));
    EXPECT_TRUE(desk.versionUpDay);
    EXPECT_EQ(desk.cmdVerUp.tag, QStringLiteral("Y"));
    EXPECT_FALSE(desk.cmdVerUp.defaultColor);
    EXPECT_EQ(desk.cmdVerUp.back, colors::VersionUpDay);
    ASSERT_FALSE(ui.tells().isEmpty());
    EXPECT_EQ(ui.tells().first(), QStringLiteral("오늘은 [버전업] 하는날 입니다."));
}

TEST_F(DeskFixture, TuesdayOnTheMonthsLastDayShowsNoMessage)
{
    start(QDate(2025, 9, 30));
    EXPECT_FALSE(desk.versionUpDay);
    EXPECT_TRUE(desk.cmdVerUp.tag.isEmpty());
    EXPECT_TRUE(ui.tells().isEmpty());
    EXPECT_EQ(desk.optWeek, 1); // 화요배포
    EXPECT_FALSE(desk.chkTestVer.checked);
    EXPECT_TRUE(desk.chkWriteVer.checked);
    EXPECT_FALSE(desk.chkFTPAutoRemove.checked);
}

TEST_F(DeskFixture, MondayPresetsTheFridayTestRelease)
{
    start(QDate(2026, 12, 7));
    EXPECT_EQ(desk.optWeek, 0);
    EXPECT_EQ(ui.tells(), QStringList{QStringLiteral("금요버전(테스트버전)이 선택되었습니다.")});
    EXPECT_TRUE(desk.chkTestVer.checked);
    EXPECT_FALSE(desk.chkWriteVer.checked);
    EXPECT_FALSE(desk.chkVerUpdate.checked);
    EXPECT_EQ(desk.lstDest.items, (QStringList{QStringLiteral("C:\\beta"), QStringLiteral("C:\\beta2")}));
    EXPECT_EQ(desk.lstDest.selectedItems().size(), 2);
    // Not visible yet: no run was started.
    EXPECT_TRUE(ui.questions().isEmpty());
}

TEST_F(DeskFixture, WednesdayPresetsTheImmediateRelease)
{
    start(kWednesday);
    EXPECT_EQ(desk.optWeek, 2); // 즉시배포
    EXPECT_TRUE(desk.chkFTPAutoRemove.checked);
    EXPECT_TRUE(ui.messages.isEmpty());
}

TEST_F(DeskFixture, CloseAfterTransferSettingIsStoredOnlyWhenVisible)
{
    SaveSetting(appTitle(), QStringLiteral("Config"), QStringLiteral("전송완료후닫기"), QStringLiteral("1"));
    start(kWednesday);
    EXPECT_TRUE(desk.chkEndUnload.checked);
    desk.setEndUnload(false); // still loading: nothing stored
    EXPECT_EQ(GetSetting(appTitle(), QStringLiteral("Config"), QStringLiteral("전송완료후닫기")), QStringLiteral("1"));
    desk.visible = true;
    desk.setEndUnload(false);
    EXPECT_EQ(GetSetting(appTitle(), QStringLiteral("Config"), QStringLiteral("전송완료후닫기")), QStringLiteral("0"));
    const QFileInfo info(userSettingsFile(appTitle()));
    EXPECT_EQ(info.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther), 0);
}

TEST_F(DeskFixture, CommandLineSelectsAnIniInsideTheInisFolderOnly)
{
    box.writeIni(QStringLiteral("b.ini"), fiveProjects());
    desk.commandLine = {programFolder() + QStringLiteral("/INIS/b.ini")};
    start(kWednesday);
    EXPECT_EQ(desk.setupChooserText(), QStringLiteral("b.ini"));
    EXPECT_TRUE(ui.tells().isEmpty());

    Desk other;
    other.now = desk.now;
    other.commandLine = {programFolder() + QStringLiteral("/inis/missing.ini")};
    other.Form_Load();
    EXPECT_EQ(other.setupChooserText(), QStringLiteral("a.ini"));
    EXPECT_TRUE(ui.tells().isEmpty());

    Desk outside;
    outside.now = desk.now;
    outside.commandLine = {QStringLiteral("/tmp/elsewhere/a.ini")};
    outside.Form_Load();
    EXPECT_EQ(ui.tells(), QStringList{programFolder() + QStringLiteral("/inis폴더안의 ini파일만 인식이 가능합니다.")});
    EXPECT_EQ(outside.setupChooserText(), QStringLiteral("a.ini"));
    EXPECT_FALSE(outside.IniPath.isEmpty());
}

TEST_F(DeskFixture, ChoosingAModeWhileVisibleAppliesPresetsThenAsksToStart)
{
    start(QDate(2026, 12, 8)); // Tuesday
    desk.visible = true;
    desk.chkPatchOnly.checked = true;
    desk.setStep(StepSetup, false);
    ui.answer(false);
    desk.optWeekClick(2);
    EXPECT_TRUE(desk.chkFTPAutoRemove.checked);
    EXPECT_FALSE(desk.chkPatchOnly.checked);
    EXPECT_TRUE(desk.chkStep[StepSetup].checked);
    EXPECT_EQ(ui.questions(), QStringList{QStringLiteral("정말 시작할까요?")});
}

TEST_F(DeskFixture, TestVersionWithoutBetaDestinationsFallsBackToTheFileServer)
{
    start(kWednesday, QStringLiteral("[Distribute]\r\nPath1=C:\\out\r\n[Project]\r\nProject1=x\r\n"
                                     "[Project1]\r\nISResult1=x_setup_2.exe\r\n"));
    EXPECT_EQ(desk.lstDest.items, QStringList{QStringLiteral("C:\\out")});
    desk.setTestVersion(true);
    EXPECT_EQ(desk.lstDest.items, QStringList{QStringLiteral("\\\\fileserver\\프로그램셋업-전체\\(금요일버전)")});
    EXPECT_EQ(desk.lstDest.selectedItems().size(), 1);
    desk.setTestVersion(false);
    EXPECT_EQ(desk.lstDest.items, QStringList{QStringLiteral("C:\\out")});
}

TEST_F(DeskFixture, ReloadingDuringATestReleaseKeepsTheTestDestinations)
{
    box.writeIni(QStringLiteral("b.ini"), fiveProjects());
    start(kWednesday);
    desk.setTestVersion(true);
    const QStringList beta{QStringLiteral("C:\\beta"), QStringLiteral("C:\\beta2")};
    EXPECT_EQ(desk.lstDest.items, beta);
    desk.chooseSetup(int(desk.setupNames.indexOf(QStringLiteral("b.ini"))));
    EXPECT_EQ(desk.lstDest.items, beta) << "another setup INI";
    desk.LoadConfig();
    EXPECT_EQ(desk.lstDest.selectedItems(), beta) << "a reload";
}

TEST_F(DeskFixture, SetupChooserListsInisInTheWindowsListingOrder)
{
    for (const char* name : {"B.ini", "_c.ini", "d.ini"})
        box.writeIni(QLatin1String(name), fiveProjects());
    start(kWednesday);
    EXPECT_EQ(desk.setupNames, (QStringList{QStringLiteral("a.ini"), QStringLiteral("B.ini"), QStringLiteral("d.ini"),
                                            QStringLiteral("_c.ini")}));
}

TEST_F(DeskFixture, AllButtonFollowsTheStepBoxes)
{
    start(kWednesday);
    EXPECT_TRUE(desk.cmdAllStep.enabled); // RUN is not ticked at design time
    EXPECT_EQ(desk.cmdAllStep.back, colors::AllStepAvailable);
    desk.setStep(StepRun, true);
    EXPECT_FALSE(desk.cmdAllStep.enabled);
    EXPECT_TRUE(desk.cmdAllStep.defaultColor);
    desk.setStep(StepCompile, false);
    EXPECT_TRUE(desk.cmdAllStep.enabled);
    EXPECT_FALSE(desk.cmdAllStep.defaultColor);
}

TEST_F(DeskFixture, GroupButtonsReplaceOrAddToTheSelection)
{
    start(kWednesday);
    desk.setTicked(2, true);
    desk.setTicked(4, true);
    desk.groupMouseDown(0, false, false, false);
    desk.groupClick(0);
    desk.groupMouseUp(0);
    EXPECT_EQ(ticked(), (QList<int>{1, 3}));
    EXPECT_EQ(desk.selCount, 2);
    EXPECT_EQ(desk.grid.backColor(5, 2), colors::White);
    EXPECT_EQ(desk.grid.backColor(5, 3), colors::TickedRow);

    desk.chkAllClick(false);
    desk.setTicked(2, true);
    desk.setTicked(4, true);
    desk.groupMouseDown(0, true, false, false); // Ctrl alone
    desk.groupClick(0);
    desk.groupMouseUp(0);
    EXPECT_EQ(ticked(), (QList<int>{1, 2, 3, 4}));
    EXPECT_EQ(desk.selCount, 4);
    EXPECT_FALSE(desk.groupAdd);

    // Ctrl+Shift does not add.
    desk.groupMouseDown(0, true, true, false);
    desk.groupClick(0);
    EXPECT_EQ(ticked(), (QList<int>{1, 3}));
}

TEST_F(DeskFixture, GroupItemsAreNotTrimmedAndEmptyGroupsSaySo)
{
    start(kWednesday);
    desk.groupClick(1); // "Project1, Project3"
    EXPECT_EQ(ticked(), QList<int>{1});
    desk.setTicked(5, true);
    desk.groupClick(2); // "EMPTY;"
    EXPECT_EQ(ui.tells().last(), QStringLiteral("그룹선택 설정값이 비어있습니다."));
    EXPECT_EQ(ticked(), (QList<int>{1, 5}));
}

TEST_F(DeskFixture, RowToggleToolsKeepTheCounterExact)
{
    start(kWednesday);
    desk.chkAllClick(true);
    EXPECT_EQ(desk.selCount, 5);
    desk.setTicked(3, false);
    desk.chkAllClick(true); // only row 3 differs
    EXPECT_EQ(desk.selCount, 5);
    desk.blockSelected(4, 2);
    EXPECT_EQ(ticked(), (QList<int>{1, 5}));
    EXPECT_EQ(desk.selCount, 2);

    desk.gridDoubleClick(ColProjectName, 2);
    EXPECT_TRUE(desk.isTicked(2));
    desk.gridDoubleClick(ColSelected, 2); // the tick column handles its own clicks
    EXPECT_TRUE(desk.isTicked(2));
    desk.gridDoubleClick(ColProjectName, 0); // the header row
    EXPECT_EQ(desk.selCount, 3);

    desk.grid.setActiveCell(ColStatus, 4);
    desk.gridKeyPress(32);
    EXPECT_TRUE(desk.isTicked(4));
    desk.gridKeyPress(13);
    EXPECT_FALSE(desk.isTicked(4));
    desk.gridKeyPress(65);
    EXPECT_FALSE(desk.isTicked(4));
    desk.grid.setActiveCell(ColSelected, 4);
    desk.gridKeyPress(32);
    EXPECT_FALSE(desk.isTicked(4));
    EXPECT_EQ(desk.selCount, int(ticked().size()));
}

TEST_F(DeskFixture, ChangingTheSetupSavesIntoTheFileBeingLeft)
{
    box.writeIni(QStringLiteral("b.ini"), QStringLiteral("[General]\r\nRecentProjects=;1\r\n[Project]\r\nProject1=B1\r\n"
                                                         "[Project1]\r\nISResult1=b_setup_2.exe\r\n"));
    start(kWednesday);
    desk.visible = true;
    desk.setTicked(2, true);
    desk.setTicked(5, true);
    desk.chooseSetup(int(desk.setupNames.indexOf(QStringLiteral("b.ini"))));
    EXPECT_EQ(desk.GetIni(QStringLiteral("General"), QStringLiteral("RecentProjects"), {}), QStringLiteral(";1"));
    EXPECT_EQ(desk.grid.maxRows(), 1);
    EXPECT_EQ(desk.selCount, 1);
    ProfileFile left = ProfileFile::load(box.iniPath(QStringLiteral("a.ini")));
    EXPECT_EQ(left.getText(QStringLiteral("General"), QStringLiteral("RecentProjects"), {}, 200), QStringLiteral(";2;5"));
}

TEST_F(DeskFixture, ClosingDuringAnUploadBecomesACancelRequest)
{
    start(kWednesday);
    int dbClosed = 0;
    desk.closeDatabase = [&] { ++dbClosed; };
    desk.setTicked(3, true);
    desk.ftpBusy = true;
    EXPECT_FALSE(desk.requestClose());
    EXPECT_TRUE(desk.cancelRequested);
    EXPECT_FALSE(desk.closed);
    EXPECT_EQ(dbClosed, 0);
    desk.ftpBusy = false;
    EXPECT_TRUE(desk.requestClose());
    EXPECT_TRUE(desk.closed);
    EXPECT_EQ(dbClosed, 1);
    EXPECT_EQ(ProfileFile::load(box.iniPath(QStringLiteral("a.ini")))
                  .getText(QStringLiteral("General"), QStringLiteral("RecentProjects"), {}, 200),
              QStringLiteral(";3"));
}

TEST_F(DeskFixture, MissingInisFolderSaysTheSetupFileIsMissing)
{
    QDir(box.home() + QStringLiteral("/inis")).removeRecursively();
    desk.now = [] { return QDateTime(kWednesday, QTime(9, 0)); };
    desk.Form_Load();
    ASSERT_FALSE(ui.tells().isEmpty());
    EXPECT_TRUE(ui.tells().first().startsWith(QStringLiteral("설정파일(setup.ini)을 찾을수 없습니다.\r\n\r\n")));
    EXPECT_TRUE(desk.IniPath.isEmpty());
    EXPECT_EQ(desk.grid.maxRows(), 0);
}

TEST_F(DeskFixture, SourceMergeToolMissingNamesTheDefaultPath)
{
    start(kWednesday);
    desk.btnSourceMerge_Click();
    EXPECT_EQ(ui.tells().last(), QStringLiteral("소스통합도구를 찾을 수 없습니다. \r\n아래 경로로 관련파일을 복사하세요.\r\n\r\n")
                                     + programFolder() + QStringLiteral("/멀티Exe런처.exe"));
}

namespace {

// A tool that records its arguments into a marker file, then exits.
QString writeMarkerTool(const QString& path, const QString& marker)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" > '%1'\n").arg(marker).toUtf8());
    f.close();
    f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
    return path;
}

// The tool has written its line (the shell makes the file before writing it).
bool waitForFile(const QString& path)
{
    for (QDeadlineTimer deadline(60000); QFileInfo(path).size() == 0 && !deadline.hasExpired();)
        QThread::msleep(20);
    return QFileInfo(path).size() > 0;
}

} // namespace

TEST_F(DeskFixture, SourceMergeStartsAStoredPathWithBlanksUnquoted)
{
    start(kWednesday);
    const QString marker = box.home() + QStringLiteral("/merge.started");
    writeMarkerTool(box.drive(QStringLiteral("C")) + QStringLiteral("/Merge Tools/멀티Exe런처.exe"), marker);
    SaveSetting(appTitle(), QStringLiteral("Config"), QStringLiteral("소스통합도구경로"),
                QStringLiteral("C:\\Merge Tools\\멀티Exe런처.exe"));
    desk.btnSourceMerge_Click();
    EXPECT_TRUE(ui.tells().isEmpty()) << ui.tells().join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(waitForFile(marker));
}

TEST_F(DeskFixture, OpenIniHandsAProgramFolderWithBlanksToTheEditorAsOneArgument)
{
    const QString marker = box.home() + QStringLiteral("/editor.args");
    const QString editor = writeMarkerTool(box.home() + QStringLiteral("/bin/editor"), marker);
    qputenv("VISUAL", editor.toUtf8());
    const QString folder = box.home() + QStringLiteral("/Program Files/Roll haven");
    setProgramFolder(folder);
    Sandbox::writeAnsi(folder + QStringLiteral("/inis/a.ini"), fiveProjects());
    desk.now = [] { return QDateTime(kWednesday, QTime(9, 30)); };
    desk.Form_Load();
    desk.OpenIni();
    qunsetenv("VISUAL");
    setProgramFolder(box.home());
    ASSERT_TRUE(waitForFile(marker));
    EXPECT_EQ(QString::fromUtf8(Sandbox::readBytes(marker)), folder + QStringLiteral("/inis/a.ini\n"));
    EXPECT_TRUE(ui.tells().isEmpty());
}

TEST_F(DeskFixture, OpenIniWithoutAnEditorSaysSo)
{
    start(kWednesday);
    qputenv("VISUAL", "/nowhere/editor");
    desk.OpenIni();
    qunsetenv("VISUAL");
    EXPECT_EQ(ui.tells(), QStringList{QStringLiteral("설정파일을 열 수 없습니다.(") + desk.IniPath
                                      + QStringLiteral(")\r\n편집기를 찾을 수 없습니다: /nowhere/editor (VISUAL)")});
}
