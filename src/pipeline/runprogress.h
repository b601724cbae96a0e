#pragma once
// The whole run in view: what a run plans to do (units of work: one step for
// one project), how far it got, how long the same units took in earlier runs,
// and how long the event loop went without a turn.
#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

namespace rh {

// The run reports of a logs folder, newest first (their names carry the start
// time), each with its path; files that are not run reports are left out.
// At most `max` reports when max >= 0.
struct RunReportFile {
    QString path;
    QJsonObject report;
};
QList<RunReportFile> readRunReports(const QString& logsFolder, int max = -1);

// One unit of work: a step for one project (the dry-run plan's grouping).
struct RunUnit {
    QString step;
    QString project;
    bool operator==(const RunUnit& o) const { return step == o.step && project == o.project; }
};

// Earlier durations of units of work, from the run reports in a logs folder:
// for each unit the time of its newest real (not dry) run that timed it.
class UnitHistory {
public:
    // Reads at most `maxReports` newest reports.
    static UnitHistory load(const QString& logsFolder, int maxReports = 30);
    // -1 when no earlier run timed this unit.
    qint64 ms(const RunUnit& unit) const;
    bool isEmpty() const { return m_ms.isEmpty(); }
    void set(const RunUnit& unit, qint64 ms);

private:
    QHash<QString, qint64> m_ms;
};

// The run's units in order, how many are done, and what is being done now.
class RunProgress {
public:
    void start(const QList<RunUnit>& plan, const UnitHistory& history);
    void stop();
    // The run turned to this step / project (a unit begins; the one before
    // it, if any, counts as done).
    void enterStep(const QString& step);
    void enterProject(const QString& project);
    // The step ended: all of its units count as done, also those it skipped.
    void endStep();
    void setUnitText(const QString& text) { m_unitText = text; }

    bool active() const { return m_active; }
    int planned() const { return int(m_plan.size()); }
    int done() const { return m_done.size(); }
    const QList<RunUnit>& plan() const { return m_plan; }
    QString step() const { return m_step; }
    QString project() const { return m_project; }
    QString unitText() const { return m_unitText; }
    qint64 elapsedMs() const { return m_active || m_endMs >= 0 ? (m_active ? m_clock.elapsed() : m_endMs) : 0; }
    // Estimated time left from the earlier runs' timings of the units not
    // done yet; -1 when no earlier run timed any of the planned units.
    qint64 remainingMs() const;

    // "컴파일 · 원장관리 · 컴파일중..." for the status bar.
    QString statusText() const;

private:
    void markDone(const RunUnit& unit);

    QList<RunUnit> m_plan;
    QList<RunUnit> m_done;
    UnitHistory m_history;
    QString m_step, m_project, m_unitText;
    QElapsedTimer m_clock;
    QElapsedTimer m_unitClock;
    qint64 m_endMs = -1;
    bool m_active = false;
};

// A timer that ticks every few milliseconds while a run lasts and keeps the
// longest time between two ticks: how long the event loop went unanswered.
class ResponsivenessProbe : public QObject {
    Q_OBJECT
public:
    explicit ResponsivenessProbe(QObject* parent = nullptr);
    void start();
    void stop();
    bool running() const { return m_timer.isActive(); }
    // Longest gap between ticks in milliseconds (0 before the first tick).
    qint64 longestGapMs() const { return m_longest; }
    // What the run was doing when the longest gap began (from `where`).
    QString longestGapAfter() const { return m_longestAfter; }
    std::function<QString()> where;
    static constexpr int kIntervalMs = 10;

private:
    void tick();

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = -1;
    qint64 m_longest = 0;
    QString m_lastWhere, m_longestAfter;
};

// "mm:ss", or "h:mm:ss" past an hour.
QString durationText(qint64 ms);

} // namespace rh
