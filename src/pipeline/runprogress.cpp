#include "pipeline/runprogress.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace rh {
namespace {

QString keyOf(const RunUnit& u)
{
    return u.step + QLatin1Char('\n') + u.project;
}

} // namespace

// ---------------------------------------------------------------------------

QList<RunReportFile> readRunReports(const QString& logsFolder, int max)
{
    QList<RunReportFile> out;
    const QDir dir(logsFolder);
    const QStringList names =
        dir.entryList({QStringLiteral("run_*.json")}, QDir::Files, QDir::Name | QDir::Reversed);
    for (const QString& name : names) {
        if (max >= 0 && out.size() >= max)
            break;
        QFile f(dir.filePath(name));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QJsonObject r = QJsonDocument::fromJson(f.readAll()).object();
        if (r.value(QStringLiteral("format")).toString() != QLatin1String("rollhaven2-run-report/1"))
            continue;
        out.append({f.fileName(), r});
    }
    return out;
}

UnitHistory UnitHistory::load(const QString& logsFolder, int maxReports)
{
    UnitHistory h;
    for (const RunReportFile& file : readRunReports(logsFolder, maxReports)) {
        const QJsonObject& r = file.report;
        // A dry run's timings say nothing about the tools' real times.
        if (r.value(QStringLiteral("options")).toObject().value(QStringLiteral("dryRun")).toBool())
            continue;
        for (const QJsonValue& sv : r.value(QStringLiteral("steps")).toArray()) {
            const QJsonObject s = sv.toObject();
            const QString step = s.value(QStringLiteral("step")).toString();
            for (const QJsonValue& pv : s.value(QStringLiteral("projects")).toArray()) {
                const QJsonObject p = pv.toObject();
                const RunUnit u{step, p.value(QStringLiteral("project")).toString()};
                if (!h.m_ms.contains(keyOf(u)))
                    h.m_ms.insert(keyOf(u), qint64(p.value(QStringLiteral("ms")).toDouble()));
            }
        }
    }
    return h;
}

qint64 UnitHistory::ms(const RunUnit& unit) const
{
    return m_ms.value(keyOf(unit), -1);
}

void UnitHistory::set(const RunUnit& unit, qint64 ms)
{
    m_ms.insert(keyOf(unit), ms);
}

// ---------------------------------------------------------------------------

void RunProgress::start(const QList<RunUnit>& plan, const UnitHistory& history)
{
    m_plan = plan;
    m_done.clear();
    m_history = history;
    m_step.clear();
    m_project.clear();
    m_unitText.clear();
    m_clock.start();
    m_unitClock.start();
    m_endMs = -1;
    m_active = true;
}

void RunProgress::stop()
{
    if (!m_active)
        return;
    m_endMs = m_clock.elapsed();
    m_active = false;
}

void RunProgress::markDone(const RunUnit& unit)
{
    if (m_plan.contains(unit) && !m_done.contains(unit))
        m_done.append(unit);
}

void RunProgress::enterStep(const QString& step)
{
    m_step = step;
    m_project.clear();
    m_unitText.clear();
    m_unitClock.restart();
}

void RunProgress::enterProject(const QString& project)
{
    if (project == m_project)
        return;
    if (!m_project.isEmpty())
        markDone({m_step, m_project});
    m_project = project;
    m_unitText.clear();
    m_unitClock.restart();
}

void RunProgress::endStep()
{
    for (const RunUnit& u : m_plan)
        if (u.step == m_step)
            markDone(u);
    m_project.clear();
    m_unitText.clear();
}

qint64 RunProgress::remainingMs() const
{
    qint64 left = 0;
    bool known = false;
    for (const RunUnit& u : m_plan) {
        if (m_done.contains(u))
            continue;
        const qint64 ms = m_history.ms(u);
        if (ms < 0)
            continue;
        known = true;
        if (m_active && u.step == m_step && u.project == m_project)
            left += std::max<qint64>(0, ms - m_unitClock.elapsed());
        else
            left += ms;
    }
    if (!known)
        return -1;
    return left;
}

QString RunProgress::statusText() const
{
    QStringList parts;
    for (const QString& p : {m_step, m_project, m_unitText})
        if (!p.isEmpty())
            parts << p;
    return parts.join(QStringLiteral(" · "));
}

// ---------------------------------------------------------------------------

ResponsivenessProbe::ResponsivenessProbe(QObject* parent) : QObject(parent)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &ResponsivenessProbe::tick);
}

void ResponsivenessProbe::start()
{
    m_longest = 0;
    m_longestAfter.clear();
    m_lastWhere = where ? where() : QString();
    m_clock.start();
    m_last = 0;
    m_timer.start();
}

void ResponsivenessProbe::stop()
{
    if (!m_timer.isActive())
        return;
    tick(); // the stretch up to the end counts too
    m_timer.stop();
}

void ResponsivenessProbe::tick()
{
    const qint64 now = m_clock.elapsed();
    if (m_last >= 0 && now - m_last > m_longest) {
        m_longest = now - m_last;
        m_longestAfter = m_lastWhere;
    }
    m_last = now;
    m_lastWhere = where ? where() : QString();
}

QString durationText(qint64 ms)
{
    const qint64 secs = std::max<qint64>(0, (ms + 500) / 1000);
    const QChar zero = QLatin1Char('0');
    if (secs >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(secs / 3600)
            .arg((secs % 3600) / 60, 2, 10, zero)
            .arg(secs % 60, 2, 10, zero);
    return QStringLiteral("%1:%2").arg(secs / 60, 2, 10, zero).arg(secs % 60, 2, 10, zero);
}

} // namespace rh
