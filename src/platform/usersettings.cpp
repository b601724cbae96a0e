#include "platform/usersettings.h"

#include "platform/journal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    if (!journal().settingsWrite(path, section + QLatin1Char('/') + key, value))
        return;
    ensureOwnerOnlyFile(path);
    QSettings s(path, QSettings::IniFormat);
    s.setValue(section + QLatin1Char('/') + key, value);
    s.sync();
}

void ensureOwnerOnlyFile(const QString& path)
{
    // Settings may hold a saved password. The file is made empty with mode
    // 0600 before anything is written; QSettings then writes through a
    // temporary file that takes over the existing file's mode. A file that
    // an older build left wider is narrowed, never the other way round.
    const QString dir = QFileInfo(path).absolutePath();
    if (!QFileInfo::exists(dir)) {
        QDir().mkpath(dir);
        ::chmod(QFile::encodeName(dir).constData(), 0700);
    }
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        return;
    }
    struct stat st{};
    if (::stat(native.constData(), &st) == 0 && (st.st_mode & 077) != 0)
        ::chmod(native.constData(), st.st_mode & 0700);
}

} // namespace rh
