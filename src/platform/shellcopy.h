#pragma once
// The shell's copy operation: one or more sources (NUL-separated, wildcards
// allowed in the last part) into a folder, or one source to a new name.
// Paths are Windows paths (through the drive map) or native ones. Missing
// destination folders are made and existing files are replaced without a
// question. Every file is written under a temporary name beside its target
// and renamed when complete, so a cancelled or failed copy never leaves a
// half-written file under the final name.
#include <QString>
#include <QtGlobal>

namespace rh {

struct ShellCopyResult {
    int error = 0;        // system error code (errno) of the failed operation; 0: none
    QString path;         // the file or folder that operation was on (native)
    bool aborted = false; // the user cancelled in the progress dialog
    QString message;      // set instead of a system error for paths the drive map cannot place
    bool ok() const { return error == 0 && !aborted && message.isEmpty(); }
};

// A system error of a file operation in words ("권한이 없습니다",
// "디스크 공간이 부족합니다", ...).
QString fileErrorText(int error);

// Copies without showing messages. When not silent, progress goes to the
// interaction's progress dialog, whose cancel stops the copy.
ShellCopyResult shellCopy(const QString& from, const QString& to, bool silent);

// Copies and tells the user about a failure: what failed and why, with the
// path, or "Operation Failed" when cancelled. True when everything was copied.
bool ShellCopyFiles(const QString& source, const QString& destination, quintptr ownerWindow,
                    bool silent);

} // namespace rh
