#include "platform/instancelock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace rh {
namespace {

// $XDG_RUNTIME_DIR when set (per user, on a RAM disk), else the temporary
// folder. The program folder itself may be read-only (a packaged install).
QString lockFolder()
{
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty() || !QFileInfo(dir).isDir())
        dir = QDir::tempPath();
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
    const QByteArray path = QFile::encodeName(lockPath(programFolder));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(QFile::decodeName(path), QString::fromLocal8Bit(std::strerror(errno)));
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
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return true; // never taken
    const bool free = ::flock(fd, LOCK_SH | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

} // namespace rh
