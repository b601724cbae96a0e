// The signing hand-off against the stand-in signing station working on the
// sandbox's S:\Codesigning folders, and the release driver running compile
// and executable signing with every stand-in.
#include "config/projectrow.h"
#include "pipeline/codesigning.h"
#include "pipeline/desk.h"
#include "pipeline/steps.h"
#include "pefixtures.h"
#include "sandbox.h"
#include "standins.h"
#include "testinteraction.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>

#include <sys/resource.h>

using namespace rh;
using namespace rh::test;

namespace {

const QStringList kSigningLog{QStringLiteral("서명 작업폴더로 복사중..."), QStringLiteral("서명 대기중..."),
                              QStringLiteral("서명완료 파일 복사중...")};

struct SigningFixture : ::testing::Test {
    Sandbox box;
    TestInteraction ui;
    Desk desk;
    QString unsignedDir = box.drive(QStringLiteral("S")) + QStringLiteral("/Codesigning/unsigned");
    QString signedDir = box.drive(QStringLiteral("S")) + QStringLiteral("/Codesigning/signed");

    void SetUp() override
    {
        QDir().mkpath(unsignedDir);
        QDir().mkpath(signedDir);
        desk.signingPollMs = 20;
        desk.signatureCheck = markerSignatureCheck;
    }

    // A row with an executable, a full setup and a patch path (files made
    // only where content is given).
    int addProject(const QString& name, const QString& key, const QByteArray& exe,
                   const QByteArray& setup = {}, const QByteArray& patch = {},
                   const QString& selected = QStringLiteral("1"))
    {
        const int row = desk.grid.appendRow();
        desk.grid.setText(ColSelected, row, selected);
        desk.grid.setText(ColProjectName, row, name);
        desk.grid.setText(ColExePath, row, QStringLiteral("C:\\Src\\%1\\%1.exe").arg(key));
        desk.grid.setText(ColISResult1, row, QStringLiteral("C:\\Setup\\Output\\%1_setup_2.exe").arg(key.toLower()));
        desk.grid.setText(ColPatchResultPath, row,
                          QStringLiteral("C:\\Setup\\Output\\%1_setup_patch_2.exe").arg(key.toLower()));
        const std::pair<int, QByteArray> files[] = {{ColExePath, exe}, {ColISResult1, setup}, {ColPatchResultPath, patch}};
        for (const auto& [col, content] : files)
            if (!content.isEmpty())
                write(nativeOf(desk.grid.text(col, row)), content);
        return row;
    }
    static void write(const QString& path, const QByteArray& content)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }
    QByteArray cell(int col, int row) const { return Sandbox::readBytes(nativeOf(desk.grid.text(col, row))); }
    QString status(int row) const { return desk.grid.text(ColStatus, row); }
    static QStringList files(const QString& dir)
    {
        return QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    void startStation(SigningStation& station)
    {
        QString error;
        ASSERT_TRUE(station.start(&error)) << error.toStdString();
    }
};

QByteArray content(const char* tag)
{
    return QByteArray(tag) + QByteArray(600, '.');
}

bool isSignedFrom(const QByteArray& signedBytes, const QByteArray& original)
{
    return signedBytes.startsWith(original) && signedBytes.contains(signatureMarker());
}

} // namespace

TEST_F(SigningFixture, ExecutablesComeBackSignedFromTheStation)
{
    desk.signingWatch = false; // the poll alone, as on a share without change notification
    SigningStation station(box, 0.05);
    startStation(station);
    const QByteArray ledgerExe = content("ledger exe"), taxExe = content("tax exe"), payExe = content("pay exe");
    const int ledger = addProject(QStringLiteral("원장관리"), QStringLiteral("Ledger"), ledgerExe);
    const int tax = addProject(QStringLiteral("세금계산서"), QStringLiteral("Tax"), taxExe);
    const int pay = addProject(QStringLiteral("급여관리"), QStringLiteral("Pay"), payExe, {}, {}, QStringLiteral("0"));
    const int stock = addProject(QStringLiteral("재고관리"), QStringLiteral("Stock"), {}); // no executable

    EXPECT_TRUE(CodeSigning(desk, ColExePath, 0));
    EXPECT_EQ(ui.log, kSigningLog);
    EXPECT_TRUE(ui.messages.isEmpty());
    EXPECT_TRUE(isSignedFrom(cell(ColExePath, ledger), ledgerExe));
    EXPECT_TRUE(isSignedFrom(cell(ColExePath, tax), taxExe));
    EXPECT_EQ(cell(ColExePath, pay), payExe) << "an unticked row is not handed over";
    for (int row : {ledger, tax, stock})
        EXPECT_EQ(status(row), QStringLiteral("서명완료"));
    EXPECT_EQ(status(pay), QString());
    EXPECT_TRUE(files(signedDir).isEmpty()) << "taken-back files leave the signed folder";
    EXPECT_TRUE(files(unsignedDir).isEmpty()) << "the station moved what it signed";
}

TEST_F(SigningFixture, AStaleSignedFileNeverReplacesTheNewBuild)
{
    // Left by an earlier run: a signed namesake, and a stale unsigned one.
    const QByteArray exe = content("ledger exe");
    const int ledger = addProject(QStringLiteral("원장관리"), QStringLiteral("Ledger"), exe);
    write(unsignedDir + QStringLiteral("/Ledger.exe"), "stale");
    write(signedDir + QStringLiteral("/Ledger.exe"), "signed earlier");
    // While the wait runs, an old signed file turns up again (a restored backup).
    SigningStation station(box, 0.05);
    bool dropped = false;
    ui.onPump = [&] {
        if (dropped || ui.log.last() != kSigningLog[1])
            return;
        dropped = true;
        EXPECT_EQ(Sandbox::readBytes(unsignedDir + QStringLiteral("/Ledger.exe")), exe);
        const QString old = signedDir + QStringLiteral("/Ledger.exe");
        write(old, "signed earlier");
        QFile f(old);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.setFileTime(QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime);
        f.close();
        startStation(station);
    };

    EXPECT_TRUE(CodeSigning(desk, ColExePath, 0));
    ASSERT_TRUE(dropped);
    EXPECT_TRUE(isSignedFrom(cell(ColExePath, ledger), exe)) << "only what the station signed now comes back";
    EXPECT_EQ(status(ledger), QStringLiteral("서명완료"));
    // The earlier file is kept in a dated folder beside the signed one.
    const QStringList aside = QDir(box.drive(QStringLiteral("S")) + QStringLiteral("/Codesigning"))
                                  .entryList({QStringLiteral("signed_*")}, QDir::Dirs);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(Sandbox::readBytes(box.drive(QStringLiteral("S")) + QStringLiteral("/Codesigning/") + aside[0]
                                 + QStringLiteral("/Ledger.exe")),
              QByteArray("signed earlier"));
    EXPECT_EQ(ui.log[1], QStringLiteral("[경고] 원장관리 서명폴더의 이전 파일을 옮겼습니다.(S:\\Codesigning\\") + aside[0]
                             + QStringLiteral("\\Ledger.exe)"));
}

TEST_F(SigningFixture, AFailedHandOverEndsTheStep)
{
    const int ledger = addProject(QStringLiteral("원장관리"), QStringLiteral("Ledger"), content("exe"));
    QDir(unsignedDir).removeRecursively();
    write(unsignedDir, "a file where the folder should be");
    EXPECT_FALSE(CodeSigning(desk, ColExePath, 0));
    ASSERT_EQ(ui.tells().size(), 1);
    EXPECT_TRUE(ui.tells()[0].startsWith(QStringLiteral("Error copying File"))) << ui.tells()[0].toStdString();
    EXPECT_EQ(ui.log, (QStringList{kSigningLog[0], QStringLiteral("[오류] 원장관리 서명 작업폴더로 복사하지 못했습니다."
                                                                  "(S:\\Codesigning\\unsigned\\Ledger.exe)")}));
    EXPECT_EQ(cell(ColExePath, ledger), content("exe"));
}

TEST_F(SigningFixture, TheWaitShowsItsTimeAndClosingCancelsIt)
{
    const int ledger = addProject(QStringLiteral("원장관리"), QStringLiteral("Ledger"), content("exe"));
    // No station. The first close is answered No, the second Yes.
    ui.answers({false, true});
    QString shown;
    int closes = 0;
    ui.onPump = [&] {
        if (!desk.signingWaiting)
            return;
        if (status(ledger).startsWith(QStringLiteral("서명 대기중")))
            shown = status(ledger);
        if (closes < 2 && ui.messages.size() == closes) {
            ++closes;
            EXPECT_FALSE(desk.requestClose()) << "the window stays while the wait ends";
        }
    };
    EXPECT_FALSE(CodeSigning(desk, ColExePath, 0));
    EXPECT_EQ(ui.questions(), (QStringList{QStringLiteral("서명 대기를 중단할까요?"), QStringLiteral("서명 대기를 중단할까요?")}));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^서명 대기중\\.\\.\\. \\(00:00:\\d\\d\\)$")).match(shown).hasMatch())
        << shown.toStdString();
    EXPECT_EQ(ui.log.mid(2), (QStringList{QStringLiteral("[오류] 서명 대기를 중단했습니다."),
                                          QStringLiteral("[오류] 원장관리 서명파일이 돌아오지 않았습니다."
                                                         "(S:\\Codesigning\\signed\\Ledger.exe)")}));
    EXPECT_EQ(status(ledger), QStringLiteral("서명 중단")) << "the row no longer says it is waiting";
    EXPECT_FALSE(desk.closed);
    EXPECT_FALSE(desk.signingWaiting);
}

TEST_F(SigningFixture, TheSignedFileIsTakenBackWithoutWaitingForThePoll)
{
    desk.signingPollMs = 3600 * 1000;
    SigningStation station(box, 0.05);
    startStation(station);
    const QByteArray exe = content("ledger exe");
    const int ledger = addProject(QStringLiteral("원장관리"), QStringLiteral("Ledger"), exe);
    EXPECT_TRUE(CodeSigning(desk, ColExePath, 0));
    EXPECT_TRUE(isSignedFrom(cell(ColExePath, ledger), exe));
}

TEST_F(SigningFixture, AFileStillBeingWrittenIsNotTaken)
{
    desk.signingPollMs = 3600 * 1000;
    // When the file is taken is at stake here, not its signature.
    desk.signatureCheck = [](const QString&, const QStringList&) { return SignatureCheck{true, {}, {}}; };
    const int ledger = addProject(QStringLiteral("원장관리"), QStringLiteral("Ledger"), content("exe"));
    // A station that writes the signed file in place, a piece on every yield.
    int pieces = 0;
    ui.onPump = [&] {
        if (pieces == 5 || (pieces == 0 && ui.log.last() != kSigningLog[1]))
            return;
        QFile f(signedDir + QStringLiteral("/Ledger.exe"));
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write(QByteArray(100, char('1' + pieces++)));
    };
    EXPECT_TRUE(CodeSigning(desk, ColExePath, 0));
    EXPECT_EQ(cell(ColExePath, ledger), QByteArray(100, '1') + QByteArray(100, '2') + QByteArray(100, '3')
                                            + QByteArray(100, '4') + QByteArray(100, '5'));
}

TEST_F(SigningFixture, SetupSigningWithAndWithoutPatchOnly)
{
    SigningStation station(box, 0.05);
    startStation(station);
    const QByteArray setup = content("ledger setup"), patch = content("ledger patch"), taxPatch = content("tax patch");
    const int ledger = addProject(QStringLiteral("원장관리"), QStringLiteral("Ledger"), content("exe"), setup, patch);
    // The first file is missing: only the second one is signed.
    const int tax = addProject(QStringLiteral("세금계산서"), QStringLiteral("Tax"), content("exe"), {}, taxPatch);

    // Patch only: columns 17 and 0.
    EXPECT_TRUE(CodeSigning(desk, ColPatchResultPath, 0));
    EXPECT_EQ(cell(ColISResult1, ledger), setup);
    EXPECT_TRUE(isSignedFrom(cell(ColPatchResultPath, ledger), patch));
    EXPECT_TRUE(isSignedFrom(cell(ColPatchResultPath, tax), taxPatch));
    EXPECT_EQ(cell(ColExePath, ledger), content("exe"));

    // Full setup and patch: columns 12 and 17.
    const QByteArray signedPatch = cell(ColPatchResultPath, ledger);
    EXPECT_TRUE(CodeSigning(desk, ColISResult1, ColPatchResultPath));
    EXPECT_TRUE(isSignedFrom(cell(ColISResult1, ledger), setup));
    EXPECT_TRUE(isSignedFrom(cell(ColPatchResultPath, ledger), signedPatch)) << "signed again";
    EXPECT_FALSE(QFileInfo::exists(nativeOf(desk.grid.text(ColISResult1, tax))));
    EXPECT_EQ(status(tax), QStringLiteral("서명완료"));
    EXPECT_TRUE(files(signedDir).isEmpty());
    EXPECT_TRUE(ui.messages.isEmpty());
}

TEST_F(SigningFixture, AFailedTakeBackKeepsTheProjectFileAndTheSignedCopy)
{
    const QByteArray bigExe(8192, 'E'), smallExe = "small exe";
    const int ledger = addProject(QStringLiteral("원장관리"), QStringLiteral("Ledger"), bigExe);
    const int tax = addProject(QStringLiteral("세금계산서"), QStringLiteral("Tax"), smallExe);
    const QByteArray bigSigned = bigExe + signatureMarker(), smallSigned = smallExe + signatureMarker();

    // The take-back writes into a full disk: files above 4 KiB cannot be written.
    struct rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    bool limited = false, delivered = false;
    ui.onPump = [&] {
        if (!delivered && ui.log.last() == kSigningLog[1]) {
            delivered = true;
            write(signedDir + QStringLiteral("/Ledger.exe"), bigSigned);
            write(signedDir + QStringLiteral("/Tax.exe"), smallSigned);
        }
        if (!limited && !ui.log.isEmpty() && ui.log.last() == kSigningLog[2]) {
            struct rlimit small = saved;
            small.rlim_cur = 4096;
            limited = ::setrlimit(RLIMIT_FSIZE, &small) == 0;
        }
    };
    const bool result = CodeSigning(desk, ColExePath, 0);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_TRUE(limited);

    EXPECT_FALSE(result) << "a file that was not put in place fails the step";
    ASSERT_EQ(ui.tells().size(), 1);
    EXPECT_TRUE(ui.tells()[0].startsWith(QStringLiteral("Error copying File"))) << ui.tells()[0].toStdString();
    EXPECT_EQ(ui.log.last(),
              QStringLiteral("[오류] 원장관리 서명파일을 복사하지 못했습니다.(S:\\Codesigning\\signed\\Ledger.exe)"));
    EXPECT_EQ(cell(ColExePath, ledger), bigExe) << "the project's file is kept";
    EXPECT_EQ(Sandbox::readBytes(signedDir + QStringLiteral("/Ledger.exe")), bigSigned) << "and the signed copy";
    EXPECT_EQ(status(ledger), QStringLiteral("서명파일 복사 실패"));
    // The other row is still taken back.
    EXPECT_EQ(cell(ColExePath, tax), smallSigned);
    EXPECT_EQ(status(tax), QStringLiteral("서명완료"));
    EXPECT_EQ(files(signedDir), QStringList{QStringLiteral("Ledger.exe")});
    EXPECT_EQ(files(box.drive(QStringLiteral("C")) + QStringLiteral("/Src/Ledger")), QStringList{QStringLiteral("Ledger.exe")})
        << "no temporary file is left beside the project's file";
}

TEST_F(SigningFixture, PollIntervalFromTheSiteFile)
{
    EXPECT_EQ(signingPollMsFromSite(), 10000);
    Sandbox::writeAnsi(box.home() + QStringLiteral("/site.ini"), QStringLiteral("[Signing]\nPollMs=250\n"));
    EXPECT_EQ(signingPollMsFromSite(), 250);
    Sandbox::writeAnsi(box.home() + QStringLiteral("/site.ini"), QStringLiteral("[Signing]\nPollMs=soon\n"));
    EXPECT_EQ(signingPollMsFromSite(), 10000);
}

// The driver with the attached steps: compile, then executable signing.
TEST_F(SigningFixture, DriverCompilesAndSignsWithTheStandIns)
{
    installStandInTools(box, QStringLiteral("C:\\Tools\\upx.exe"));
    QDir().mkpath(box.drive(QStringLiteral("C")) + QStringLiteral("/Release"));
    box.writeIni(QStringLiteral("demo.ini"),
                 QStringLiteral("[General]\r\nUpxExePath=C:\\Tools\\upx.exe\r\n[Distribute]\r\nPath1=C:\\Release\r\n"
                                "[Project]\r\nProjectCount=2\r\nProject1=원장관리\r\nProject2=세금계산서\r\n"
                                "[Project1]\r\nVbpPath=C:\\Src\\Ledger\\Ledger.vbp\r\nExePath=C:\\Src\\Ledger\\Ledger.exe\r\n"
                                "ISResult1=C:\\Setup\\Output\\ledger_setup_2.exe\r\n"
                                "[Project2]\r\nVbpPath=C:\\Src\\Tax\\Tax.vbp\r\nExePath=C:\\Src\\Tax\\Tax.exe\r\n"
                                "ISResult1=C:\\Setup\\Output\\tax_setup_2.exe\r\n"));
    VbpSpec spec;
    spec.minor = 604;
    spec.revision = 7;
    writeVbp(nativeOf(QStringLiteral("C:\\Src\\Ledger\\Ledger.vbp")), spec);
    SigningStation station(box, 0.05);
    startStation(station);

    attachSteps(desk);
    desk.signingPollMs = 20;
    desk.now = [] { return QDateTime(QDate(2026, 12, 9), QTime(10, 0)); };
    desk.Form_Load();
    desk.visible = true;
    desk.setTicked(1, true);
    for (int i = 0; i < 6; ++i)
        desk.setStep(i, i == StepCompile || i == StepBuildSign);
    ui.messages.clear();
    ui.answer(true);
    EXPECT_EQ(desk.btnTrans_Click(), Desk::RunResult::Finished) << ui.log.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(ui.log.mid(1, 8),
              (QStringList{QStringLiteral("[경고] 원장관리 이전 실행파일이 존재하지 않습니다.(C:\\Src\\Ledger\\Ledger.exe)"),
                           QStringLiteral("[정상] 원장관리 컴파일중..."), QStringLiteral("[정상] 원장관리 UPX 압축/해제완료"),
                           QString(), kSigningLog[0], kSigningLog[1], kSigningLog[2],
                           QStringLiteral("Finish! 10:00:00")}));
    const QByteArray exe = Sandbox::readBytes(nativeOf(QStringLiteral("C:\\Src\\Ledger\\Ledger.exe")));
    EXPECT_TRUE(exe.startsWith("MZ"));
    EXPECT_TRUE(exe.contains(signatureMarker()));
    EXPECT_EQ(desk.grid.text(ColStatus, 1), QStringLiteral("서명완료"));
    EXPECT_EQ(desk.grid.text(ColStatus, 2), QString());
}

// A file the station hands back is put in place only when its Authenticode
// signature chains to a certificate site.ini names (none named: the system's
// authorities); unsigned or foreign-signed files stop their product, named in
// the log, and replace nothing.
TEST_F(SigningFixture, OnlyFilesSignedWithTheSiteCertificateAreTakenBack)
{
    desk.signatureCheck = checkAuthenticode;
    auto makeCertificate = [&](const QString& stem, const QString& cn) {
        QProcess p;
        p.start(QStringLiteral("openssl"),
                {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                 QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                 QStringLiteral("/CN=") + cn, QStringLiteral("-keyout"), box.home() + QLatin1Char('/') + stem + QStringLiteral("-key.pem"),
                 QStringLiteral("-out"), box.home() + QLatin1Char('/') + stem + QStringLiteral(".pem")});
        return p.waitForFinished(60000) && p.exitCode() == 0;
    };
    ASSERT_TRUE(makeCertificate(QStringLiteral("site"), QStringLiteral("Site Signing")));
    ASSERT_TRUE(makeCertificate(QStringLiteral("foreign"), QStringLiteral("Someone Else")));
    Sandbox::writeAnsi(box.home() + QStringLiteral("/site.ini"), QStringLiteral("[Signing]\nCertificate=site.pem\n"));
    ASSERT_EQ(signingCertificatesFromSite(), QStringList{box.home() + QStringLiteral("/site.pem")});

    const struct {
        const char* station; // what the station signs with
        QString found;       // empty: taken back
        const char* site = "site.pem"; // [Signing] Certificate
    } cases[] = {
        {"site", QString()},
        {"foreign", QStringLiteral("설정된 인증서로 확인되지 않는 서명 (self-signed certificate), 서명자 /CN=Someone Else")},
        {"missing", QStringLiteral("서명 없음")}, // cannot sign: hands the file back as it was
        {"missing", QStringLiteral("서명 없음"), ""}, // nothing configured is no licence to publish unsigned
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.station) + " / Certificate=" + c.site);
        Sandbox::writeAnsi(box.home() + QStringLiteral("/site.ini"),
                           QStringLiteral("[Signing]\nCertificate=") + QLatin1String(c.site) + QLatin1Char('\n'));
        ui.log.clear();
        desk.grid.clear();
        const QString exe = box.drive(QStringLiteral("C")) + QStringLiteral("/Src/Ledger/Ledger.exe");
        QDir().mkpath(QFileInfo(exe).absolutePath());
        QString error;
        ASSERT_FALSE(makePe(exe, {QStringLiteral("--version"), QStringLiteral("1.2.3.4")}, &error).isEmpty())
            << error.toStdString();
        const QByteArray built = Sandbox::readBytes(exe);
        const int row = addProject(QStringLiteral("원장관리"), QStringLiteral("Ledger"), {});
        SigningStation station(box, 0.05);
        station.signWith(box.home() + QLatin1Char('/') + QLatin1String(c.station) + QStringLiteral(".pem"),
                         box.home() + QLatin1Char('/') + QLatin1String(c.station) + QStringLiteral("-key.pem"));
        startStation(station);
        EXPECT_TRUE(CodeSigning(desk, ColExePath, 0));
        const SignatureCheck now = checkAuthenticode(exe, signingCertificatesFromSite());
        if (c.found.isEmpty()) {
            EXPECT_EQ(ui.log, kSigningLog);
            EXPECT_TRUE(now.ok) << now.found.toStdString();
            EXPECT_EQ(now.signer, QStringLiteral("/CN=Site Signing"));
            EXPECT_TRUE(desk.isTicked(row));
            continue;
        }
        EXPECT_EQ(ui.log.mid(3), QStringList{QStringLiteral("[오류] 원장관리 서명이 올바르지 않아 배포하지 않습니다."
                                                            "(S:\\Codesigning\\signed\\Ledger.exe: ")
                                              + c.found + QLatin1Char(')')});
        EXPECT_EQ(Sandbox::readBytes(exe), built) << "the build stays as it was";
        EXPECT_FALSE(desk.isTicked(row)) << "the product goes no further";
        EXPECT_EQ(status(row), QStringLiteral("서명 오류"));
        QFile::remove(signedDir + QStringLiteral("/Ledger.exe"));
    }
}
