// The per-user settings file may hold a saved password: owner-only from its
// first byte, whatever the umask, and never widened by later writes.
#include "platform/usersettings.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

namespace {

int modeOf(const QString& path)
{
    struct stat st{};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

// Runs `act` with the folder watched and returns the names whose mode changed
// after they appeared or received data in it. A file narrowed only after the password
// was written into it was readable meanwhile, though its final mode is right;
// the kernel queues the events in the order they happened.
std::string narrowedAfterWriting(const QString& folder, const std::function<void()>& act)
{
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    EXPECT_GE(fd, 0);
    EXPECT_GE(::inotify_add_watch(fd, QFile::encodeName(folder).constData(), IN_CREATE | IN_MODIFY | IN_MOVED_TO | IN_ATTRIB),
              0);
    act();
    QSet<QString> written;
    QStringList out;
    alignas(inotify_event) char buf[64 * 1024];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) {
        for (char* p = buf; p < buf + n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(p);
            const QString name = e->len ? QFile::decodeName(e->name) : QString();
            // A file may also arrive whole, linked in from an unnamed one.
            if (!name.isEmpty() && (e->mask & (IN_CREATE | IN_MODIFY | IN_MOVED_TO)))
                written.insert(name);
            if (!name.isEmpty() && (e->mask & IN_ATTRIB) && written.contains(name))
                out << name;
            p += sizeof(inotify_event) + e->len;
        }
    }
    ::close(fd);
    return out.join(QLatin1Char('|')).toStdString();
}

} // namespace

TEST(UserSettings, FileIsOwnerOnlyFromTheStartAndAWiderOneIsNarrowedBeforeTheWrite)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + QStringLiteral("/cfg");
    rh::setUserSettingsFolder(folder);
    const mode_t oldMask = ::umask(0);
    const QString app = QStringLiteral("Tarvel 업무관리");
    const QString section = QStringLiteral("Config");
    const QString key = QStringLiteral("passwd");
    rh::SaveSetting(app, section, key, QStringLiteral("pw"));
    const QString file = rh::userSettingsFile(app);
    EXPECT_EQ(modeOf(folder), 0700);
    EXPECT_EQ(modeOf(file), 0600);
    EXPECT_EQ(rh::GetSetting(app, section, key), QStringLiteral("pw"));

    // A new file in the folder, and one an older build left readable by all:
    // each is owner-only before the password reaches it.
    const QString other = QStringLiteral("다른 프로그램");
    EXPECT_EQ(narrowedAfterWriting(folder, [&] { rh::SaveSetting(other, section, key, QStringLiteral("pw2")); }), "");
    EXPECT_EQ(modeOf(rh::userSettingsFile(other)), 0600);
    ::chmod(QFile::encodeName(file).constData(), 0644);
    EXPECT_EQ(narrowedAfterWriting(folder, [&] { rh::SaveSetting(app, section, key, QStringLiteral("pw3")); }), "");
    EXPECT_EQ(modeOf(file), 0600);
    EXPECT_EQ(rh::GetSetting(app, section, key), QStringLiteral("pw3"));
    ::umask(oldMask);
    rh::setUserSettingsFolder(QString());
}
