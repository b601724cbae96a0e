#pragma once
// File helpers of the release steps and the update launcher: the version
// resource of an executable as "Name: value" texts, its language name, the
// short version text derived from it, and a single-file copy that tells the
// user when it fails.
#include <QList>
#include <QString>
#include <QStringList>

namespace rh {

// The version fields, in the order of GetFileVer's entries (index 0 to 12).
QStringList versionFieldNames();

// 13 entries "CompanyName: ..." ... "Language: Korean", or an empty list when
// the file has no version resource. path may be a Windows path (drive map).
QStringList GetFileVer(const QString& path);

// The same over a version block already read (16-bit units as stored).
QStringList versionEntriesFromBlock(const QList<char16_t>& block);

// English name for a string-table key ("041204b0" -> "Korean"); empty when
// the language is not known.
QString GetLanguageName(const QString& code);

// The FileVersion value shortened: keepLastPart "1.00.0123" -> "1.00.123",
// else "1.00". Failures (no version resource) give an empty text and, unless
// quiet, the error message box.
QString GetFileVerText(const QString& path, bool keepLastPart, bool quiet);

// Copy one file over the destination; on failure the user is told and the
// caller may carry on. False when the copy failed.
bool CopyFileWithMessage(const QString& source, const QString& destination);

} // namespace rh
