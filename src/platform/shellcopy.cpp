#include "platform/shellcopy.h"

#include "platform/drivemap.h"
#include "platform/interaction.h"
#include "platform/journal.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QList>

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rh {
namespace {

// Progress is reported at every file start and after every step of this
// many bytes: cheap enough for the dialog, and each step is one
// copy_file_range call.
constexpr qint64 kStep = qint64(8) << 20;
constexpr size_t kBufferSize = size_t(1) << 20;

struct Job {
    QString source;
    QString target;
    qint64 size = 0;
    bool folder = false;
};

class Progress {
public:
    Progress(bool silent, qint64 total) : m_silent(silent), m_total(total) {}
    ~Progress()
    {
        if (!m_silent)
            interaction().endProgress();
    }
    void setFile(const QString& source, const QString& targetFolder)
    {
        m_text = QFileInfo(source).fileName() + QStringLiteral(" → ") + targetFolder;
    }
    // False: the user cancelled.
    bool report(qint64 done)
    {
        if (m_silent) {
            // No dialog, but the window keeps answering during a long copy.
            if (!m_sincePump.isValid() || m_sincePump.elapsed() >= kPumpMs) {
                interaction().pumpEvents();
                m_sincePump.start();
            }
            return true;
        }
        return interaction().showProgress(QStringLiteral("복사 중..."), m_text, done, m_total);
    }

private:
    static constexpr qint64 kPumpMs = 20;
    bool m_silent;
    qint64 m_total;
    QString m_text;
    QElapsedTimer m_sincePump;
};

bool hasWildcard(const QString& name)
{
    return name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?'));
}

// mkdir -p that keeps the system error.
int makeFolders(const QString& path)
{
    const QByteArray p = QFile::encodeName(QDir::cleanPath(path));
    struct stat st;
    if (::stat(p.constData(), &st) == 0)
        return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (!journal().folderMake(QDir::cleanPath(path)))
        return 0;
    for (qsizetype i = 1; i <= p.size(); ++i) {
        if (i < p.size() && p[i] != '/')
            continue;
        const QByteArray part = p.left(i);
        if (::mkdir(part.constData(), 0777) == 0)
            continue;
        const int e = errno;
        if (e == EEXIST && ::stat(part.constData(), &st) == 0) {
            if (!S_ISDIR(st.st_mode))
                return ENOTDIR;
            continue;
        }
        return e;
    }
    return 0;
}

int closeChecked(int fd)
{
    return ::close(fd) == 0 || errno == EINTR ? 0 : errno;
}

// Copies src to target through a temporary file in the target's folder.
// Returns 0, an errno, or -1 when cancelled.
int copyFile(const QString& src, const QString& target, qint64& done, Progress& progress,
             QString* where)
{
    const qint64 size = journal().fileSize(src);
    if (!journal().fileCopy(src, target, size)) {
        done += std::max<qint64>(size, 0);
        return 0;
    }
    const QByteArray from = QFile::encodeName(src);
    const QByteArray to = QFile::encodeName(target);
    *where = src;
    const int in = ::open(from.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return errno;
    struct stat st;
    if (::fstat(in, &st) != 0) {
        const int e = errno;
        ::close(in);
        return e;
    }
    *where = target;
    struct stat existing;
    if (::stat(to.constData(), &existing) == 0 && existing.st_dev == st.st_dev
        && existing.st_ino == st.st_ino) {
        ::close(in); // copying a file onto itself leaves it as it is
        done += st.st_size;
        return 0;
    }
    const QFileInfo ti(target);
    QByteArray tmp = QFile::encodeName(ti.absolutePath() + QStringLiteral("/.") + ti.fileName()
                                       + QStringLiteral(".~rh"))
        + "XXXXXX";
    const int out = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (out < 0) {
        const int e = errno;
        ::close(in);
        return e;
    }
    ::posix_fadvise(in, 0, 0, POSIX_FADV_SEQUENTIAL);

    int result = 0;
    bool kernelCopy = true;
    std::vector<char> buffer;
    qint64 sinceReport = 0;
    for (;;) {
        ssize_t n;
        if (kernelCopy) {
            n = ::copy_file_range(in, nullptr, out, nullptr, size_t(kStep), 0);
            if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP
                          || errno == EBADF || errno == ETXTBSY)) {
                kernelCopy = false;
                continue;
            }
        } else {
            if (buffer.empty())
                buffer.resize(kBufferSize);
            n = ::read(in, buffer.data(), buffer.size());
            if (n > 0) {
                for (ssize_t off = 0; off < n;) {
                    const ssize_t w = ::write(out, buffer.data() + off, size_t(n - off));
                    if (w < 0 && errno == EINTR)
                        continue;
                    if (w <= 0) {
                        n = -1;
                        break;
                    }
                    off += w;
                }
            }
        }
        if (n < 0) {
            if (errno == EINTR)
                continue;
            result = errno;
            break;
        }
        if (n == 0)
            break;
        done += n;
        sinceReport += n;
        if (sinceReport >= kStep) {
            sinceReport = 0;
            if (!progress.report(done)) {
                result = -1;
                break;
            }
        }
    }
    if (result == 0) {
        ::fchmod(out, st.st_mode & 0777);
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out, times);
    }
    const int closeError = closeChecked(out);
    ::close(in);
    if (result == 0)
        result = closeError;
    if (result == 0 && ::rename(tmp.constData(), to.constData()) != 0)
        result = errno;
    if (result != 0)
        ::unlink(tmp.constData());
    return result;
}

// Expands one source entry into jobs below `targetFolder` (or onto
// `targetPath` when given, for the single-source case).
int addJobs(const QString& source, const QString& target, QList<Job>& jobs)
{
    const QFileInfo fi(source);
    if (journal().isFile(source)) {
        jobs.append({source, target, journal().fileSize(source), false});
        return 0;
    }
    if (!fi.isDir())
        return ENOENT;
    jobs.append({source, target, 0, true});
    QDirIterator it(source, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    const QDir base(source);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo e = it.fileInfo();
        const QString dst = target + QLatin1Char('/') + base.relativeFilePath(path);
        if (e.isDir())
            jobs.append({path, dst, 0, true});
        else
            jobs.append({path, dst, e.size(), false});
    }
    return 0;
}

} // namespace

QString fileErrorText(int error)
{
    switch (error) {
    case EACCES:
    case EPERM: return QStringLiteral("권한이 없습니다");
    case EROFS: return QStringLiteral("권한이 없습니다(읽기 전용)");
    case ENOSPC:
    case EDQUOT: return QStringLiteral("디스크 공간이 부족합니다");
    case ENOENT: return QStringLiteral("파일이나 폴더가 없습니다");
    case ENOTDIR: return QStringLiteral("폴더가 아닙니다");
    case EISDIR: return QStringLiteral("폴더입니다");
    case EIO: return QStringLiteral("입출력 오류입니다");
    case ENAMETOOLONG: return QStringLiteral("경로가 너무 깁니다");
    case EBUSY:
    case ETXTBSY: return QStringLiteral("다른 프로그램이 사용하고 있습니다");
    default:
        return QString::fromLocal8Bit(std::strerror(error)) + QStringLiteral(" (") + QString::number(error)
            + QLatin1Char(')');
    }
}

ShellCopyResult shellCopy(const QString& from, const QString& to, bool silent)
{
    ShellCopyResult r;
    const QStringList entries = from.split(QChar(0), Qt::SkipEmptyParts);
    if (entries.isEmpty() || to.isEmpty()) {
        r.error = ENOENT;
        return r;
    }

    // Sources, with wildcards expanded.
    QStringList sources;
    bool wildcard = false;
    for (const QString& entry : entries) {
        QString err;
        const QString native = nativePath(entry, &err);
        if (native.isEmpty()) {
            r.message = err;
            return r;
        }
        const QFileInfo fi(native);
        if (!hasWildcard(fi.fileName())) {
            if (!journal().isFile(native) && !fi.isDir()) {
                r.error = ENOENT;
                r.path = native;
                return r;
            }
            sources << native;
            continue;
        }
        wildcard = true;
        const QDir dir = fi.dir();
        const QStringList names = dir.entryList(
            {fi.fileName()}, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System
                | QDir::CaseSensitive,
            QDir::Name);
        if (names.isEmpty()) {
            r.error = ENOENT;
            r.path = native;
            return r;
        }
        for (const QString& n : names)
            sources << dir.filePath(n);
    }

    QString err;
    QString dest = nativePath(to, &err);
    if (dest.isEmpty()) {
        r.message = err;
        return r;
    }
    const bool trailingSeparator = to.endsWith(QLatin1Char('\\')) || to.endsWith(QLatin1Char('/'));
    dest = QDir::cleanPath(dest);
    const bool intoFolder = sources.size() > 1 || wildcard || trailingSeparator || QFileInfo(dest).isDir();

    QList<Job> jobs;
    for (const QString& s : sources) {
        const QString target = intoFolder ? dest + QLatin1Char('/') + QFileInfo(s).fileName() : dest;
        if (int e = addJobs(s, target, jobs)) {
            r.error = e;
            r.path = s;
            return r;
        }
    }
    qint64 total = 0;
    for (const Job& j : jobs)
        total += j.size;

    if (int e = makeFolders(intoFolder ? dest : QFileInfo(dest).absolutePath())) {
        r.error = e;
        r.path = intoFolder ? dest : QFileInfo(dest).absolutePath();
        return r;
    }

    Progress progress(silent, total);
    qint64 done = 0;
    for (const Job& job : jobs) {
        if (job.folder) {
            if (int e = makeFolders(job.target)) {
                r.error = e;
                r.path = job.target;
                return r;
            }
            continue;
        }
        progress.setFile(job.source, QFileInfo(job.target).absolutePath());
        if (!progress.report(done)) {
            r.aborted = true;
            return r;
        }
        QString where;
        const int e = copyFile(job.source, job.target, done, progress, &where);
        if (e == -1) {
            r.aborted = true;
            return r;
        }
        if (e != 0) {
            r.error = e;
            r.path = where;
            return r;
        }
    }
    progress.report(total); // the last report: nothing left to cancel
    return r;
}

bool ShellCopyFiles(const QString& source, const QString& destination, quintptr ownerWindow,
                    bool silent)
{
    (void)ownerWindow;
    const ShellCopyResult r = shellCopy(source, destination, silent);
    if (!r.message.isEmpty()) {
        tell(r.message);
        return false;
    }
    if (r.error != 0) {
        tell(QStringLiteral("파일을 복사할 수 없습니다: ") + fileErrorText(r.error) + QStringLiteral("\r\n")
             + r.path);
        return false;
    }
    if (r.aborted) {
        tell(QStringLiteral("Operation Failed"));
        return false;
    }
    return true;
}

} // namespace rh
