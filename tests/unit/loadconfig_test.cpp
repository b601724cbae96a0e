// Loading a setup INI into the desk: rows, derived columns, groups,
// destinations, general values, the recent selection and the failure messages.
#include "config/projectrow.h"
#include "config/vbtext.h"
#include "pipeline/desk.h"
#include "platform/codepage.h"
#include "platform/profile.h"
#include "sandbox.h"
#include "testinteraction.h"

#include <QFile>

#include <cfenv>
#include <limits>

#include <gtest/gtest.h>

using namespace rh;
using rh::test::Sandbox;
using rh::test::TestInteraction;

namespace {

const char* kSetup = R"([General]
ProjGrop1=회계;Project1,Project3
ProjGrop2=B;Project2
UpxExePath=
업무일지ID=dev01
ISResultFolder=D:\ISResult
RecentProjects=;1;3;0;x;;9;99999999999999999999999

[Distribute]
Path1=FTP 다운로드
Path2=\\fileserver\프로그램셋업\1_정식버전
Path4=never read

[Distribute_Beta]
Path1=C:\beta

[Project]
ProjectCount=3
Project1=원장관리
Project2=
Project3=급여관리

[Project1]
ProjectType=1
VbpPath=D:\src\ledger\ledger.vbp
ExePath=D:\src\ledger\ledger.exe
업무일지CODE=101
웹게시CODE=W1
정식버전경로=\\fileserver\정식\ledger
ISProject1=D:\setup\ledger.ISM
ISResult1=D:\out\prod_setup_2.exe
ISResult2=D:\out\prod_full_2.exe

[Project3]
VbpPath=D:\src\pay\pay.vbp
ExePath=D:\src\pay\pay.exe
ISProject1=D:\setup\pay.iss
ISResult1=pay_setup_2.exe
)";

struct LoadFixture : ::testing::Test {
    Sandbox box;
    TestInteraction ui;
    Desk desk;

    void load(const QString& text, const QString& name = QStringLiteral("setup.ini"))
    {
        box.writeIni(name, text);
        desk.setupNames = {name};
        desk.setupIndex = 0;
        desk.LoadConfig();
    }
    QString cell(int col, int row) const { return desk.grid.text(col, row); }
};

} // namespace

TEST_F(LoadFixture, RowsSkipEmptyProjectsAndDeriveColumns)
{
    load(QString::fromUtf8(kSetup));
    ASSERT_EQ(desk.grid.maxRows(), 2);
    EXPECT_EQ(cell(ColProjectName, 1), QStringLiteral("원장관리"));
    EXPECT_EQ(cell(ColProjectName, 2), QStringLiteral("급여관리"));
    EXPECT_EQ(cell(ColSectionKey, 2), QStringLiteral("project3"));
    EXPECT_EQ(cell(ColProjectType, 1), QStringLiteral("1"));
    EXPECT_EQ(cell(ColWorkDiaryCode, 1), QStringLiteral("101"));
    EXPECT_EQ(cell(ColWebCode, 1), QStringLiteral("W1"));
    EXPECT_EQ(cell(ColOfficialPath, 1), QStringLiteral("\\\\fileserver\\정식\\ledger"));
    // .ISM (any case) is the first builder kind and paints the row blue.
    EXPECT_EQ(cell(ColSetupBuilderKind, 1), QStringLiteral("0"));
    EXPECT_EQ(desk.grid.foreColor(22, 1), colors::InstallShieldText);
    EXPECT_EQ(cell(ColSetupBuilderKind, 2), QStringLiteral("1"));
    EXPECT_EQ(desk.grid.foreColor(2, 2), colors::Black);
    EXPECT_EQ(cell(ColISResult1File, 1), QStringLiteral("prod_setup_2.exe"));
    EXPECT_EQ(cell(ColPatchResultPath, 1), QStringLiteral("D:\\out\\prod_setup_patch_2.exe"));
    EXPECT_EQ(cell(ColPatchResultFile, 1), QStringLiteral("prod_setup_patch_2.exe"));
    EXPECT_EQ(cell(ColISResult2File, 1), QStringLiteral("prod_full_2.exe"));
    // A name without a folder is its own file name; the patch has no folder either.
    EXPECT_EQ(cell(ColISResult1File, 2), QStringLiteral("pay_setup_2.exe"));
    EXPECT_EQ(cell(ColPatchResultPath, 2), QStringLiteral("pay_setup_patch_2.exe"));
    for (int col : {ColFileVersion, ColStatus, ColSetupFileTime, ColLocalCopyPath})
        EXPECT_EQ(cell(col, 1), QString()) << col;
    EXPECT_TRUE(ui.messages.isEmpty()) << ui.texts().join(QLatin1Char('|')).toStdString();
}

TEST_F(LoadFixture, GeneralValuesDestinationsAndRecentSelection)
{
    load(QString::fromUtf8(kSetup));
    EXPECT_EQ(desk.UpxExePath, QStringLiteral("D:\\upx.exe")); // present but empty
    EXPECT_EQ(desk.WorkDiaryId, QStringLiteral("dev01"));
    EXPECT_EQ(desk.ISResultFolder, QStringLiteral("D:\\ISResult"));
    EXPECT_EQ(desk.lstDest.items,
              (QStringList{QStringLiteral("FTP 다운로드"), QStringLiteral("\\\\fileserver\\프로그램셋업\\1_정식버전")}));
    EXPECT_EQ(desk.lstDest.selectedItems(), desk.lstDest.items);
    // ";1;3;0;x;;9;999..." with two rows: only row 1.
    EXPECT_TRUE(desk.isTicked(1));
    EXPECT_FALSE(desk.isTicked(2));
    EXPECT_EQ(desk.selCount, 1);
    EXPECT_EQ(desk.grid.backColor(1, 1), colors::TickedRow);
    EXPECT_EQ(desk.grid.backColor(22, 2), colors::White);
    EXPECT_TRUE(desk.cmdOpenINI.enabled);
    EXPECT_EQ(desk.IniPath, box.iniPath(QStringLiteral("setup.ini")));
}

// Val and the whole-number conversion serve the INI and the published
// latest revisions alike.
TEST(VbText, ValTakesTheLeadingNumberAndRoundingIsHalfToEvenInAnyModeAndRange)
{
    EXPECT_EQ(rh::vbVal(QStringLiteral(" \t3\r\n")), 3);
    EXPECT_EQ(rh::vbVal(QStringLiteral("-.5x")), -0.5);
    EXPECT_EQ(rh::vbVal(QStringLiteral("12abc")), 12);
    for (const char* none : {"abc", "+", ".", "\xef\xbc\x91"}) // the last: a full-width 1
        EXPECT_EQ(rh::vbVal(QString::fromUtf8(none)), 0) << none;

    for (const int mode : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
        std::fesetround(mode);
        EXPECT_EQ(rh::vbRound(2.5), 2) << mode;
        EXPECT_EQ(rh::vbRound(3.5), 4) << mode;
        EXPECT_EQ(rh::vbRound(-2.5), -2) << mode;
        EXPECT_EQ(rh::vbRound(2.4999), 2) << mode;
        EXPECT_EQ(rh::vbRound(-2.5001), -3) << mode;
    }
    std::fesetround(FE_TONEAREST);
    EXPECT_EQ(rh::vbRound(1e59), std::numeric_limits<long long>::max());
    EXPECT_EQ(rh::vbRound(-1e59), std::numeric_limits<long long>::min());
}

TEST_F(LoadFixture, GroupsStopAtFirstMissingOrMalformedValue)
{
    load(QStringLiteral("[General]\r\nProjGrop1=A;Project1,Project2\r\nProjGrop3=C;Project3\r\n"
                        "[Project]\r\nProject1=x\r\n[Project1]\r\nISResult1=abcdef\r\n"));
    EXPECT_EQ(desk.groups[0].caption, QStringLiteral("A"));
    EXPECT_EQ(desk.groups[0].list, QStringLiteral("Project1,Project2"));
    EXPECT_TRUE(desk.groups[0].enabled);
    for (int k = 1; k < 8; ++k) {
        EXPECT_FALSE(desk.groups[size_t(k)].enabled) << k;
        EXPECT_EQ(desk.groups[size_t(k)].caption, QStringLiteral("그룹선택") + QString::number(k + 1));
    }

    // Three parts: the message names the group, and every button from it on is off.
    desk.visible = true; // a reload resets the buttons first
    load(QStringLiteral("[General]\r\nProjGrop1=A;B;C\r\nProjGrop2=X;Project1\r\n"));
    ASSERT_EQ(ui.tells().size(), 2);
    EXPECT_EQ(ui.tells()[0], QStringLiteral("설정파일 내용중 [General] - ProjGrop1의 값이 잘못되었습니다."));
    EXPECT_TRUE(ui.tells()[1].startsWith(QStringLiteral("설정파일에 프로젝트가 없습니다.")));
    for (int k = 0; k < 8; ++k) {
        EXPECT_FALSE(desk.groups[size_t(k)].enabled) << k;
        EXPECT_EQ(desk.groups[size_t(k)].caption, QStringLiteral("그룹선택") + QString::number(k + 1));
    }
}

TEST_F(LoadFixture, AllEightGroupsLeaveEveryButtonEnabled)
{
    QString text = QStringLiteral("[General]\r\n");
    for (int n = 1; n <= 9; ++n)
        text += QStringLiteral("ProjGrop%1=G%1;Project%1\r\n").arg(n);
    load(text);
    for (int k = 0; k < 8; ++k) {
        EXPECT_TRUE(desk.groups[size_t(k)].enabled);
        EXPECT_EQ(desk.groups[size_t(k)].caption, QStringLiteral("G%1").arg(k + 1));
    }
}

TEST_F(LoadFixture, ProjectCountMissingOrNotNumeric)
{
    load(QStringLiteral("[Project]\r\nProject1=one\r\nProject2=two\r\n[Project1]\r\nISResult1=a_setup_2.exe\r\n"));
    EXPECT_EQ(desk.grid.maxRows(), 1);
    load(QStringLiteral("[Project]\r\nProjectCount=abc\r\nProject1=one\r\n"));
    EXPECT_EQ(desk.grid.maxRows(), 0);
    EXPECT_EQ(ui.tells(), QStringList{QStringLiteral("설정파일에 프로젝트가 없습니다.\r\n\r\n") + desk.IniPath
                                      + QStringLiteral("\r\n[Project] 구역의 ProjectCount와 Project1, Project2, ... "
                                                       "값을 확인하세요.")});
}

TEST_F(LoadFixture, ProjectCountBeyondIntegerRangeIsAnOverflowError)
{
    load(QStringLiteral("[Project]\r\nProjectCount=99999\r\nProject1=one\r\n[Project1]\r\nISResult1=a_setup_2.exe\r\n"));
    ASSERT_EQ(ui.tells().size(), 1);
    EXPECT_EQ(ui.tells()[0], QStringLiteral("Error 6 (Overflow) in procedure LoadConfig of Form FrmMain"));
    EXPECT_EQ(desk.grid.maxRows(), 0);
}

TEST_F(LoadFixture, ShortResultNameEndsLoadingWithRowsSoFar)
{
    load(QStringLiteral("[General]\r\nRecentProjects=;1\r\n"
                        "[Project]\r\nProjectCount=3\r\nProject1=one\r\nProject2=two\r\nProject3=three\r\n"
                        "[Project1]\r\nISResult1=D:\\o\\a_setup_2.exe\r\n"
                        "[Project2]\r\nISResult1=D:\\o\\x.exe\r\n"));
    ASSERT_EQ(ui.tells().size(), 1);
    EXPECT_EQ(ui.tells()[0],
              QStringLiteral("Error 5 (Invalid procedure call or argument) in procedure LoadConfig of Form FrmMain"));
    // Row 2 was appended before the failing column; project 3 never loaded.
    ASSERT_EQ(desk.grid.maxRows(), 2);
    EXPECT_EQ(cell(ColISResult1File, 2), QStringLiteral("x.exe"));
    EXPECT_EQ(cell(ColPatchResultPath, 2), QString());
    // The recent selection is not applied.
    EXPECT_EQ(desk.selCount, 0);
}

TEST_F(LoadFixture, MissingFileKeepsWhatWasShown)
{
    load(QString::fromUtf8(kSetup));
    ASSERT_EQ(desk.grid.maxRows(), 2);
    desk.setupNames = {QStringLiteral("gone.ini")};
    desk.setupIndex = 0;
    desk.LoadConfig();
    ASSERT_EQ(ui.tells().size(), 1);
    EXPECT_EQ(ui.tells()[0], QStringLiteral("설정파일(setup.ini)을 찾을수 없습니다.\r\n\r\n") + box.iniPath(QStringLiteral("gone.ini")));
    EXPECT_TRUE(desk.IniPath.isEmpty());
    EXPECT_FALSE(desk.cmdOpenINI.enabled);
    EXPECT_EQ(desk.grid.maxRows(), 2);
    EXPECT_EQ(desk.lstDest.items.size(), 2);
    EXPECT_EQ(desk.GetIni(QStringLiteral("General"), QStringLiteral("UpxExePath"), QStringLiteral("dflt")),
              QStringLiteral("dflt"));
}

TEST_F(LoadFixture, LongValuesComeBackCutTo199Bytes)
{
    load(QStringLiteral("[General]\r\n업무일지ID=") + QString(250, QLatin1Char('x')) + QStringLiteral("\r\n"));
    EXPECT_EQ(desk.WorkDiaryId, QString(199, QLatin1Char('x')));
}

TEST_F(LoadFixture, SavingTheSelectionWritesOnlyThatKey)
{
    QString text = QStringLiteral("; 주석\r\n[General]\r\nRecentProjects=\r\n[Project]\r\nProjectCount=5\r\n");
    for (int i = 1; i <= 5; ++i)
        text += QStringLiteral("Project%1=프로젝트%1\r\n").arg(i);
    for (int i = 1; i <= 5; ++i)
        text += QStringLiteral("[Project%1]\r\nISResult1=p%1_setup_2.exe\r\n").arg(i);
    load(text);
    const QByteArray before = Sandbox::readBytes(desk.IniPath);
    desk.setTicked(2, true);
    desk.setTicked(5, true);
    desk.SaveRecentProjects();
    QByteArray expected = before;
    expected.replace("RecentProjects=\r\n", "RecentProjects=;2;5\r\n");
    EXPECT_EQ(Sandbox::readBytes(desk.IniPath), expected);
    desk.chkAllClick(false);
    desk.SaveRecentProjects();
    EXPECT_EQ(Sandbox::readBytes(desk.IniPath), before);
}

TEST_F(LoadFixture, LargeSetupLoadsEveryProject)
{
    QString text = QStringLiteral("[Project]\r\nProjectCount=2000\r\n");
    for (int i = 1; i <= 2000; ++i)
        text += QStringLiteral("Project%1=프로젝트%1\r\n").arg(i);
    for (int i = 1; i <= 2000; ++i)
        text += QStringLiteral("[Project%1]\r\nISProject1=D:\\s\\p%1.ism\r\nISResult1=D:\\o\\p%1_setup_2.exe\r\n").arg(i);
    load(text);
    ASSERT_EQ(desk.grid.maxRows(), 2000);
    EXPECT_EQ(cell(ColPatchResultFile, 2000), QStringLiteral("p2000_setup_patch_2.exe"));
    EXPECT_EQ(cell(ColProjectName, 1234), QStringLiteral("프로젝트1234"));
}

TEST_F(LoadFixture, HostileFilesLoadWithoutBreaking)
{
    // Invalid CP949 bytes in a name: the row loads with replacement characters.
    const QString path = box.iniPath(QStringLiteral("bad.ini"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Project]\r\nProject1=ab\xFF\xFE\x80z\r\n[Project1]\r\nISResult1=D:\\o\\a_setup_2.exe\r\n");
        // A 1 MB line and 50 MB of binary noise after it.
        f.write("Junk=" + QByteArray(1 << 20, 'j') + "\r\n");
        QByteArray noise(1 << 20, '\0');
        for (int i = 0; i < noise.size(); ++i)
            noise[i] = char((i * 2654435761u) >> 13);
        for (int k = 0; k < 50; ++k)
            f.write(noise);
    }
    desk.setupNames = {QStringLiteral("bad.ini")};
    desk.setupIndex = 0;
    desk.LoadConfig();
    ASSERT_EQ(desk.grid.maxRows(), 1);
    EXPECT_TRUE(cell(ColProjectName, 1).startsWith(QStringLiteral("ab")));
    EXPECT_TRUE(cell(ColProjectName, 1).endsWith(QLatin1Char('z')));
    EXPECT_EQ(cell(ColPatchResultFile, 1), QStringLiteral("a_setup_patch_2.exe"));
}

TEST_F(LoadFixture, AnIniWithoutProjectsSaysSoWhenLoaded)
{
    const QString none = QStringLiteral("설정파일에 프로젝트가 없습니다.\r\n\r\n");
    load(QString());
    EXPECT_EQ(ui.tells(), QStringList{none + desk.IniPath + QStringLiteral("\r\n파일이 비어 있습니다.")});

    ui.messages.clear();
    const QString binary = box.iniPath(QStringLiteral("setup.ini"));
    QFile f(binary);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("MZ\x90\x00\x03\x00\x00\x00\xff\xff", 10));
    f.close();
    desk.LoadConfig();
    EXPECT_EQ(ui.tells(), QStringList{none + desk.IniPath + QStringLiteral("\r\nINI 텍스트 파일이 아닙니다.")});

    // Groups that name sections the file does not hold.
    ui.messages.clear();
    load(QStringLiteral("[General]\r\nProjGrop1=회계;Project1,Project2\r\n"));
    EXPECT_EQ(ui.tells(), QStringList{none + desk.IniPath
                                      + QStringLiteral("\r\n그룹이 가리키는 프로젝트 구역이 없습니다: Project1,Project2")});
}

// Paths of a setup INI reach the disk only through the drive map: a native
// path in any path key is refused by name, and nothing of the file stays
// loaded to run with.
TEST_F(LoadFixture, NativePathsInTheIniAreRefusedByKey)
{
    const QString project = QStringLiteral("[Project]\r\nProjectCount=1\r\nProject1=one\r\n"
                                           "[Project1]\r\nISResult1=D:\\o\\a_setup_2.exe\r\n");
    const struct {
        QString text, section, key, value;
    } cases[] = {
        {QStringLiteral("[General]\r\nUpxExePath=/usr/bin/upx\r\n") + project, QStringLiteral("General"),
         QStringLiteral("UpxExePath"), QStringLiteral("/usr/bin/upx")},
        {QStringLiteral("[Distribute]\r\nPath1=C:\\ok\r\nPath2=/srv/../etc\r\n") + project,
         QStringLiteral("Distribute"), QStringLiteral("Path2"), QStringLiteral("/srv/../etc")},
        {project + QStringLiteral("ExePath=/home/u/../../etc/passwd\r\n"), QStringLiteral("Project1"),
         QStringLiteral("ExePath"), QStringLiteral("/home/u/../../etc/passwd")},
        {project + QStringLiteral("정식버전경로=/srv/official\r\n"), QStringLiteral("Project1"),
         QStringLiteral("정식버전경로"), QStringLiteral("/srv/official")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key.toStdString());
        load(QString::fromUtf8(kSetup));
        ASSERT_EQ(desk.grid.maxRows(), 2);
        ui.messages.clear();
        load(c.text, QStringLiteral("bad.ini"));
        EXPECT_EQ(ui.tells(), QStringList{QStringLiteral("설정파일 내용중 [%1] - %2의 값이 잘못되었습니다: \"%3\" "
                                                         "(드라이브(X:\\) 또는 \\\\서버\\공유 경로여야 합니다)")
                                              .arg(c.section, c.key, c.value)});
        EXPECT_EQ(desk.grid.maxRows(), 0);
        EXPECT_TRUE(desk.lstDest.items.isEmpty());
        EXPECT_TRUE(desk.IniPath.isEmpty());
    }
}
