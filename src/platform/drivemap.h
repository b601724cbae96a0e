#pragma once
// Windows paths stay Windows paths in names, logs and comparisons; only the
// file-system and process layer translates them through this map.
#include <QList>
#include <QString>

namespace rh {

class DriveMap {
public:
    // prefix: a drive "X:" or a UNC prefix "\\host\share" (any depth).
    void add(const QString& prefix, const QString& nativeFolder);
    bool isEmpty() const { return m_entries.isEmpty(); }

    // Native path for a Windows path: a mapped drive or UNC prefix is replaced
    // by its folder and "\" becomes "/"; a native path (starting with "/")
    // and a relative path only have their separators turned. An unmapped
    // drive or share gives an empty result and a message in *error.
    QString toNative(const QString& path, QString* error = nullptr) const;

private:
    struct Entry {
        QString prefix; // normalised: "X:" upper-case, or "\\host\share" without trailing "\"
        QString native;
    };
    QList<Entry> m_entries;
};

const DriveMap& driveMap();
void setDriveMap(const DriveMap& map);

// Shorthand through the process-wide map.
QString nativePath(const QString& path, QString* error = nullptr);

// True for "X:\..." / "X:/..." or "\\host\..." texts.
bool isWindowsAbsolutePath(const QString& path);

// True for a Linux path from the root. Not QDir's rule, which also takes
// ":x" for one of Qt's resources.
inline bool isNativeAbsolutePath(const QString& path)
{
    return path.startsWith(QLatin1Char('/'));
}

} // namespace rh
