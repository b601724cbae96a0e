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
};

// Newest first; unreadable reports are left out.
QList<RunHistoryEntry> loadRunHistory(const QString& logsFolder);

} // namespace rh
