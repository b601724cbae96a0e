#pragma once
// File operations and the error trap shared by the run, compile and signing
// steps. The steps speak Windows paths; these go through the drive map.
#include <QString>

#include <exception>
#include <functional>

namespace rh {

// The file-exists test of the steps: the path names an existing file (not a
// folder). Empty paths and paths the drive map cannot place do not exist.
bool stepFileExists(const QString& path);

// The same for a file that a tool or the signing station makes: a wait on
// it. In a dry run the journal takes a file the skipped action would have
// made as there.
bool stepOutputExists(const QString& path, const QString& producer);

// Deletes a file; throws RhError with the runtime's number (53 file not found,
// 70 permission denied, 75 path/file access error, 76 path not found).
void stepDeleteFile(const QString& path);

// The name after the last separator ("\" as written; "/" for native paths).
QString fileNameOfPath(const QString& path);

// The run-log line for an outside program that could not be started:
// "[오류] " + name + " 프로그램을 시작할 수 없습니다.(" + program + ") " + reason.
QString toolStartFailedLine(const QString& name, const QString& program, const QString& reason);

// The per-statement trap of the steps: runs `op`; an exception is shown as
// "Error n (desc) in procedure <procedure> of Form FrmMain" and the step
// carries on, the failed operation having had no effect. Returns false when
// `op` threw.
bool trapped(const QString& procedure, const std::function<void()>& op);

// Shows the trap's message for an exception caught by a step.
void showTrappedError(const QString& procedure, const std::exception& e);

} // namespace rh
