#include "site/instancelock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rh {
namespace {

// A folder only the user can reach: a directory (not a link) owned by the
// user with no access for group or others.
bool privateFolder(const QString& dir)
{
    struct stat st;
    return !dir.isEmpty() && ::lstat(QFile::encodeName(dir).constData(), &st) == 0 && S_ISDIR(st.st_mode)
        && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

// $XDG_RUNTIME_DIR when it is the user's private folder (per user, on a RAM
// disk), else rollhaven2/run under the per-user state folder, made 0700. Never
// a shared folder such as /tmp, where another user could plant the name.
// The program folder itself may be read-only (a packaged install).
QString lockFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (privateFolder(runtime))
        return runtime;
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!state.startsWith(QLatin1Char('/')))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    const QString dir = state + QStringLiteral("/rollhaven2/run");
    if (!QFileInfo(dir).isDir() && QDir().mkpath(dir))
        ::chmod(QFile::encodeName(dir).constData(), 0700);
    return dir;
}

QString canonicalFolder(const QString& folder)
{
    const QFileInfo info(folder);
    const QString c = info.canonicalFilePath();
    return c.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : c;
}

} // namespace

InstanceLock::~InstanceLock()
{
    release();
}

QString InstanceLock::lockPath(const QString& programFolder)
{
    const QByteArray digest =
        QCryptographicHash::hash(canonicalFolder(programFolder).toUtf8(), QCryptographicHash::Sha1).toHex();
    return lockFolder() + QStringLiteral("/rollhaven2-") + QString::fromLatin1(digest.left(20))
        + QStringLiteral(".lock");
}

bool InstanceLock::tryAcquire(const QString& programFolder, QString* error)
{
    if (m_fd >= 0)
        return true;
    const QString lock = lockPath(programFolder);
    const QByteArray path = QFile::encodeName(lock);
    if (!privateFolder(QFileInfo(lock).path())) {
        if (error)
            *error = QStringLiteral("%1: 사용자만 쓸 수 있는 폴더(0700)가 아닙니다").arg(QFileInfo(lock).path());
        return false;
    }
    // Not through a link, and only a file of the user's: nobody else can
    // aim the truncation below at a file, or hold the lock for the user.
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(lock, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        if (error)
            *error = QStringLiteral("%1: 사용자의 파일이 아닙니다").arg(lock);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        ::close(fd);
        if (error && e != EWOULDBLOCK)
            *error = QStringLiteral("%1: %2").arg(QFile::decodeName(path), QString::fromLocal8Bit(std::strerror(e)));
        return false;
    }
    // The holder's process id, for people looking at the file; the lock
    // itself is the flock, not the content.
    if (::ftruncate(fd, 0) == 0) {
        const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
        [[maybe_unused]] const ssize_t n = ::write(fd, pid.constData(), size_t(pid.size()));
    }
    m_fd = fd;
    return true;
}

void InstanceLock::release()
{
    if (m_fd < 0)
        return;
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
}

bool InstanceLock::isFree(const QString& programFolder)
{
    const QByteArray path = QFile::encodeName(lockPath(programFolder));
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return true; // never taken
    const bool free = ::flock(fd, LOCK_SH | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

} // namespace rh
