// One instance per program folder: a held lock refuses the next, another
// folder runs beside it, and a holder killed with SIGKILL leaves nothing behind.
#include "site/instancelock.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <functional>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

using rh::InstanceLock;

TEST(InstanceLock, HeldLockRefusesTheNextUntilReleasedAndOtherFoldersRunBeside)
{
    QTemporaryDir a, b;
    InstanceLock first, second, other;
    ASSERT_TRUE(first.tryAcquire(a.path()));
    EXPECT_FALSE(InstanceLock::isFree(a.path()));
    EXPECT_FALSE(second.tryAcquire(a.path()));
    EXPECT_FALSE(second.tryAcquire(a.path() + QStringLiteral("/./"))) << "the same folder, spelled otherwise";
    EXPECT_TRUE(other.tryAcquire(b.path()));
    first.release();
    EXPECT_TRUE(InstanceLock::isFree(a.path()));
    EXPECT_TRUE(second.tryAcquire(a.path()));
}

TEST(InstanceLock, KilledHolderNeverKeepsTheLock)
{
    QTemporaryDir home;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        InstanceLock lock;
        const char ok = lock.tryAcquire(home.path()) ? '1' : '0';
        [[maybe_unused]] auto n = ::write(ready[1], &ok, 1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char got = 0;
    ASSERT_EQ(::read(ready[0], &got, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(got, '1');

    InstanceLock mine;
    EXPECT_FALSE(mine.tryAcquire(home.path())) << "the child holds it";
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(InstanceLock::isFree(home.path()));
    EXPECT_TRUE(mine.tryAcquire(home.path()));
}

// Nobody else can aim the lock at a file of the user's or hold it for them: a
// runtime folder others may enter is not used, and a planted link or a file
// of another user in the lock's place is refused and left as it was.
TEST(InstanceLock, LivesInAPrivateFolderAndRefusesPlantedFiles)
{
    QTemporaryDir runtime, state, home, elsewhere;
    const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR"), oldState = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    ASSERT_EQ(::chmod(QFile::encodeName(runtime.path()).constData(), 0777), 0);
    const QString fallback = state.path() + QStringLiteral("/rollhaven2/run/");
    EXPECT_TRUE(InstanceLock::lockPath(home.path()).startsWith(fallback)) << "a shared runtime folder is not used";
    EXPECT_EQ(QFileInfo(fallback).permissions() & 0x7077, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    ASSERT_EQ(::chmod(QFile::encodeName(runtime.path()).constData(), 0700), 0);
    const QString lock = InstanceLock::lockPath(home.path());
    EXPECT_TRUE(lock.startsWith(runtime.path() + QLatin1Char('/')));

    const QString victim = elsewhere.filePath(QStringLiteral("victim"));
    auto plantLink = [&] { return QFile::link(victim, lock); };
    auto plantForeign = [&] {
        QFile f(lock);
        return f.open(QIODevice::WriteOnly) && f.write("x") == 1 && (f.close(), true)
            && ::chown(QFile::encodeName(lock).constData(), 65534, 65534) == 0;
    };
    QList<std::pair<const char*, std::function<bool()>>> cases{{"symbolic link", plantLink}};
    if (::geteuid() == 0)
        cases.append({"another user's file", plantForeign});
    for (const auto& [name, plant] : cases) {
        SCOPED_TRACE(name);
        QFile v(victim);
        ASSERT_TRUE(v.open(QIODevice::WriteOnly) && v.write("keep\n") == 5);
        v.close();
        QFile::remove(lock);
        ASSERT_TRUE(plant());
        InstanceLock l;
        QString error;
        EXPECT_FALSE(l.tryAcquire(home.path(), &error));
        EXPECT_TRUE(error.startsWith(lock)) << error.toStdString();
        ASSERT_TRUE(v.open(QIODevice::ReadOnly));
        EXPECT_EQ(v.readAll(), QByteArray("keep\n"));
        v.close();
    }
    QFile::remove(lock);
    InstanceLock mine;
    EXPECT_TRUE(mine.tryAcquire(home.path()));
    mine.release();
    oldRuntime.isNull() ? qunsetenv("XDG_RUNTIME_DIR") : qputenv("XDG_RUNTIME_DIR", oldRuntime);
    oldState.isNull() ? qunsetenv("XDG_STATE_HOME") : qputenv("XDG_STATE_HOME", oldState);
}
