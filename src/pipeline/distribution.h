#pragma once
// The distribution step (Step3): version and time stamp into the rows, the
// versioned local copies of the product setups, setups and patches to every
// selected destination, the official version on the file server, and the
// follow-ups (version files, work diary, download catalogue).
#include <QString>

namespace rh {

class Desk;

// The local setup folder of the developer's machine.
QString localSetupFolder(); // "C:\2TarvelInstalls\"
// The file server's official-version folder and whole-set folder (no trailing "\").
QString officialVersionFolder();
QString wholeSetFolder();

// The versioned-copy prefix of a product setup (ISResult1 after every
// "C:\2TarvelInstalls\" is removed; exact, case-sensitive); empty for others.
QString productCopyPrefix(const QString& isResult1);

// prefix + version + "(" + date6 + ")_2.exe"; date6 from the time stamp's text
// ("2010-11-05 09:30:00" -> "101105").
QString versionedCopyName(const QString& prefix, const QString& fileVersion,
                          const QString& setupFileTime);

// base + "_ver" + version with "_" for "." + "(" + yymmdd or "xxxxxx" + ").exe".
// The base is the setup's name before its last "_2", or without its extension
// when it has no "_2".
QString officialSetupName(const QString& isResult1File, const QString& fileVersion,
                          const QString& setupFileTime);

// The time stamp written into SetupFileTime.
QString setupTimeText(const QString& exePath);

bool Step3(Desk& desk);

} // namespace rh
