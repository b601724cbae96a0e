#include "platform/usersettings.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>

namespace rh {
namespace {

QString& folderOverride()
{
    static QString f;
    return f;
}

QString folder()
{
    if (!folderOverride().isEmpty())
        return folderOverride();
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/rollhaven2");
}

QString safeName(const QString& appName)
{
    QString n = appName;
    n.replace(QLatin1Char('/'), QLatin1Char('_'));
    return n;
}

} // namespace

void setUserSettingsFolder(const QString& f)
{
    folderOverride() = f;
}

QString userSettingsFile(const QString& appName)
{
    return folder() + QLatin1Char('/') + safeName(appName) + QStringLiteral(".ini");
}

QString GetSetting(const QString& appName, const QString& section, const QString& key,
                   const QString& defaultValue)
{
    QSettings s(userSettingsFile(appName), QSettings::IniFormat);
    return s.value(section + QLatin1Char('/') + key, defaultValue).toString();
}

void SaveSetting(const QString& appName, const QString& section, const QString& key,
                 const QString& value)
{
    const QString path = userSettingsFile(appName);
    QDir().mkpath(folder());
    {
        QSettings s(path, QSettings::IniFormat);
        s.setValue(section + QLatin1Char('/') + key, value);
        s.sync();
    }
    // Settings may hold a saved password: owner only.
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace rh
