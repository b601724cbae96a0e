#pragma once
// File-system names for the texts the program speaks: Windows paths go
// through the drive map; a native folder joined with "\name" (the program
// folder + "\tool.exe" pattern of the original) gets "/" separators, since
// Windows treats both separators alike and no name here contains "\".
#include <QString>

namespace rh {

// Native path, or an empty text with the drive map's message in *error.
QString fileSystemPath(const QString& path, QString* error = nullptr);

} // namespace rh
