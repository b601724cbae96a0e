// The release driver (btnTrans_Click) and the run log.
#include "config/projectrow.h"
#include "config/vbtext.h"
#include "pipeline/desk.h"
#include "platform/drivemap.h"
#include "platform/errors.h"
#include "platform/interaction.h"
#include "platform/journal.h"

#include <QFileInfo>

#include <algorithm>

namespace rh {
namespace {

QString timeOfDay(const QDateTime& t)
{
    return t.time().toString(QStringLiteral("HH:mm:ss"));
}

// HH:MM:SS of the true elapsed time, also across midnight.
QString elapsedText(const QDateTime& start, const QDateTime& end)
{
    qint64 secs = std::max<qint64>(0, start.secsTo(end));
    const qint64 h = secs / 3600;
    const qint64 m = (secs % 3600) / 60;
    const qint64 s = secs % 60;
    return QStringLiteral("%1:%2:%3")
        .arg(h, 2, 10, QLatin1Char('0'))
        .arg(m, 2, 10, QLatin1Char('0'))
        .arg(s, 2, 10, QLatin1Char('0'));
}

bool folderExists(const QString& windowsPath)
{
    QString err;
    const QString native = nativePath(windowsPath, &err);
    return !native.isEmpty() && QFileInfo(native).isDir();
}

} // namespace

void Desk::AddLog(const QString& text)
{
    if (m_running && text.startsWith(QStringLiteral("[오류] ")))
        m_runErrors.append(text);
    txtLog += text + QStringLiteral("\r\n");
    if (m_running)
        m_runLines.append({journal().step(), m_runProject, text});
    if (m_runLog.isOpen())
        m_runLog.write(text.toUtf8() + '\n');
    Q_EMIT logAppended(text);
    interaction().logLine(text);
}

void Desk::EnableControls(bool enable)
{
    btnTrans.enabled = enable;
    btnSourceMerge.enabled = enable;
    setupsEnabled = enable;
    stepFrameEnabled = enable;
    for (CheckBox& c : chkStep)
        c.enabled = enable;
    projectFrameEnabled = enable;
    destFrameEnabled = enable;
    ftpFrameEnabled = enable;
    Q_EMIT changed();
}

bool Desk::IsVersionUpDoneToday() const
{
    if (IniPath.isEmpty())
        return true;
    const ProfileFile file = ProfileFile::load(IniPath);
    const QString today = now().date().toString(QStringLiteral("yyyy-MM-dd"));
    for (int r = 1; r <= grid.maxRows(); ++r) {
        if (!isTicked(r))
            continue;
        const QString v = vbTrim(file.getText(grid.text(ColSectionKey, r), inikey::lastVersionUp(),
                                              QString(), 200));
        if (v.left(10) != today)
            return false;
    }
    return true;
}

Desk::RunResult Desk::cmdAllStep_Click()
{
    for (int i = 0; i < 6; ++i)
        setStep(i, true);
    return btnTrans_Click();
}

Desk::RunResult Desk::btnTrans_Click()
{
    m_lastResult = RunResult::Refused;
    if (m_running)
        return m_lastResult;

    if (!askYesNo(QStringLiteral("정말 시작할까요?")))
        return m_lastResult;
    if (selCount == 0) {
        tell(QStringLiteral("선택된 프로젝트가 없습니다."));
        return m_lastResult;
    }
    const QStringList destinations = lstDest.selectedItems();
    if (chkStep[StepDistribute].checked && destinations.isEmpty()) {
        interaction().tell(QStringLiteral("먼저 전송 목적지를 선택하세요."),
                           QStringLiteral("전송목적지 누락"), MsgIcon::None);
        return m_lastResult;
    }
    for (const QString& d : destinations) {
        if (d.left(2) == QLatin1String("\\\\") || d.left(3) == QLatin1String("FTP"))
            continue;
        if (!folderExists(d)) {
            tell(QStringLiteral("전송목적지 경로가 존재하지 않습니다.\r\n") + d);
            return m_lastResult;
        }
    }
    if (!folderExists(QStringLiteral("S:\\"))) {
        tell(QStringLiteral("S:드라이버를 찾을 수 없습니다."));
        return m_lastResult;
    }
    if (cmdVerUp.tag == QLatin1String("Y") && !IsVersionUpDoneToday()) {
        if (!interaction().askYesNo(
                QStringLiteral("버전업을 하지 않은 프로젝트가 있습니다. 그래도 시작하시겠습니까?"),
                QStringLiteral("버전업 확인"), MsgIcon::Question, true))
            return m_lastResult;
    }

    // The selection is kept from the start: however the run ends (even
    // killed), the next start offers the same ticks.
    if (!chkDryRun.checked)
        SaveRecentProjects();
    m_running = true;
    runCancelled = false;
    m_runErrors.clear();
    failedUploads.clear();
    interaction().setBusy(true);
    EnableControls(false);
    txtLog.clear();
    Q_EMIT logCleared();
    const QDateTime start = now();
    beginRecord(start);
    AddLog(QStringLiteral("Start...") + timeOfDay(start));
    if (chkDryRun.checked)
        AddLog(QStringLiteral("[모의실행] 파일, 프로그램, FTP, 데이터베이스는 그대로 두고 할 일만 기록합니다."));

    m_lastResult = RunResult::Stopped;
    bool closedAfter = false;
    {
        // Whatever a message box says during the run is in the run log too.
        RunLogMirror mirror([this](const QString& line) { AddLog(line); });
        runStarted = start;
        if (!steps.preflight || steps.preflight()) {
            if (steps.sendPending)
                steps.sendPending();
            runChainInto(&m_lastResult, &closedAfter, start);
        }
        if (runCancelled && m_lastResult != RunResult::FtpFailed) {
            m_lastResult = RunResult::Cancelled;
            closedAfter = false; // the log stays in view
            AddLog(QStringLiteral("취소됨 ") + timeOfDay(now()));
        }
        // Verification, timings and the report; the error count ends the log.
        endRecord(start);
    }

    m_running = false;
    Q_EMIT changed(); // 중지 is over before the completion message
    if (closedAfter)
        return m_lastResult;
    if (m_lastResult == RunResult::Finished && !chkEndUnload.checked)
        tell(QStringLiteral("처리가 완료 되었습니다.")
             + (chkDryRun.checked ? QStringLiteral("\r\n(모의실행: 할 일만 기록했고 바뀐 것은 없습니다.)") : QString())
             + (m_runErrors.isEmpty() ? QString() : QStringLiteral("\r\n") + runErrorSummary()));
    interaction().setBusy(false);
    EnableControls(true);
    return m_lastResult;
}

QString Desk::runErrorSummary() const
{
    // The products concerned: the longest project name each line begins
    // with, and every product whose upload failed.
    QStringList names;
    auto add = [&names](const QString& name) {
        if (!name.isEmpty() && !names.contains(name))
            names.append(name);
    };
    const QString prefix = QStringLiteral("[오류] ");
    for (const QString& line : m_runErrors) {
        QString best;
        for (int r = 1; r <= grid.maxRows(); ++r) {
            const QString name = grid.text(ColProjectName, r);
            if (!name.isEmpty() && name.size() > best.size() && isTicked(r)
                && line.mid(prefix.size()).startsWith(name))
                best = name;
        }
        add(best);
    }
    QList<int> failed = failedUploads.values();
    std::sort(failed.begin(), failed.end());
    for (int r : failed)
        add(grid.text(ColProjectName, r));
    QString text = QStringLiteral("오류 ") + QString::number(m_runErrors.size()) + QStringLiteral("건");
    if (!names.isEmpty())
        text += QStringLiteral(": ") + names.join(QStringLiteral(", "));
    return text;
}

void Desk::runChainInto(RunResult* result, bool* closedAfter, const QDateTime& start)
{
    // A step that throws is reported under the driver's name and stops the
    // chain: its work is in an unknown state, so no later step may build on it.
    auto call = [&](int box, const std::function<bool()>& step) -> bool {
        if (stopBetweenUnits())
            return false;
        beginStep(box);
        bool ok = false;
        try {
            ok = step();
        } catch (const RhError& e) {
            tell(formErrorText(e.number(), e.description(), QStringLiteral("btnTrans_Click")));
        } catch (const std::exception& e) {
            tell(formErrorText(err::InvalidProcedureCall, QString::fromUtf8(e.what()),
                               QStringLiteral("btnTrans_Click")));
        }
        stepClock.endStep(ok);
        endStepProgress();
        journal().setStep(QString());
        m_runProject.clear();
        return ok;
    };

    if (chkStep[StepRun].checked && steps.step1_1 && !call(StepRun, steps.step1_1))
        return;
    if (chkStep[StepCompile].checked && steps.step1_2 && !call(StepCompile, steps.step1_2))
        return;
    if (chkStep[StepBuildSign].checked && steps.codeSigning
        && !call(StepBuildSign, [this] { return steps.codeSigning(ColExePath, 0); }))
        return;
    if (chkStep[StepSetup].checked && steps.step2 && !call(StepSetup, steps.step2))
        return;
    if (chkStep[StepSetupSign].checked && steps.codeSigning) {
        const bool patchOnly = chkPatchOnly.checked;
        if (!call(StepSetupSign, [this, patchOnly] {
                return patchOnly ? steps.codeSigning(ColPatchResultPath, 0)
                                 : steps.codeSigning(ColISResult1, ColPatchResultPath);
            }))
            return;
    }
    if (chkStep[StepDistribute].checked && steps.step3) {
        if (!call(StepDistribute, steps.step3) || runCancelled)
            return;
        if (chkEndUnload.checked) {
            *result = RunResult::Closed;
            *closedAfter = true;
            interaction().setBusy(false);
            requestClose();
            return;
        }
    }
    const QDateTime end = now();
    AddLog(QStringLiteral("Finish! ") + timeOfDay(end));
    AddLog(QStringLiteral("경과시간: ") + elapsedText(start, end));
    *result = RunResult::Finished;
}

} // namespace rh
