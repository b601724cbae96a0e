// The per-user settings file may hold a saved password: owner-only from its
// first byte, whatever the umask, and never widened by later writes.
#include "platform/usersettings.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <gtest/gtest.h>

namespace {

int modeOf(const QString& path)
{
    struct stat st{};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

} // namespace

TEST(UserSettings, FileIsOwnerOnlyFromTheStartAndAWiderOneIsNarrowed)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + QStringLiteral("/cfg");
    rh::setUserSettingsFolder(folder);
    const mode_t oldMask = ::umask(0);
    rh::SaveSetting(QStringLiteral("Tarvel 업무관리"), QStringLiteral("Config"), QStringLiteral("passwd"),
                    QStringLiteral("pw"));
    const QString file = rh::userSettingsFile(QStringLiteral("Tarvel 업무관리"));
    EXPECT_EQ(modeOf(folder), 0700);
    EXPECT_EQ(modeOf(file), 0600);
    EXPECT_EQ(rh::GetSetting(QStringLiteral("Tarvel 업무관리"), QStringLiteral("Config"), QStringLiteral("passwd")),
              QStringLiteral("pw"));

    ::chmod(QFile::encodeName(file).constData(), 0644);
    rh::SaveSetting(QStringLiteral("Tarvel 업무관리"), QStringLiteral("Config"), QStringLiteral("passwd"), QString());
    EXPECT_EQ(modeOf(file), 0600);
    ::umask(oldMask);
    rh::setUserSettingsFolder(QString());
}
