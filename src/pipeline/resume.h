#pragma once
// 이어하기: a release run that did not finish is driven again with its own
// setup, selection, steps, options, destinations and date, while the journal
// holds its entries. Work it finds in place answers "done"; the rest is done.
#include "platform/journal.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace rh {

class Desk;

struct ResumeSource {
    QString journalPath;
    QString name; // run_<start>: the run's log without ".log"
    JournalFile file;
};

// A real run that did not finish: no end line (killed), or one that says
// errors, stopped, cancelled, an FTP failure or abnormal. A refused run did
// nothing, and a dry run changed nothing.
bool isResumable(const JournalFile& f);

// RUN is a run's name (run_<start>), its start stamp (yyyyMMdd_HHmmss) or a
// journal's path; empty: the last resumable run of the folder that no later
// run resumes. nullopt with the reason in *error.
std::optional<ResumeSource> findResumeSource(const QString& logsFolder, const QString& run, QString* error);

// The names of the folder's runs, in order, that can be resumed (for the
// window's history).
QStringList resumableRuns(const QString& logsFolder);

// The desk's clock on the run's date (the time of day runs on), so names and
// texts that carry the date come out as they did. Before Form_Load.
void setResumeClock(Desk& desk, const ResumeSource& src);

// The run's setup, rows, step boxes, options and destinations on the desk.
bool applyResume(Desk& desk, const ResumeSource& src, QString* error);

// Arms the next run as the resume of src: its run line names src, the
// journal holds src's entries and asks the FTP server for sizes, the log says
// what was found done, and the run refuses to start when a public file holds
// bytes of neither run nor of what was there before.
void armResume(Desk& desk, const ResumeSource& src);
// After the run (or when it was refused before it began).
void disarmResume(Desk& desk);

// Public names on destinations (folder copies renamed from "_2", FTP
// renames) holding what neither the earlier run put there nor what was there
// before it; FTP ones as "FTP <remote path>".
QStringList foreignPublicFiles(const QList<JournalEntry>& earlier,
                               const std::function<std::optional<qint64>(const QString&)>& remoteSize);

} // namespace rh
