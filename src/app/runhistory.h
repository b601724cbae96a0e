#pragma once
// Past runs, read from the run reports in logs/ (run_<start time>.json).
#include <QJsonArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace rh {

struct RunHistoryEntry {
    QString reportPath;
    QString start;  // "yyyy-MM-dd HH:mm:ss"
    QStringList projects;
    QString result; // as the window shows it: 완료, 중단, 거부, 닫음 (+ 모의실행)
    QString duration; // "12.34초"
    QString verification; // 일치, 불일치 n건, or "-" when nothing was verified
    QString log;
    QJsonArray checks;
    // For the chart: the result as the report has it ("finished", ...), the
    // run's length and each step's time in run order, and whether it failed.
    QString resultKey;
    bool dryRun = false;
    qint64 durationMs = 0;
    QList<QPair<QString, qint64>> stepMs;
    bool failed = false; // stopped, or a step that did not go on
    // The journal (or a dry run's plan) beside the report; empty when none.
    QString journalPath;
};

// Newest first; unreadable reports are left out.
QList<RunHistoryEntry> loadRunHistory(const QString& logsFolder);

} // namespace rh
