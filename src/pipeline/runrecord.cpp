#include "pipeline/runrecord.h"

#include "config/projectrow.h"
#include "pipeline/desk.h"
#include "pipeline/verification.h"
#include "platform/profile.h"
#include "platform/apphome.h"
#include "platform/journal.h"

#include "platform/drivemap.h"
#include "platform/serveraddresses.h"
#include "platform/sitecfg.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace rh {

qint64 monotonicNowMs()
{
    static const QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

QString secondsText(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 2) + QStringLiteral("초");
}

void StepClock::startRun()
{
    m_steps.clear();
    m_inStep = false;
    m_runStart = monotonicNowMs();
}

void StepClock::startStep(const QString& step)
{
    if (m_inStep)
        endStep(true);
    m_steps.append({step, 0, true, {}});
    m_inStep = true;
    m_project.clear();
    m_stepStart = m_sliceStart = monotonicNowMs();
}

void StepClock::closeSlice()
{
    const qint64 now = monotonicNowMs();
    if (!m_project.isEmpty()) {
        auto& projects = m_steps.last().projects;
        auto it = std::find_if(projects.begin(), projects.end(),
                               [&](const auto& p) { return p.first == m_project; });
        if (it == projects.end())
            projects.append({m_project, now - m_sliceStart});
        else
            it->second += now - m_sliceStart;
    }
    m_sliceStart = now;
}

void StepClock::project(const QString& name)
{
    if (!m_inStep || name == m_project)
        return;
    closeSlice();
    m_project = name;
}

void StepClock::endStep(bool ok)
{
    if (!m_inStep)
        return;
    closeSlice();
    m_steps.last().ms = monotonicNowMs() - m_stepStart;
    m_steps.last().ok = ok;
    m_inStep = false;
    m_project.clear();
}

qint64 StepClock::runMs() const
{
    return monotonicNowMs() - m_runStart;
}

QStringList StepClock::lines() const
{
    QStringList out;
    const qint64 total = std::max<qint64>(1, runMs());
    auto share = [total](qint64 ms) {
        return QString::number(100.0 * double(ms) / double(total), 'f', 1) + QLatin1Char('%');
    };
    out << QStringLiteral("단계별 소요시간: 전체 ") + secondsText(total);
    for (const StepTiming& s : m_steps) {
        out << QStringLiteral("  ") + s.step + QStringLiteral(": ") + secondsText(s.ms) + QStringLiteral(" (")
                + share(s.ms) + QLatin1Char(')');
        for (const auto& [name, ms] : s.projects)
            out << QStringLiteral("    ") + name + QStringLiteral(": ") + secondsText(ms) + QStringLiteral(" (")
                    + share(ms) + QLatin1Char(')');
    }
    return out;
}

QString Desk::stepCaption(int box)
{
    static const char* const captions[6] = {"컴파일", "셋업", "배포", "RUN", "빌드서명", "셋업서명"};
    return box >= 0 && box < 6 ? QString::fromUtf8(captions[box]) : QString();
}

void Desk::beginRecord(const QDateTime& start)
{
    if (runFileBase.isEmpty())
        runFileBase = outputFolder() + QStringLiteral("/logs/run_")
            + start.toString(QStringLiteral("yyyyMMdd_HHmmss"));
    journal().begin(chkDryRun.checked          ? Journal::Mode::Plan
                    : journal().holdsEarlier() ? Journal::Mode::Resume
                                               : Journal::Mode::Record);
    m_recordEnded = false;
    m_artefacts = QJsonArray();
    m_runLines.clear();
    m_runProject.clear();
    m_verification = QJsonArray();
    stepClock.startRun();
    QDir().mkpath(QFileInfo(runFileBase).absolutePath());
    if (writeRunLog) {
        m_runLog.setFileName(runFileBase + QStringLiteral(".log"));
        if (!m_runLog.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
            AddLog(QStringLiteral("[오류] 실행 로그를 만들 수 없습니다.(") + m_runLog.fileName() + QLatin1Char(')'));
    }
    // A plan leaves nothing to recover.
    QString error;
    if (!chkDryRun.checked
        && !journal().openFile(runFileBase + QStringLiteral(".journal.jsonl"), runDescription(start), &error))
        AddLog(QStringLiteral("[오류] 실행 기록 파일을 만들 수 없습니다.(") + runFileBase
               + QStringLiteral(".journal.jsonl: ") + error + QLatin1Char(')'));
    beginProgress();
}

void Desk::beginStep(int box)
{
    journal().setStep(stepCaption(box));
    stepClock.startStep(stepCaption(box));
    m_runProject.clear();
    progress.enterStep(stepCaption(box));
    Q_EMIT progressChanged();
}

void Desk::onActiveCellChanged(int, int row)
{
    workOnRow(row);
}

void Desk::workOnRow(int row)
{
    if (!m_running || row < 1 || row > grid.maxRows())
        return;
    const QString name = grid.text(ColProjectName, row);
    journal().setProject(name);
    stepClock.project(name);
    m_runProject = name;
    if (progress.project() != name) {
        progress.enterProject(name);
        Q_EMIT progressChanged();
    }
}

namespace {

bool saveText(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    // The report and journal are the user's: never through a planted link.
    if (!ownFileRefusal(path).isEmpty())
        return false;
    QSaveFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.commit();
}

QString resultName(Desk::RunResult r)
{
    switch (r) {
    case Desk::RunResult::Refused: return QStringLiteral("refused");
    case Desk::RunResult::Stopped: return QStringLiteral("stopped");
    case Desk::RunResult::Finished: return QStringLiteral("finished");
    case Desk::RunResult::Closed: return QStringLiteral("closed");
    case Desk::RunResult::Cancelled: return QStringLiteral("cancelled");
    case Desk::RunResult::FtpFailed: return QStringLiteral("ftp-connection-failure");
    }
    return QString();
}

// The journal's end line: how the run ended, errors counted in.
QString journalResultName(Desk::RunResult r, int errors)
{
    if (r == Desk::RunResult::Finished || r == Desk::RunResult::Closed)
        return errors > 0 ? QStringLiteral("finished-with-errors") : QStringLiteral("finished");
    return resultName(r);
}

} // namespace

QJsonObject Desk::runDescription(const QDateTime& start) const
{
    static const char* const kStepKeys[6] = {"compile", "setup", "distribute", "run", "buildsign", "setupsign"};
    QJsonObject steps;
    for (int i = 0; i < 6; ++i)
        steps.insert(QLatin1String(kStepKeys[i]), chkStep[size_t(i)].checked);
    static const char* const kModes[3] = {"friday", "tuesday", "now"};
    const QJsonObject options{
        {QStringLiteral("steps"), steps},
        {QStringLiteral("mode"), optWeek >= 0 && optWeek < 3 ? QString::fromLatin1(kModes[optWeek]) : QString()},
        {QStringLiteral("testVersion"), chkTestVer.checked},
        {QStringLiteral("patchOnly"), chkPatchOnly.checked},
        {QStringLiteral("writeVer"), chkWriteVer.checked},
        {QStringLiteral("verUpdate"), chkVerUpdate.checked},
        {QStringLiteral("closeAfter"), chkEndUnload.checked},
        {QStringLiteral("ftpAutoRemove"), chkFTPAutoRemove.checked},
        {QStringLiteral("dryRun"), chkDryRun.checked},
        {QStringLiteral("destinations"), QJsonArray::fromStringList(lstDest.selectedItems())}};

    QJsonArray selection;
    for (int r = 1; r <= grid.maxRows(); ++r)
        if (isTicked(r))
            selection.append(QJsonObject{{QStringLiteral("row"), r},
                                         {QStringLiteral("project"), grid.text(ColProjectName, r)},
                                         {QStringLiteral("section"), grid.text(ColSectionKey, r)}});

    const SiteConfig& cfg = site();
    const QJsonObject servers{
        {QStringLiteral("ftp"), cfg.ftpHost + QLatin1Char(':') + QString::number(cfg.ftpPort)},
        {QStringLiteral("workDiary"), DBServerAddress()},
        {QStringLiteral("catalogue"), WebServerAddress()},
        {QStringLiteral("fileServer"), cfg.fileServerHost}};

    QJsonObject run{{QStringLiteral("format"), QStringLiteral("rollhaven2-run-report/1")},
                    {QStringLiteral("start"), start.toString(Qt::ISODate)},
                    {QStringLiteral("setup"), IniPath},
                    {QStringLiteral("selection"), selection},
                    {QStringLiteral("options"), options},
                    {QStringLiteral("servers"), servers}};
    if (!resumes.isEmpty())
        run.insert(QStringLiteral("resumes"), resumes);
    return run;
}

QJsonObject Desk::runReport(const QDateTime& start, const QDateTime& end) const
{
    QJsonObject report = runDescription(start);
    QJsonArray timings;
    for (const StepTiming& t : stepClock.steps()) {
        QJsonArray projects;
        for (const auto& [name, ms] : t.projects)
            projects.append(QJsonObject{{QStringLiteral("project"), name}, {QStringLiteral("ms"), double(ms)}});
        timings.append(QJsonObject{{QStringLiteral("step"), t.step},
                                   {QStringLiteral("ms"), double(t.ms)},
                                   {QStringLiteral("ok"), t.ok},
                                   {QStringLiteral("projects"), projects}});
    }

    QJsonArray entries;
    for (const JournalEntry& e : journal().entries())
        entries.append(journalEntryJson(e));

    const QJsonObject rest{{QStringLiteral("end"), end.toString(Qt::ISODate)},
                           {QStringLiteral("durationMs"), double(stepClock.runMs())},
                           {QStringLiteral("longestGapMs"), double(probe.longestGapMs())},
                           {QStringLiteral("result"), resultName(m_lastResult)},
                           {QStringLiteral("errors"), int(m_runErrors.size())},
                           {QStringLiteral("steps"), timings},
                           {QStringLiteral("artefacts"), m_artefacts},
                           {QStringLiteral("verification"), m_verification},
                           {QStringLiteral("log"), txtLog},
                           {QStringLiteral("journal"), entries}};
    for (auto it = rest.begin(); it != rest.end(); ++it)
        report.insert(it.key(), it.value());
    return report;
}

QStringList Desk::runProjects() const
{
    QStringList out;
    for (int r = 1; r <= grid.maxRows(); ++r)
        if (isTicked(r))
            out << grid.text(ColProjectName, r);
    return out;
}

void Desk::endRecord(const QDateTime& start)
{
    if (m_recordEnded)
        return;
    m_recordEnded = true;
    const bool dryRun = journal().planning();
    journal().end();
    if (dryRun)
        restoreDryRunCells();
    // A distribution that went through is checked against what landed.
    const bool distributed = std::any_of(stepClock.steps().begin(), stepClock.steps().end(),
                                         [](const StepTiming& s) { return s.step == stepCaption(StepDistribute); });
    m_verificationFailed = false;
    qint64 checksMs = -1;
    if (!dryRun && distributed
        && (m_lastResult == RunResult::Finished || m_lastResult == RunResult::Closed)) {
        const qint64 started = monotonicNowMs();
        const VerificationResult v = VerifyRelease(*this);
        checksMs = monotonicNowMs() - started;
        m_artefacts = v.artefacts;
        m_verification = v.checks;
        m_verificationFailed = !v.ok;
    }
    const QString text = renderJournal(journal().entries());
    if (dryRun) {
        AddLog(QString());
        AddLog(QStringLiteral("모의실행 계획:"));
        for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            AddLog(line);
    }
    // The plan, or what the run did, beside the run log.
    saveText(runFileBase + (dryRun ? QStringLiteral(".plan.txt") : QStringLiteral(".journal.txt")),
             text.toUtf8());
    AddLog(QString());
    for (const QString& line : stepClock.lines())
        AddLog(line);
    if (checksMs >= 0)
        AddLog(QStringLiteral("  검증: ") + secondsText(checksMs) + QStringLiteral(" (")
               + QString::number(100.0 * double(checksMs) / double(std::max<qint64>(1, stepClock.runMs())), 'f', 1)
               + QStringLiteral("%)"));
    endProgress();
    const QDateTime end = now();
    const qint64 reportStarted = monotonicNowMs();
    const QString reportPath = runFileBase + QStringLiteral(".json");
    if (saveText(reportPath, QJsonDocument(runReport(start, end)).toJson(QJsonDocument::Indented)))
        AddLog(QStringLiteral("실행 보고서: ") + reportPath + QStringLiteral(" (%1ms)").arg(monotonicNowMs() - reportStarted));
    else
        AddLog(QStringLiteral("[오류] 실행 보고서를 저장할 수 없습니다.(") + reportPath + QLatin1Char(')'));
    if (!m_runErrors.isEmpty())
        AddLog(runErrorSummary());
    journal().closeFile(QJsonObject{{QStringLiteral("result"), journalResultName(m_lastResult, int(m_runErrors.size()))},
                                    {QStringLiteral("end"), end.toString(Qt::ISODate)},
                                    {QStringLiteral("errors"), int(m_runErrors.size())},
                                    {QStringLiteral("verificationFailed"), m_verificationFailed}});
    m_runLog.close();
    lastRunFileBase = runFileBase;
    runFileBase.clear();
}

} // namespace rh

namespace rh {

int Desk::reportAbandonedRuns()
{
    const QDir logs(outputFolder() + QStringLiteral("/logs"));
    int found = 0;
    for (const QString& name : logs.entryList({QStringLiteral("run_*.journal.jsonl")}, QDir::Files, QDir::Name)) {
        const QString path = logs.filePath(name);
        if (path == journal().filePath() && journal().fileOpen())
            continue; // this run's own
        JournalFile jf;
        if (!readJournalFile(path, &jf) || !jf.end.isEmpty())
            continue;
        if (found++ == 0 && !txtLog.isEmpty() && !txtLog.endsWith(QStringLiteral("\r\n")))
            txtLog += QStringLiteral("\r\n");
        const QString base = path.chopped(int(qstrlen(".journal.jsonl")));
        QFile logFile(base + QStringLiteral(".log"));
        const QString log = logFile.open(QIODevice::ReadOnly) ? QString::fromUtf8(logFile.readAll()) : QString();
        QJsonArray entries;
        for (const JournalEntry& e : jf.entries)
            entries.append(journalEntryJson(e));
        // The report the run could not write, from what its journal holds.
        QJsonObject report = jf.run;
        report.remove(QStringLiteral("type"));
        report.insert(QStringLiteral("result"), QStringLiteral("abnormal"));
        report.insert(QStringLiteral("end"), now().toString(Qt::ISODate)); // when it was found
        report.insert(QStringLiteral("durationMs"), 0);
        report.insert(QStringLiteral("errors"), int(log.count(QStringLiteral("\n[오류] ")) + (log.startsWith(QStringLiteral("[오류] ")) ? 1 : 0)));
        report.insert(QStringLiteral("steps"), QJsonArray());
        report.insert(QStringLiteral("artefacts"), QJsonArray());
        report.insert(QStringLiteral("verification"), QJsonArray());
        report.insert(QStringLiteral("journal"), entries);
        report.insert(QStringLiteral("log"), log);
        const QString when = QDateTime::fromString(jf.run.value(QStringLiteral("start")).toString(), Qt::ISODate)
                                 .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        AddLog(QStringLiteral("비정상 종료: ") + when + QStringLiteral(" 실행 (") + QFileInfo(base).fileName()
               + QStringLiteral(")이 끝나지 않았습니다. 기록된 작업 %1건:").arg(jf.entries.size()));
        for (const QString& line : renderJournal(jf.entries).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            AddLog(QStringLiteral("  ") + line);
        if (!saveText(base + QStringLiteral(".json"), QJsonDocument(report).toJson(QJsonDocument::Indented)))
            AddLog(QStringLiteral("[오류] 실행 보고서를 저장할 수 없습니다.(") + base + QStringLiteral(".json)"));
        // Said once: the journal now ends, as abnormal.
        QFile f(path);
        if (f.open(QIODevice::WriteOnly | QIODevice::Append))
            f.write(QJsonDocument(QJsonObject{{QStringLiteral("type"), QStringLiteral("end")},
                                              {QStringLiteral("result"), QStringLiteral("abnormal")},
                                              {QStringLiteral("detected"), now().toString(Qt::ISODate)}})
                        .toJson(QJsonDocument::Compact)
                    + '\n');
    }
    return found;
}

} // namespace rh
