#include "pipeline/runcompile.h"

#include "config/projectrow.h"
#include "pipeline/desk.h"
#include "pipeline/stepfiles.h"
#include "site/apphome.h"
#include "platform/interaction.h"
#include "platform/launcher.h"

namespace rh {
namespace {

void setStatus(Desk& desk, int row, const QString& text)
{
    desk.grid.setActiveCell(ColStatus, row);
    desk.grid.setText(ColStatus, row, text);
}

} // namespace

QString developmentEnvironmentPath()
{
    return QStringLiteral("C:\\Program Files\\Microsoft Visual Studio\\VB98\\vb6.exe");
}

bool Step1_1(Desk& desk)
{
    const QString procedure = QStringLiteral("Step1_1");
    // The statements below trap nothing themselves (their failures are
    // results); anything unexpected ends the step instead of the run.
    try {
        for (int row = 1; row <= desk.grid.maxRows(); ++row) {
            if (!desk.isTicked(row))
                continue;
            if (desk.stopBetweenUnits())
                return false;
            setStatus(desk, row, QStringLiteral("Run..."));
            const QString name = desk.grid.text(ColProjectName, row);
            const QString vbp = desk.grid.text(ColVbpPath, row);
            if (!stepFileExists(vbp)) {
                desk.AddLog(QStringLiteral("[오류] ") + name + QStringLiteral(" VBP파일이 존재하지 않습니다.(")
                            + vbp + QLatin1Char(')'));
            } else {
                desk.AddLog(QStringLiteral("[정상] ") + name + QStringLiteral(" Running..."));
                // Quoted: unquoted, a planted "C:\Program" would be the program.
                LaunchOptions options;
                options.mode = WindowMode::Normal;
                QString why;
                const qint64 pid = startCommandLine(quoteArgument(developmentEnvironmentPath())
                                                        + QStringLiteral(" /runexit ") + quoteArgument(vbp),
                                                    options, &why);
                if (pid == 0) {
                    desk.AddLog(toolStartFailedLine(name, developmentEnvironmentPath(), why));
                    desk.AddLog(QStringLiteral("[오류] ") + name + QStringLiteral(" Run 실패!(processID=0)"));
                    return false;
                }
                const bool waited = WaitForProcessEnded(pid);
                if (desk.toolStopped(name, developmentEnvironmentPath()))
                    return false;
                if (!waited) {
                    desk.AddLog(QStringLiteral("[오류] ") + name
                                + QStringLiteral(" Run 실패!(WaitForProcessEnded)"));
                    return false;
                }
            }
            setStatus(desk, row, QStringLiteral("RUN 끝"));
        }
        if (!interaction().askYesNo(QStringLiteral("모든 빌드가 정상인가요? 계속 진행할까요?"),
                                    QStringLiteral("계속 진행?"), MsgIcon::Question, false))
            return false;
        desk.AddLog(QString());
        return true;
    } catch (const std::exception& e) {
        showTrappedError(procedure, e);
    }
    return false;
}

bool Step1_2(Desk& desk)
{
    const QString procedure = QStringLiteral("Step1_2");
    try {
        const QString upx = desk.UpxExePath;
        if (!stepFileExists(upx)) {
            desk.AddLog(QStringLiteral("[오류] 실행파일 압축프로그램(UPX)을 찾을 수 없습니다.(") + upx
                        + QLatin1Char(')'));
            return false;
        }
        const QString folder = programFolder();
        for (int row = 1; row <= desk.grid.maxRows(); ++row) {
            if (!desk.isTicked(row))
                continue;
            if (desk.stopBetweenUnits())
                return false;
            setStatus(desk, row, QStringLiteral("컴파일..."));
            const QString name = desk.grid.text(ColProjectName, row);
            const QString exe = desk.grid.text(ColExePath, row);
            if (stepFileExists(exe)) {
                // An old executable that stays would pass the check below as
                // the new build: the row fails instead.
                if (!trapped(procedure, [&] { stepDeleteFile(exe); })) {
                    desk.AddLog(QStringLiteral("[오류] ") + name
                                + QStringLiteral(" 이전 실행파일을 삭제할 수 없습니다.(") + exe + QLatin1Char(')'));
                    return false;
                }
                desk.AddLog(QStringLiteral("[정상] ") + name + QStringLiteral(" 이전 실행파일 삭제"));
            } else {
                desk.AddLog(QStringLiteral("[경고] ") + name
                            + QStringLiteral(" 이전 실행파일이 존재하지 않습니다.(") + exe + QLatin1Char(')'));
            }

            const QString vbp = desk.grid.text(ColVbpPath, row);
            // A compiler that cannot be started says so; the check below then
            // offers the retry (a drive may be mapped in the meantime).
            // A compiler that could not start or a missing project file stays
            // so on a retry: the question then defaults to No.
            bool compilerStarted = false;
            auto make = [&] {
                QString why;
                compilerStarted = ShellExecuteAndWait(developmentEnvironmentPath(), 0,
                                                      QStringLiteral("/make ") + quoteArgument(vbp), folder, false,
                                                      true, &why);
                if (desk.toolStopped(name, developmentEnvironmentPath()))
                    return;
                if (!compilerStarted)
                    desk.AddLog(toolStartFailedLine(name, developmentEnvironmentPath(), why));
            };
            if (!stepFileExists(vbp)) {
                // No make run; the check below fails and offers the retry.
                desk.AddLog(QStringLiteral("[오류] ") + name + QStringLiteral(" VBP파일이 존재하지 않습니다.(")
                            + vbp + QLatin1Char(')'));
            } else {
                desk.AddLog(QStringLiteral("[정상] ") + name + QStringLiteral(" 컴파일중..."));
                make();
            }
            while (!desk.runCancelled && !stepOutputExists(exe, QStringLiteral("컴파일러"))) {
                if (!interaction().askRetry(QStringLiteral("컴파일이 실패하였습니다. 다시 시도 하시겠습니까?"),
                                            QStringLiteral("컴파일 재시도"),
                                            compilerStarted && stepFileExists(vbp))) {
                    desk.AddLog(QStringLiteral("[오류] ") + name
                                + QStringLiteral(" 컴파일된 EXE파일이 존재하지 않습니다.(") + exe
                                + QLatin1Char(')'));
                    return false;
                }
                make();
            }
            if (desk.runCancelled)
                return false;

            // The packer's results are not examined: only the executable
            // counts. A packer that cannot be started ends the step.
            for (const QString& args : {quoteArgument(exe), QStringLiteral("-d ") + quoteArgument(exe)}) {
                QString why;
                if (!ShellExecuteAndWait(upx, 0, args, folder, false, true, &why)) {
                    if (desk.toolStopped(name, upx))
                        return false;
                    desk.AddLog(toolStartFailedLine(name, upx, why));
                    return false;
                }
            }
            desk.AddLog(QStringLiteral("[정상] ") + name + QStringLiteral(" UPX 압축/해제완료"));
            setStatus(desk, row, QStringLiteral("컴파일 끝"));
            desk.AddLog(QString());
        }
        return true;
    } catch (const std::exception& e) {
        showTrappedError(procedure, e);
    }
    return false;
}

} // namespace rh
