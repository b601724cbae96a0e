// The run as a whole: its planned units of work, how far it got, the stop
// between units, the responsiveness probe, and the grid a dry run leaves.
#include "config/projectrow.h"
#include "pipeline/desk.h"
#include "platform/journal.h"
#include "platform/launcher.h"

#include <QFileInfo>

namespace rh {

QList<RunUnit> Desk::plannedUnits() const
{
    // The driver's order; a step without a function attached does not run.
    const std::pair<int, bool> order[] = {
        {StepRun, bool(steps.step1_1)},        {StepCompile, bool(steps.step1_2)},
        {StepBuildSign, bool(steps.codeSigning)}, {StepSetup, bool(steps.step2)},
        {StepSetupSign, bool(steps.codeSigning)}, {StepDistribute, bool(steps.step3)}};
    QList<RunUnit> units;
    for (const auto& [box, attached] : order) {
        if (!attached || !chkStep[size_t(box)].checked)
            continue;
        for (int r = 1; r <= grid.maxRows(); ++r)
            if (isTicked(r))
                units.append({stepCaption(box), grid.text(ColProjectName, r)});
    }
    return units;
}

void Desk::beginProgress()
{
    stopRequested = false;
    m_stopLogged = false;
    m_dryRunCells.clear();
    if (chkDryRun.checked) {
        for (int r = 1; r <= grid.maxRows(); ++r)
            for (int c = 2; c <= grid.maxCols(); ++c)
                m_dryRunCells.append({{c, r}, grid.text(c, r)});
    }
    const QString logs = QFileInfo(runFileBase).absolutePath();
    progress.start(plannedUnits(), UnitHistory::load(logs));
    // The unit of work and the last side effect say where a long gap began.
    probe.where = [this] {
        QString at = progress.statusText();
        const QList<JournalEntry>& done = journal().entries();
        if (!done.isEmpty())
            at += QStringLiteral(" / ") + effectKindLabel(done.last().kind) + QLatin1Char(' ') + done.last().target;
        return at;
    };
    probe.start();
    Q_EMIT progressChanged();
}

void Desk::endStepProgress()
{
    progress.endStep();
    Q_EMIT progressChanged();
}

void Desk::endProgress()
{
    probe.stop();
    progress.stop();
    AddLog(QStringLiteral("  화면 응답 최대 간격: ") + QString::number(probe.longestGapMs()) + QStringLiteral("ms")
           + (probe.longestGapAfter().isEmpty() ? QString() : QStringLiteral(" (") + probe.longestGapAfter() + QLatin1Char(')')));
    Q_EMIT progressChanged();
}

// A dry run only planned: the versions, times and statuses it wrote into the
// grid are what a real run would write, so they go back to what they were.
void Desk::restoreDryRunCells()
{
    for (const auto& [cell, text] : m_dryRunCells)
        if (cell.second <= grid.maxRows() && grid.text(cell.first, cell.second) != text)
            grid.setText(cell.first, cell.second, text);
    m_dryRunCells.clear();
}

void Desk::requestStop()
{
    if (!m_running)
        return;
    stopRequested = true;
    cancelRequested = true; // an upload or the signing wait asks at once
    Q_EMIT changed();
}

bool Desk::stopBetweenUnits()
{
    if (!m_running || !stopRequested)
        return false;
    if (!m_stopLogged) {
        m_stopLogged = true;
        AddLog(QStringLiteral("중지 요청: 남은 작업 단위를 하지 않고 실행을 멈춥니다."));
    }
    // Stopped by the user: the run ends as cancelled, as a cancelled upload does.
    runCancelled = true;
    return true;
}

bool Desk::toolStopped(const QString& project, const QString& tool)
{
    if (!toolWaitStopped())
        return false;
    runCancelled = true;
    AddLog(QStringLiteral("[오류] ") + project + QStringLiteral(" 실행 취소: 실행 중인 도구를 끝냈습니다.(") + tool
           + QLatin1Char(')'));
    return true;
}

} // namespace rh
