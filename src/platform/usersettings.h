#pragma once
// The per-user application settings store (GetSetting/SaveSetting): QSettings
// in the XDG config folder, one file per application name, file mode 0600.
#include <QString>

namespace rh {

QString GetSetting(const QString& appName, const QString& section, const QString& key,
                   const QString& defaultValue = QString());
void SaveSetting(const QString& appName, const QString& section, const QString& key,
                 const QString& value);

// Folder holding the settings files; tests and the demo point it at a sandbox.
void setUserSettingsFolder(const QString& folder);
QString userSettingsFile(const QString& appName);
// Creates `path` empty with mode 0600 (its folder 0700) when it is missing, and
// narrows an existing file that others may read.
void ensureOwnerOnlyFile(const QString& path);

} // namespace rh
