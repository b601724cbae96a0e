// The setup build step against the builder stand-ins run as real processes:
// full and patch builds with both builders, the retry prompt, patch only, the
// second setup, deletion of old outputs and the trapped errors.
#include "config/projectrow.h"
#include "pipeline/desk.h"
#include "pipeline/setupbuild.h"
#include "pipeline/steps.h"
#include "platform/drivemap.h"
#include "sandbox.h"
#include "setupbuilders.h"
#include "testinteraction.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace rh;
using rh::test::Sandbox;
using rh::test::TestInteraction;

static void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace {

const QString kRetryText = QStringLiteral("설치파일 만들기가 실패하였습니다. 다시 시도 하시겠습니까?");

struct Project {
    QString name, project1, result1, project2, result2;
};

struct SetupBuildFixture : ::testing::Test {
    Sandbox box;
    TestInteraction ui;
    Desk desk;

    void SetUp() override
    {
        rh::test::installSetupBuilders(box);
        desk.now = [] { return QDateTime(QDate(2026, 12, 9), QTime(10, 0, 0)); };
    }

    static QString nat(const QString& windowsPath) { return nativePath(windowsPath); }
    static bool exists(const QString& windowsPath) { return QFileInfo(nat(windowsPath)).isFile(); }
    static void touch(const QString& windowsPath, const QByteArray& bytes = "stale")
    {
        QDir().mkpath(QFileInfo(nat(windowsPath)).absolutePath());
        QFile f(nat(windowsPath));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    static QByteArray head(const QString& windowsPath)
    {
        QFile f(nat(windowsPath));
        return f.open(QIODevice::ReadOnly) ? f.read(2) : QByteArray();
    }

    // Loads a setup INI with these projects, all ticked.
    void load(const QList<Project>& projects, const QString& isResultFolder = QString())
    {
        QString ini = QStringLiteral("[General]\r\nISResultFolder=") + isResultFolder
            + QStringLiteral("\r\n[Project]\r\nProjectCount=") + QString::number(projects.size())
            + QStringLiteral("\r\n");
        for (int i = 0; i < projects.size(); ++i)
            ini += QStringLiteral("Project%1=%2\r\n").arg(i + 1).arg(projects[i].name);
        for (int i = 0; i < projects.size(); ++i) {
            const Project& p = projects[i];
            ini += QStringLiteral("[Project%1]\r\nISProject1=%2\r\nISResult1=%3\r\n")
                       .arg(i + 1)
                       .arg(p.project1, p.result1);
            if (!p.project2.isEmpty())
                ini += QStringLiteral("ISProject2=%1\r\nISResult2=%2\r\n").arg(p.project2, p.result2);
        }
        box.writeIni(QStringLiteral("setup.ini"), ini);
        desk.Form_Load();
        desk.visible = true;
        for (int r = 1; r <= desk.grid.maxRows(); ++r)
            desk.setTicked(r, true);
        desk.txtLog.clear();
        ui.messages.clear();
    }

    QStringList logLines() const
    {
        QStringList l = desk.txtLog.split(QStringLiteral("\r\n"));
        l.removeAll(QString());
        return l;
    }
    QString status(int row) const { return desk.grid.text(ColStatus, row); }
};

const Project kLedger{QStringLiteral("원장관리"), QStringLiteral("C:\\Setup\\Ledger\\Ledger.iss"),
                      QStringLiteral("C:\\Setup\\Output\\ledger_setup_2.exe"), {}, {}};
const Project kTax{QStringLiteral("세금계산서"), QStringLiteral("C:\\Setup\\Tax\\Tax.ism"),
                   QStringLiteral("C:\\Setup\\Output\\tax_setup_2.exe"), {}, {}};

} // namespace

TEST(SetupBuildPaths, PatchProjectAndUpdateFile)
{
    EXPECT_EQ(patchProjectFile(QStringLiteral("D:\\setup\\ledger.ism"), 0),
              QStringLiteral("D:\\setup\\ledger_patch.ism"));
    EXPECT_EQ(patchProjectFile(QStringLiteral("D:\\setup\\ledger.iss"), 1),
              QStringLiteral("D:\\setup\\ledger_patch.iss"));
    EXPECT_EQ(patchProjectFile(QString(), 1), QString());
    EXPECT_EQ(patchProjectFile(QStringLiteral(".is"), 1), QString());

    const QString patch = QStringLiteral("D:\\setup\\ledger_patch.ism");
    EXPECT_EQ(installShieldUpdateFile(patch, QString()),
              QStringLiteral("D:\\setup\\ledger_patch\\Patch\\Update.exe"));
    EXPECT_EQ(installShieldUpdateFile(patch, QStringLiteral("D:\\isout")),
              QStringLiteral("D:\\isout\\ledger_patch\\Patch\\Update.exe"));
    EXPECT_EQ(installShieldUpdateFile(patch, QStringLiteral("D:\\isout\\")),
              QStringLiteral("D:\\isout\\ledger_patch\\Patch\\Update.exe"));
}

TEST_F(SetupBuildFixture, BothBuildersBuildFullAndPatchSetups)
{
    using rh::test::writeInnoProject;
    writeInnoProject(nat(kLedger.project1), kLedger.result1);
    writeInnoProject(nat(QStringLiteral("C:\\Setup\\Ledger\\Ledger_patch.iss")),
                     QStringLiteral("C:\\Setup\\Output\\ledger_setup_patch_2.exe"));
    rh::test::writeIsmProject(nat(kTax.project1), kTax.result1);
    rh::test::writeIsmPatchProject(nat(QStringLiteral("C:\\Setup\\Tax\\Tax_patch.ism")),
                                   QStringLiteral("C:\\ISResult"));
    load({kLedger, kTax}, QStringLiteral("C:\\ISResult"));
    desk.grid.setText(ColSelected, 1, QStringLiteral(" 1")); // not exactly "1": skipped

    ASSERT_TRUE(STEP2(desk));
    EXPECT_TRUE(ui.messages.isEmpty()) << ui.texts().join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(exists(kLedger.result1));
    EXPECT_EQ(head(kTax.result1), "MZ");
    EXPECT_EQ(head(QStringLiteral("C:\\Setup\\Output\\tax_setup_patch_2.exe")), "MZ");
    EXPECT_TRUE(exists(QStringLiteral("C:\\ISResult\\Tax_patch\\Patch\\Update.exe")));
    EXPECT_EQ(status(2), QStringLiteral("패치생성..."));
    EXPECT_EQ(desk.grid.activeRow(), 2);
    EXPECT_EQ(desk.grid.activeCol(), int(ColStatus));
    EXPECT_EQ(logLines(),
              (QStringList{QStringLiteral("[정상] 세금계산서 셋업프로그램 [풀버전] 컴파일중..."),
                           QStringLiteral("[정상] 세금계산서 셋업프로그램 [패치버전] 컴파일중...")}));
    const QString c = box.drive(QStringLiteral("C"));
    EXPECT_EQ(rh::test::setupBuilderRuns(box),
              (QStringList{QStringLiteral("IsCmdBld.exe -x -p ") + c + QStringLiteral("/Setup/Tax/Tax.ism"),
                           QStringLiteral("IsCmdBld.exe -x -p ") + c
                               + QStringLiteral("/Setup/Tax/Tax_patch.ism")}));

    // Now the Inno project too, a second time over: old outputs are deleted
    // first and the Inno builder writes its patch itself.
    desk.txtLog.clear();
    desk.setTicked(1, true);
    ASSERT_TRUE(STEP2(desk));
    EXPECT_EQ(head(kLedger.result1), "MZ");
    EXPECT_EQ(head(QStringLiteral("C:\\Setup\\Output\\ledger_setup_patch_2.exe")), "MZ");
    EXPECT_EQ(logLines(),
              (QStringList{QStringLiteral("[정상] 원장관리 셋업프로그램 [풀버전] 컴파일중..."),
                           QStringLiteral("[정상] 원장관리 셋업프로그램 [패치버전] 컴파일중..."),
                           QStringLiteral("[정상] 세금계산서 이전 셋업파일 삭제"),
                           QStringLiteral("[정상] 세금계산서 셋업프로그램 [풀버전] 컴파일중..."),
                           QStringLiteral("[정상] 세금계산서 이전 패치파일 삭제"),
                           QStringLiteral("[정상] 세금계산서 셋업프로그램 [패치버전] 컴파일중...")}));
    EXPECT_EQ(rh::test::setupBuilderRuns(box).size(), 6);
    EXPECT_TRUE(rh::test::setupBuilderRuns(box)[2].startsWith(QStringLiteral("compil32.exe /cc ") + c));
}

TEST_F(SetupBuildFixture, SecondSetupAndMissingPatchProject)
{
    Project p = kLedger;
    p.project2 = QStringLiteral("C:\\Setup\\Ledger\\Ledger Lite.iss"); // a blank in the path
    p.result2 = QStringLiteral("C:\\Setup\\Output\\ledger_lite_setup_2.exe");
    rh::test::writeInnoProject(nat(p.project1), p.result1);
    rh::test::writeInnoProject(nat(p.project2), p.result2);
    load({p, kTax});
    // The second row has no setup project of its own: its failure ends the step.
    ASSERT_FALSE(STEP2(desk));
    EXPECT_EQ(head(p.result1), "MZ");
    EXPECT_EQ(head(p.result2), "MZ");
    EXPECT_EQ(status(1), QStringLiteral("셋업2 끝")); // no patch project: no patch status
    EXPECT_EQ(status(2), QStringLiteral("셋업1..."));
    EXPECT_EQ(logLines(),
              (QStringList{QStringLiteral("[정상] 원장관리 셋업프로그램 [풀버전] 컴파일중..."),
                           QStringLiteral("[정상] 원장관리 셋업프로그램 [풀버전] 컴파일중..."),
                           QStringLiteral("[오류] 세금계산서 셋업프로그램 프로젝트 파일이 존재하지 않습니다.(C:\\Setup\\Tax\\Tax.ism)")}));
    EXPECT_TRUE(ui.messages.isEmpty());
    EXPECT_EQ(rh::test::setupBuilderRuns(box).size(), 2);
}

TEST_F(SetupBuildFixture, RowWithoutSetupProjectsIsPassedOver)
{
    load({Project{QStringLiteral("빈행"), QString(), QStringLiteral("C:\\o\\e_setup_2.exe"), {}, {}}});
    desk.grid.setText(ColStatus, 1, QStringLiteral("컴파일 끝"));
    EXPECT_TRUE(STEP2(desk));
    EXPECT_TRUE(desk.txtLog.isEmpty());
    EXPECT_TRUE(ui.messages.isEmpty());
    EXPECT_EQ(status(1), QStringLiteral("컴파일 끝"));
}

TEST_F(SetupBuildFixture, StaleOutputsAreDeletedBeforeTheBuildAndNeverCount)
{
    rh::test::writeIsmProject(nat(kTax.project1), kTax.result1, {QStringLiteral("RollhavenFail=all")});
    rh::test::writeIsmPatchProject(nat(QStringLiteral("C:\\Setup\\Tax\\Tax_patch.ism")), QString(),
                                   {QStringLiteral("RollhavenFail=all")});
    load({kTax});
    touch(kTax.result1);
    ui.answer(false);
    EXPECT_FALSE(STEP2(desk));
    EXPECT_FALSE(exists(kTax.result1));
    EXPECT_EQ(ui.questions(), QStringList{kRetryText});
    EXPECT_EQ(ui.messages[0].title, QStringLiteral("설치파일 재시도"));
    EXPECT_EQ(logLines(),
              (QStringList{QStringLiteral("[정상] 세금계산서 이전 셋업파일 삭제"),
                           QStringLiteral("[정상] 세금계산서 셋업프로그램 [풀버전] 컴파일중..."),
                           QStringLiteral("[오류] 세금계산서 셋업프로그램 [풀버전] 컴파일 실패")}));

    // Patch only: the full setup is left alone; the old patch and the old
    // Update.exe of the failing patch build are deleted, and nothing is copied.
    touch(kTax.result1, "previous full setup");
    const QString patch = QStringLiteral("C:\\Setup\\Output\\tax_setup_patch_2.exe");
    const QString update = QStringLiteral("C:\\Setup\\Tax\\Tax_patch\\Patch\\Update.exe");
    touch(patch);
    touch(update);
    desk.chkPatchOnly.checked = true;
    desk.txtLog.clear();
    ui.messages.clear();
    EXPECT_FALSE(STEP2(desk));
    EXPECT_EQ(rh::test::Sandbox::readBytes(nat(kTax.result1)), "previous full setup");
    EXPECT_FALSE(exists(patch));
    EXPECT_FALSE(exists(update));
    EXPECT_EQ(logLines(),
              (QStringList{QStringLiteral("[정상] 세금계산서 이전 패치파일 삭제"),
                           QStringLiteral("[정상] 세금계산서 셋업프로그램 [패치버전] 컴파일중..."),
                           QStringLiteral("[오류] 세금계산서 셋업프로그램 [패치버전] 컴파일 실패")}));
    // The copy of the missing Update.exe told the user; no retry for a patch.
    EXPECT_TRUE(ui.questions().isEmpty());
    EXPECT_EQ(ui.tells().size(), 1);
}

TEST_F(SetupBuildFixture, PatchOnlyBuildsThePatchBesideTheProjectWithoutResultFolder)
{
    rh::test::writeIsmProject(nat(kTax.project1), kTax.result1, {QStringLiteral("RollhavenFail=all")});
    rh::test::writeIsmPatchProject(nat(QStringLiteral("C:\\Setup\\Tax\\Tax_patch.ism")), QString());
    load({kTax});
    // The copy of Update.exe needs the output folder (no full build made it).
    QDir().mkpath(nat(QStringLiteral("C:\\Setup\\Output")));
    desk.chkPatchOnly.checked = true;
    ASSERT_TRUE(STEP2(desk));
    EXPECT_TRUE(exists(QStringLiteral("C:\\Setup\\Tax\\Tax_patch\\Patch\\Update.exe")));
    EXPECT_EQ(head(QStringLiteral("C:\\Setup\\Output\\tax_setup_patch_2.exe")), "MZ");
    EXPECT_EQ(rh::test::setupBuilderRuns(box).size(), 1);
    EXPECT_EQ(status(1), QStringLiteral("패치생성..."));
}

TEST_F(SetupBuildFixture, RetryRerunsTheBuildWithoutDeletingAgain)
{
    rh::test::writeInnoProject(nat(kLedger.project1), kLedger.result1, {QStringLiteral("RollhavenFail=1")});
    load({kLedger});
    touch(kLedger.result1);
    ui.answer(true);
    ASSERT_TRUE(STEP2(desk));
    EXPECT_EQ(ui.questions(), QStringList{kRetryText});
    EXPECT_FALSE(ui.messages[0].defaultNo) << "the builder ran: a retry may help";
    EXPECT_EQ(rh::test::setupBuilderRuns(box).size(), 2);
    EXPECT_EQ(head(kLedger.result1), "MZ");
    EXPECT_EQ(status(1), QStringLiteral("셋업1 끝"));
    EXPECT_EQ(logLines(),
              (QStringList{QStringLiteral("[정상] 원장관리 이전 셋업파일 삭제"),
                           QStringLiteral("[정상] 원장관리 셋업프로그램 [풀버전] 컴파일중...")}));
}

TEST_F(SetupBuildFixture, RetryYesThenNoStopsTheRun)
{
    rh::test::writeInnoProject(nat(kLedger.project1), kLedger.result1, {QStringLiteral("; RollhavenFail=all")});
    rh::test::writeIsmProject(nat(kTax.project1), kTax.result1);
    load({kLedger, kTax});
    attachSteps(desk);
    for (int i = 0; i < 6; ++i)
        desk.setStep(i, i == StepSetup);
    desk.lstDest.clear();
    ui.answers({true, true, false}); // start, retry, give up
    EXPECT_EQ(desk.btnTrans_Click(), Desk::RunResult::Stopped);
    EXPECT_EQ(ui.questions(), (QStringList{QStringLiteral("정말 시작할까요?"), kRetryText, kRetryText}));
    EXPECT_EQ(ui.unexpectedQuestions, 0);
    QStringList lines = logLines();
    ASSERT_GT(lines.size(), 4);
    EXPECT_TRUE(lines[3].isEmpty() || lines[3].startsWith(QStringLiteral("단계별 소요시간"))); // the run's record
    EXPECT_EQ(lines.last(), QStringLiteral("오류 1건: 원장관리"));
    lines = lines.mid(0, 3);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("Start...")));
    EXPECT_EQ(lines.mid(1),
              (QStringList{QStringLiteral("[정상] 원장관리 셋업프로그램 [풀버전] 컴파일중..."),
                           QStringLiteral("[오류] 원장관리 셋업프로그램 [풀버전] 컴파일 실패")}));
    EXPECT_EQ(rh::test::setupBuilderRuns(box).size(), 2); // the later row was not built
    EXPECT_FALSE(exists(kTax.result1));
    EXPECT_TRUE(desk.btnTrans.enabled);
}

TEST_F(SetupBuildFixture, TrappedErrorsAreShownAndTheStepGoesOn)
{
    rh::test::writeInnoProject(nat(kLedger.project1), kLedger.result1);
    load({kLedger});

    // A builder kind outside the table: the run is skipped, the output is
    // missing, the retry prompt follows.
    desk.grid.setText(ColSetupBuilderKind, 1, QStringLiteral("2"));
    ui.answer(false);
    EXPECT_FALSE(STEP2(desk));
    ASSERT_EQ(ui.texts().size(), 2);
    EXPECT_EQ(ui.texts()[0],
              QStringLiteral("Error 9 (Subscript out of range) in procedure STEP2 of Form FrmMain"));
    EXPECT_EQ(ui.texts()[1], kRetryText);
    EXPECT_TRUE(rh::test::setupBuilderRuns(box).isEmpty());

    // An output on a drive the map does not know.
    desk.grid.setText(ColSetupBuilderKind, 1, QStringLiteral("1"));
    desk.grid.setText(ColISResult1, 1, QStringLiteral("Q:\\out\\x_setup_2.exe"));
    ui.messages.clear();
    desk.txtLog.clear();
    ui.answer(false);
    EXPECT_FALSE(STEP2(desk));
    ASSERT_FALSE(ui.tells().isEmpty());
    EXPECT_TRUE(ui.tells()[0].startsWith(QStringLiteral("Error 76 (")));
    EXPECT_TRUE(ui.tells()[0].contains(QStringLiteral("Q:")));
    EXPECT_TRUE(ui.tells()[0].endsWith(QStringLiteral(") in procedure STEP2 of Form FrmMain")));

    // An old output that cannot be deleted ends the step before the builder
    // runs: it would otherwise pass for the new setup.
    box.site().driveMap.append({QStringLiteral("R:"), QStringLiteral("/proc")});
    box.apply();
    desk.grid.setText(ColISResult1, 1, QStringLiteral("R:\\version"));
    ASSERT_TRUE(exists(QStringLiteral("R:\\version")));
    ui.messages.clear();
    desk.txtLog.clear();
    const int runsBefore = int(rh::test::setupBuilderRuns(box).size());
    EXPECT_FALSE(STEP2(desk));
    ASSERT_EQ(ui.tells().size(), 1);
    EXPECT_TRUE(ui.tells()[0].startsWith(QStringLiteral("Error 70 (Permission denied)")))
        << ui.tells()[0].toStdString();
    EXPECT_EQ(logLines(), QStringList{QStringLiteral("[오류] 원장관리 셋업프로그램 [풀버전] 컴파일 실패")});
    EXPECT_EQ(rh::test::setupBuilderRuns(box).size(), runsBefore);
}

TEST_F(SetupBuildFixture, MissingBuilderIsToldAndLeadsToTheRetryPrompt)
{
    rh::test::writeInnoProject(nat(kLedger.project1), kLedger.result1);
    load({kLedger});
    QFile::remove(box.drive(QStringLiteral("C")) + QStringLiteral("/Program Files/Inno Setup 5/compil32.exe"));
    ui.answer(false);
    EXPECT_FALSE(STEP2(desk));
    ASSERT_EQ(ui.messages.size(), 2);
    EXPECT_EQ(ui.messages[0].kind, rh::test::Message::Tell);
    EXPECT_TRUE(ui.messages[0].text.contains(QStringLiteral("compil32.exe")));
    EXPECT_EQ(ui.messages[1].text, kRetryText);
    EXPECT_TRUE(ui.messages[1].defaultNo) << "a builder that is not there will not be on a retry";
    EXPECT_TRUE(logLines().contains(QStringLiteral("[오류] 원장관리 프로그램을 시작할 수 없습니다."
                                                   "(C:\\Program Files\\Inno Setup 5\\compil32.exe) ")
                                    + ui.messages[0].text))
        << logLines().join(u'|').toStdString();
}
