#pragma once
// Work-diary and catalogue records that could not be sent because a database
// was down or did not answer. They are kept in a file in the program folder,
// with the run they belong to, and sent at the start of the next run (or by
// `--headless --send-pending`), each exactly once: a record leaves the file
// as soon as the server holds it, and a diary record that is already on the
// server (same date, writer and note) is not written twice.
#include <QList>
#include <QString>

namespace rh {

class Desk;

struct PendingRecord {
    enum Kind { Diary, Catalogue };
    Kind kind = Diary;
    QString run; // the run's start, yyyyMMdd_HHmmss

    // Diary: the entry as the run would have written it.
    QString date; // yyyy-MM-dd of the run
    QString writer;
    QString name;
    QString version;
    QString partCode;

    // Catalogue: the final name of the product's versioned copy.
    QString fileName;
    int product = 0;
    int cate3Idx = 0;
    int cate3InfoIdx = 0;
    bool demoDownload = false; // the auto-rename box was ticked: demo entries too

    // The diary note: "* [현재버전] " + name + " → " + version.
    QString note() const;
    // One line for the log: the project and what is recorded.
    QString describe() const;
};

// <program folder>/pending_records.json
QString pendingRecordsPath();

// The kept records (empty without a file). False with *error when the file
// cannot be read or is not the program's.
bool loadPendingRecords(QList<PendingRecord>* records, QString* error = nullptr);
// Replaces the file (through a temporary file and a rename); removes it when
// nothing is left.
bool savePendingRecords(const QList<PendingRecord>& records, QString* error = nullptr);

// Adds records to the file and logs one line for each.
void keepPendingRecords(Desk& desk, const QList<PendingRecord>& records);

// Client-side errors of the MySQL library (connection refused, lost, timed
// out): the statement may succeed later, so its record is kept.
bool isDatabaseUnreachable(int errorNumber);

// Sends every kept record, logging each one; returns how many are still kept.
int SendPendingRecords(Desk& desk);

} // namespace rh
