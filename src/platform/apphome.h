#pragma once
// The program folder: where inis/, config.ini, the site configuration and the
// companion programs live. --home / ROLLHAVEN2_HOME, else the executable's folder.
#include <QString>
#include <QStringList>

namespace rh {

// Resolves the program folder from the command line (--home DIR or --home=DIR),
// then ROLLHAVEN2_HOME, then the executable's folder. Call once at start-up.
QString resolveProgramFolder(const QStringList& args);

// Native path of the program folder, without a trailing "/".
QString programFolder();
void setProgramFolder(const QString& path);

// Version of this build (major.minor.revision), shown in the window caption.
int versionMajor();
int versionMinor();
int versionRevision();
// "major.minor.revision", as --version prints it.
QString versionText();

} // namespace rh
