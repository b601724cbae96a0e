#pragma once
// The program folder: where inis/, config.ini and the site configuration live.
// --home / ROLLHAVEN2_HOME, else the executable's folder when it holds a
// site.ini, else the per-user folder $XDG_CONFIG_HOME/rollhaven2 (an installed
// program), created with a site.ini template on first start.
#include <QString>
#include <QStringList>

namespace rh {

// Resolves the program folder from the command line (--home DIR or --home=DIR),
// then ROLLHAVEN2_HOME, then the executable's folder when it holds a site.ini,
// then the per-user folder. Call once at start-up. `exeFolder` stands in for
// the executable's folder (tests); empty: the running executable's.
QString resolveProgramFolder(const QStringList& args, const QString& exeFolder = {});

// Not empty when this start created the per-user program folder: what the user
// has to fill in. Both front ends show it (window and standard error).
QString firstStartMessage();

// Where logs and run reports go: the program folder when it is writable, else
// the per-user state folder ($XDG_STATE_HOME/rollhaven2).
QString outputFolder();

// Native path of the program folder, without a trailing "/".
QString programFolder();
void setProgramFolder(const QString& path);

// True when the program runs from an installed layout (its companions in
// lib/rollhaven2 beside bin/).
// `exeFolder` as for resolveProgramFolder.
bool installedProgram(const QString& exeFolder = {});
// The companions' folder: lib/rollhaven2 of an installed program, else the
// executable's folder.
QString companionFolder(const QString& exeFolder = {});

// Version of this build (major.minor.revision), shown in the window caption.
int versionMajor();
int versionMinor();
int versionRevision();
// "major.minor.revision", as --version prints it.
QString versionText();

} // namespace rh
