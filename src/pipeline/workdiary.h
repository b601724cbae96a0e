#pragma once
// The work-diary record (Step4) and the statement helpers that it shares with
// the download catalogue update: both hold their cMySQL session in the desk's
// database field and drop it with CloseDatabase.
#include "db/recordset.h"
#include "pipeline/databases.h"

#include <QString>
#include <QtGlobal>

#include <exception>

namespace rh {

class Desk;

// Records every ticked project with a work-diary product code in the in-house
// database. False when the account id is missing, the connection fails or a
// diary entry could not be written (the session then stays with the desk).
bool Step4(Desk& desk);

// Runs one statement on the desk's session (error box on failure) and returns
// the number of rows it changed, 0 after a failure or without a session.
qint32 ExecuteSql(Desk& desk, const QString& sql);
// Drops the desk's session, which closes its connection.
void CloseDatabase(Desk& desk);
// Closes an open record set and releases it.
void CloseRecordset(RecordsetPtr& rs);

// Creates a new session in the desk's field (replacing any old one) and
// connects it; false after the connect's own message box. An unexpected error
// is shown as the procedure's error box and also gives false.
bool OpenDatabase(Desk& desk, const QString& procedure, DatabaseKind kind);

// Shows an unexpected error of a step as "Error n (...) in procedure <procedure>
// of Form FrmMain".
void showStepError(const QString& procedure, const std::exception& e);

// The run a kept record belongs to: the run's start (yyyyMMdd_HHmmss).
QString runIdOf(const Desk& desk);
// The desk's session failed because its server is down or did not answer.
bool lostDatabase(const Desk& desk);

// Installs CloseDatabase as the desk's close hook.
void attachDatabaseSession(Desk& desk);

} // namespace rh
