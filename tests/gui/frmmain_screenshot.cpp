// The main window for the documentation (docs/screenshot.png): the demo setup
// after a release run, drawn offscreen. Not a test; scripts/screenshot.sh
// builds and runs it.
//
//   frmmain_screenshot OUT.png [SMALL.png]   (SMALL: the same at 1024 x 700)
#include "config/projectrow.h"
#include "pipeline/desk.h"
#include "sandbox.h"
#include "testinteraction.h"
#include "ui/frmmain.h"
#include "ui/guimain.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>

#include <cstdio>

using namespace rh;
using rh::test::Sandbox;
using rh::test::TestInteraction;

namespace {

const char* kDemo = R"([General]
ProjGrop1=회계;Project1,Project2,Project3
ProjGrop2=인사급여;Project4,Project5
ProjGrop3=물류;Project6,Project7
ProjGrop4=웹;Project8
ProjGrop5=전체;Project1,Project2,Project3,Project4,Project5,Project6,Project7,Project8
업무일지ID=dev01
RecentProjects=;1;2;3;6

[Distribute]
Path1=FTP 다운로드
Path2=\\fileserver\프로그램셋업\1_정식버전
Path3=C:\2TarvelInstalls\배포

[Project]
ProjectCount=8
Project1=원장관리
Project2=세금계산서
Project3=회계결산
Project4=인사관리
Project5=급여관리
Project6=재고관리
Project7=물류센터
Project8=웹인증관리

[Project1]
VbpPath=D:\src\ledger\ledger.vbp
ExePath=D:\src\ledger\ledger.exe
ISProject1=D:\setup\ledger\ledger.ISM
ISResult1=D:\ISResult\ledger_setup_2.exe
ISResult2=D:\ISResult\ledger_full_2.exe
업무일지CODE=101
웹게시CODE=W11
[Project2]
VbpPath=D:\src\tax\taxinvoice.vbp
ExePath=D:\src\tax\taxinvoice.exe
ISProject1=D:\setup\tax\taxinvoice.iss
ISResult1=D:\ISResult\taxinvoice_setup_2.exe
업무일지CODE=102
웹게시CODE=W12
[Project3]
VbpPath=D:\src\closing\closing.vbp
ExePath=D:\src\closing\closing.exe
ISProject1=D:\setup\closing\closing.iss
ISResult1=D:\ISResult\closing_setup_2.exe
업무일지CODE=103
[Project4]
ProjectType=1
VbpPath=D:\src\hr\hr.vbp
ExePath=D:\src\hr\hr.exe
ISProject1=D:\setup\hr\hr.iss
ISResult1=D:\ISResult\hr_setup_2.exe
업무일지CODE=201
[Project5]
VbpPath=D:\src\pay\payroll.vbp
ExePath=D:\src\pay\payroll.exe
ISProject1=D:\setup\pay\payroll.ISM
ISResult1=D:\ISResult\payroll_setup_2.exe
업무일지CODE=202
[Project6]
VbpPath=D:\src\stock\stock.vbp
ExePath=D:\src\stock\stock.exe
ISProject1=D:\setup\stock\stock.iss
ISResult1=D:\ISResult\stock_setup_2.exe
업무일지CODE=301
[Project7]
VbpPath=D:\src\logistics\center.vbp
ExePath=D:\src\logistics\center.exe
ISProject1=D:\setup\logistics\center.iss
ISResult1=D:\ISResult\center_setup_2.exe
[Project8]
ProjectType=1
VbpPath=D:\src\webauth\webauth.vbp
ExePath=D:\src\webauth\webauth.exe
ISProject1=D:\setup\webauth\webauth.iss
ISResult1=D:\ISResult\webauth_setup_2.exe
)";

const char* kWeb = R"([Project]
ProjectCount=2
Project1=전자결재
Project2=메신저
)";

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: frmmain_screenshot OUT.png [SMALL.png]\n");
        return 2;
    }
    setupGuiApplication(app);
    Sandbox box;
    TestInteraction ui;
    box.writeIni(QStringLiteral("tarvel_main.ini"), QString::fromUtf8(kDemo));
    box.writeIni(QStringLiteral("tarvel_web.ini"), QString::fromUtf8(kWeb));
    Desk desk;
    desk.now = [] { return QDateTime(QDate(2024, 5, 16), QTime(10, 2, 11)); }; // a Thursday
    FrmMain w(desk);
    desk.Form_Load();
    w.show();
    desk.visible = true;

    // The window after a run over the four ticked projects: status and version
    // columns written, the run log, the FTP frame showing the last upload.
    desk.txtLog.clear();
    Q_EMIT desk.logCleared();
    const char* versions[] = {"2.405.12", "1.405.3", "3.405.1", "", "", "4.405.7"};
    const char* states[] = {"배포완료", "배포완료", "배포완료(패치 없음)", "", "", "배포완료"};
    for (int r = 1; r <= 6; ++r) {
        desk.grid.setText(ColFileVersion, r, QString::fromUtf8(versions[r - 1]));
        desk.grid.setText(ColStatus, r, QString::fromUtf8(states[r - 1]));
    }
    for (const char* line :
         {"Start...10:02:11", "[정상] 원장관리 컴파일 완료(D:\\src\\ledger\\ledger.exe)",
          "[정상] 세금계산서 컴파일 완료(D:\\src\\tax\\taxinvoice.exe)",
          "[정상] 회계결산 컴파일 완료(D:\\src\\closing\\closing.exe)",
          "[정상] 재고관리 컴파일 완료(D:\\src\\stock\\stock.exe)", "[정상] 빌드서명 완료",
          "[경고] 회계결산 패치파일이 없습니다.", "[정상] 셋업서명 완료", "[정상] 배포파일 전송중...",
          "[정상] FTP파일명 _2제거성공: ledger_setup_2.exe",
          "[정상] FTP파일명 _2제거성공: stock_setup_2.exe", "Finish! 10:06:52", "경과시간: 00:04:41"})
        desk.AddLog(QString::fromUtf8(line));
    desk.ftpStatus.fileName = QStringLiteral("C:\\2TarvelInstalls\\stock_setup_2.exe");
    desk.ftpStatus.celkem = QStringLiteral("48,213,504");
    desk.ftpStatus.far = QStringLiteral("48,213,504");
    desk.ftpStatus.left = QStringLiteral("0");
    desk.ftpStatus.time = QStringLiteral("00:01:05");
    desk.ftpStatus.timeLeft = QStringLiteral("00:00:00");
    desk.ftpStatus.speed = QStringLiteral("724.36");
    desk.ftpStatus.progressMax = 48213504;
    desk.ftpStatus.progressValue = 48213504;
    Q_EMIT desk.changed();
    desk.grid.setActiveCell(ColStatus, 1);
    QApplication::processEvents();

    const QString file = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(QFileInfo(file).absolutePath());
    if (!w.grab().toImage().save(file)) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    if (argc > 2) {
        w.resize(1024, 700);
        QApplication::processEvents();
        if (!w.grab().save(QString::fromLocal8Bit(argv[2])))
            return 1;
    }
    return 0;
}
