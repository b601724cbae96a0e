#include "privatemount.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace rh::test {
namespace {

constexpr char kFailed = '\x01';
const QChar kSeparator(0x1e);

void writeAll(int fd, const QByteArray& bytes)
{
    qsizetype off = 0;
    while (off < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + off, size_t(bytes.size() - off));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        off += n;
    }
}

[[noreturn]] void failChild(int fd, const QString& what)
{
    writeAll(fd, QByteArray(1, kFailed) + what.toUtf8() + ": " + std::strerror(errno));
    ::_exit(1);
}

bool writeFile(const char* path, const QByteArray& text)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.constData(), size_t(text.size())) == text.size();
    ::close(fd);
    return ok;
}

// A mount namespace: directly as root, else inside a user namespace that maps
// this user to root.
bool enterPrivateNamespace()
{
    if (::unshare(CLONE_NEWNS) == 0)
        return true;
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
        return false;
    writeFile("/proc/self/setgroups", "deny");
    return writeFile("/proc/self/uid_map", "0 " + QByteArray::number(uid) + " 1")
        && writeFile("/proc/self/gid_map", "0 " + QByteArray::number(gid) + " 1");
}

} // namespace

QStringList inPrivateMounts(const QList<QPair<QString, QString>>& mounts,
                            const std::function<QStringList()>& fn, QString* why)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        *why = QStringLiteral("pipe: ") + QString::fromLocal8Bit(std::strerror(errno));
        return {};
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        *why = QStringLiteral("fork: ") + QString::fromLocal8Bit(std::strerror(errno));
        ::close(fds[0]);
        ::close(fds[1]);
        return {};
    }
    if (pid == 0) {
        ::close(fds[0]);
        if (!enterPrivateNamespace())
            failChild(fds[1], QStringLiteral("no mount namespace (unshare)"));
        // Nothing mounted here may reach the machine's own namespace.
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            failChild(fds[1], QStringLiteral("making / private"));
        for (const auto& [folder, options] : mounts) {
            unsigned long flags = 0;
            QStringList data;
            for (const QString& o : options.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                if (o == QLatin1String("ro"))
                    flags |= MS_RDONLY;
                else
                    data << o;
            }
            const QByteArray target = QFile::encodeName(folder);
            const QByteArray opts = data.join(QLatin1Char(',')).toUtf8();
            if (::mount("tmpfs", target.constData(), "tmpfs", flags, opts.constData()) != 0)
                failChild(fds[1], QStringLiteral("mount -t tmpfs -o ") + options + QLatin1Char(' ') + folder);
        }
        const QStringList out = fn();
        writeAll(fds[1], out.join(kSeparator).toUtf8());
        ::_exit(0);
    }
    ::close(fds[1]);
    QByteArray bytes;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        bytes.append(buf, n);
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (bytes.startsWith(kFailed)) {
        *why = QString::fromUtf8(bytes.mid(1));
        return {};
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        *why = QStringLiteral("the child process failed (status %1)").arg(status);
        return {};
    }
    return QString::fromUtf8(bytes).split(kSeparator);
}

} // namespace rh::test
