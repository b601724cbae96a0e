#pragma once
// What a release run leaves besides its log: how long each step took (per
// project where a step works row by row) and the side-effect journal, kept as
// files beside the run log.
#include <QDateTime>
#include <QList>
#include <QString>
#include <QtGlobal>

namespace rh {

struct StepTiming {
    QString step;
    qint64 ms = 0;
    bool ok = true; // the step went on to the next one
    QList<QPair<QString, qint64>> projects; // project, ms; in order of first work
};

// Measures steps and the projects inside them. A project's time runs from
// the moment a step turns to its row until it turns to another row or ends.
class StepClock {
public:
    void startRun();
    void startStep(const QString& step);
    void project(const QString& name);
    void endStep(bool ok);
    qint64 runMs() const;
    const QList<StepTiming>& steps() const { return m_steps; }

    // "단계별 소요시간" lines for the end of the run log.
    QStringList lines() const;

private:
    void closeSlice();

    qint64 m_runStart = 0;
    qint64 m_sliceStart = 0;
    qint64 m_stepStart = 0;
    QString m_project;
    bool m_inStep = false;
    QList<StepTiming> m_steps;
};

// Milliseconds of a monotonic clock.
qint64 monotonicNowMs();

// "1.23초".
QString secondsText(qint64 ms);

} // namespace rh
