// One instance per program folder: a held lock refuses the next, another
// folder runs beside it, and a holder killed with SIGKILL leaves nothing behind.
#include "platform/instancelock.h"

#include <QTemporaryDir>

#include <csignal>
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
