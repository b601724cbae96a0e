#pragma once
// The setup builder stand-ins (tools/setupbuilder.py) installed into a
// sandbox at the builders' fixed places on drive C, and writers for the
// project files they read. The stand-ins find the drive map in the sandbox's
// site.ini, which installSetupBuilders writes from the sandbox's map.
#include "sandbox.h"

#include <QString>
#include <QStringList>

namespace rh::test {

// Copies the stand-in (and mkpe.py beside it) to
//   C:\Program Files\Macrovision\IS12\System\IsCmdBld.exe
//   C:\Program Files\Inno Setup 5\compil32.exe
// and writes the [Drives] section of <home>/site.ini.
void installSetupBuilders(Sandbox& box);

// Rewrites the [Drives] section of <home>/site.ini from box.site().driveMap,
// keeping any other section. Call again after adding drives.
void writeSiteDrives(Sandbox& box);

// An Inno Setup script writing `output` (a Windows path: OutputDir and
// OutputBaseFilename are taken from it). Extra lines go into [Setup].
void writeInnoProject(const QString& nativePath, const QString& output,
                      const QStringList& extraLines = {});

// An InstallShield project for the stand-in: a full build writing `output`.
void writeIsmProject(const QString& nativePath, const QString& output,
                     const QStringList& extraLines = {});
// An InstallShield patch project: Update.exe under patchFolder (empty: the
// project's own folder) + "\<name>\Patch\".
void writeIsmPatchProject(const QString& nativePath, const QString& patchFolder,
                          const QStringList& extraLines = {});

// The runs the stand-ins recorded ("compil32.exe /cc /native/path.iss").
QStringList setupBuilderRuns(const Sandbox& box);

} // namespace rh::test
