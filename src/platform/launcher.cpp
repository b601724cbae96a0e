#include "platform/launcher.h"

#include "platform/drivemap.h"
#include "platform/interaction.h"
#include "platform/journal.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>
#include <set>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace rh {
namespace {

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

QString osError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// ---------------------------------------------------------------- resolving

enum class WellKnown { None, Notepad, Explorer };

WellKnown wellKnownProgram(const QString& text)
{
    QString name = text;
    const qsizetype cut = std::max(name.lastIndexOf(QLatin1Char('\\')), name.lastIndexOf(QLatin1Char('/')));
    name = name.mid(cut + 1).toLower();
    if (name == QLatin1String("notepad.exe") || name == QLatin1String("notepad"))
        return WellKnown::Notepad;
    if (name == QLatin1String("explorer.exe") || name == QLatin1String("explorer"))
        return WellKnown::Explorer;
    return WellKnown::None;
}

struct Resolved {
    QString path;        // existing program file, absolute
    QString driveError;  // the text names an unmapped drive or share
};

// The file a program text names: as written, with ".exe" added, or with
// ".exe" dropped (stand-ins on Linux carry no extension). Bare names are
// also looked up on PATH, as Windows searches its path for them.
Resolved resolveProgramFile(const QString& text, const QString& baseFolder)
{
    Resolved r;
    // A program named without a drive is looked up in the base folder and on
    // PATH; only drive and share paths go through the map.
    QString native;
    if (isWindowsAbsolutePath(text) || text.startsWith(QLatin1Char('/'))) {
        native = nativePath(text, &r.driveError);
    } else {
        native = text;
        native.replace(QLatin1Char('\\'), QLatin1Char('/'));
    }
    if (native.isEmpty())
        return r;
    QStringList variants{native, native + QLatin1String(".exe")};
    if (native.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive) && native.size() > 4)
        variants << native.chopped(4);
    const bool bare = !text.contains(QLatin1Char('\\')) && !text.contains(QLatin1Char('/'));
    const QDir base(baseFolder.isEmpty() ? QDir::currentPath() : baseFolder);
    for (const QString& v : variants) {
        const QString candidate = isNativeAbsolutePath(v) ? v : base.absolutePath() + QLatin1Char('/') + v;
        if (QFileInfo(candidate).isFile()) {
            r.path = QDir::cleanPath(candidate);
            return r;
        }
    }
    if (bare) {
        for (const QString& v : variants) {
            const QString found = QStandardPaths::findExecutable(v);
            if (!found.isEmpty()) {
                r.path = found;
                return r;
            }
        }
    }
    return r;
}

bool translateArguments(const QStringList& in, QStringList* out, QString* error)
{
    out->clear();
    for (const QString& a : in) {
        if (!isWindowsAbsolutePath(a)) {
            out->append(a);
            continue;
        }
        QString err;
        const QString n = nativePath(a, &err);
        if (n.isEmpty()) {
            if (error)
                *error = err;
            return false;
        }
        out->append(n);
    }
    return true;
}

bool fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

bool isPeImage(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    return f.read(2) == "MZ";
}

bool planEditor(const QStringList& args, LaunchPlan* plan, QString* error)
{
    QStringList files;
    if (!translateArguments(args, &files, error))
        return false;
    QStringList command;
    QString from; // the variable that named the editor
    for (const char* var : {"VISUAL", "EDITOR"}) {
        const QString v = qEnvironmentVariable(var).trimmed();
        if (!v.isEmpty()) {
            command = QProcess::splitCommand(v);
            from = QLatin1String(var);
            break;
        }
    }
    if (command.isEmpty())
        command << QStringLiteral("xdg-open");
    const QString exe = isNativeAbsolutePath(command.first())
        ? command.first()
        : QStandardPaths::findExecutable(command.first());
    if (exe.isEmpty() || !QFileInfo(exe).isExecutable()) {
        if (!from.isEmpty())
            return fail(error, QStringLiteral("편집기를 찾을 수 없습니다: ") + command.first() + QStringLiteral(" (")
                            + from + QLatin1Char(')'));
        return fail(error, QStringLiteral("편집기를 찾을 수 없습니다. VISUAL이나 EDITOR 환경변수에 편집기를 "
                                          "지정하거나 xdg-open(xdg-utils)을 설치하세요."));
    }
    plan->kind = LaunchPlan::Kind::Editor;
    plan->program = exe;
    plan->arguments = command.mid(1) + files;
    return true;
}

// explorer takes "/select,<path>", "/e,<path>", "/root,<path>" or a path;
// the file manager is shown the folder.
bool planExplorer(const QStringList& args, const QString& workingFolder, LaunchPlan* plan,
                  QString* error)
{
    QString target;
    for (QString a : args) {
        bool select = false;
        for (;;) {
            const qsizetype comma = a.indexOf(QLatin1Char(','));
            if (!a.startsWith(QLatin1Char('/')) || comma < 0 || a.left(comma).contains(QLatin1Char('\\')))
                break;
            const QString sw = a.left(comma).toLower();
            if (sw != QLatin1String("/select") && sw != QLatin1String("/e") && sw != QLatin1String("/n")
                && sw != QLatin1String("/root"))
                break;
            select = select || sw == QLatin1String("/select");
            a = a.mid(comma + 1);
        }
        if (a.isEmpty() || (a.startsWith(QLatin1Char('/')) && !QFileInfo::exists(a)))
            continue;
        QString err;
        QString n = nativePath(a, &err);
        if (n.isEmpty())
            return fail(error, err);
        if (select)
            n = QFileInfo(n).absolutePath();
        target = n;
    }
    if (target.isEmpty())
        target = workingFolder.isEmpty() ? QDir::homePath() : workingFolder;
    const QString exe = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (exe.isEmpty())
        return fail(error, QStringLiteral("파일 관리자를 열 수 없습니다(xdg-open 없음): ") + target);
    plan->kind = LaunchPlan::Kind::FileManager;
    plan->program = exe;
    plan->arguments = QStringList{target};
    return true;
}

// The program is known (a file or a well-known name): decide how it runs.
bool finishPlan(const QString& programText, const QString& programFile, WellKnown known,
                const QString& argumentText, const QString& baseFolder, bool shellOpen,
                LaunchPlan* plan, QString* error)
{
    plan->programText = programText;
    const QStringList args = splitWindowsArguments(argumentText);
    if (programFile.isEmpty()) {
        if (known == WellKnown::Notepad)
            return planEditor(args, plan, error);
        return planExplorer(args, baseFolder, plan, error);
    }
    if (isPeImage(programFile)) {
        const QString wine = QStandardPaths::findExecutable(QStringLiteral("wine"));
        if (wine.isEmpty())
            return fail(error, QStringLiteral("Windows 프로그램을 실행하려면 wine이 필요합니다(설치되어 있지 않음): ")
                            + programFile);
        plan->kind = LaunchPlan::Kind::Wine;
        plan->program = wine;
        plan->arguments = QStringList{programFile} + args;
        return true;
    }
    if (QFileInfo(programFile).isExecutable()) {
        plan->kind = LaunchPlan::Kind::Native;
        plan->program = programFile;
        return translateArguments(args, &plan->arguments, error);
    }
    if (shellOpen) {
        const QString exe = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
        if (exe.isEmpty())
            return fail(error, QStringLiteral("파일을 열 프로그램이 없습니다(xdg-open 없음): ") + programFile);
        plan->kind = LaunchPlan::Kind::Opener;
        plan->program = exe;
        plan->arguments = QStringList{programFile};
        return true;
    }
    return fail(error, QStringLiteral("실행 파일이 아닙니다: ") + programFile);
}

QString baseFolderFor(const QString& workingFolder)
{
    if (workingFolder.isEmpty())
        return QString();
    return nativePath(workingFolder);
}

// ---------------------------------------------------------------- children

// Children started here and not yet reaped, and children reaped before
// anyone waited for them (so a later wait still reports "ended").
std::set<pid_t>& children()
{
    static std::set<pid_t> s;
    return s;
}

std::deque<pid_t>& endedChildren()
{
    static std::deque<pid_t> d;
    return d;
}

void noteEnded(pid_t pid)
{
    children().erase(pid);
    auto& d = endedChildren();
    d.push_back(pid);
    while (d.size() > 256)
        d.pop_front();
}

bool takeEnded(pid_t pid)
{
    auto& d = endedChildren();
    for (auto it = d.begin(); it != d.end(); ++it) {
        if (*it == pid) {
            d.erase(it);
            return true;
        }
    }
    return false;
}

int openPidFd(pid_t pid)
{
#ifdef SYS_pidfd_open
    return int(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

// The waits look at the process this often and yield to the event loop in
// between, so a window stays answering (well under 100 ms) while a tool runs.
constexpr int kWaitStepMs = 20;

void sleepWaitStep()
{
    struct timespec ts{0, kWaitStepMs * 1000 * 1000};
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

std::function<bool()>& toolStop()
{
    static std::function<bool()> stop;
    return stop;
}
bool g_toolStopped = false;

// A tool still there this long after SIGTERM gets SIGKILL.
constexpr int kTerminateGraceMs = 3000;

// ---------------------------------------------------------------- starting

struct ExecRequest {
    QByteArray program;
    QList<QByteArray> argv;
    QByteArray cwd;
    bool hidden = false;
    bool detached = false;
};

std::vector<char*> argvPointers(QList<QByteArray>& args)
{
    std::vector<char*> v;
    v.reserve(args.size() + 1);
    for (QByteArray& a : args)
        v.push_back(a.data());
    v.push_back(nullptr);
    return v;
}

pid_t spawnChild(ExecRequest& req, int* err)
{
    std::vector<char*> argv = argvPointers(req.argv);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (!req.cwd.isEmpty())
        posix_spawn_file_actions_addchdir_np(&fa, req.cwd.constData());
    if (req.hidden) {
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&fa, 1, 2);
    }
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (req.hidden)
        flags |= POSIX_SPAWN_SETSID;
    posix_spawnattr_setflags(&attr, flags);
    sigset_t none, defaults;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);

    pid_t pid = 0;
    const int rc = posix_spawn(&pid, req.program.constData(), &fa, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) {
        *err = rc;
        return 0;
    }
    return pid;
}

void writeAll(int fd, const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        p += n;
        size -= size_t(n);
    }
}

// Double fork: the program is re-parented to init (or the session's
// subreaper), so it outlives this process and never becomes our zombie.
// Only async-signal-safe calls between fork and exec.
pid_t spawnDetached(ExecRequest& req, int* err)
{
    std::vector<char*> argv = argvPointers(req.argv);
    const char* program = req.program.constData();
    const char* cwd = req.cwd.isEmpty() ? nullptr : req.cwd.constData();
    const bool hidden = req.hidden;

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        *err = errno;
        return 0;
    }
    // Report records: {1, pid} from the middle process, {2, errno} when the
    // program could not be started.
    const pid_t middle = ::fork();
    if (middle < 0) {
        *err = errno;
        ::close(fds[0]);
        ::close(fds[1]);
        return 0;
    }
    if (middle == 0) {
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            int rec[2] = {2, 0};
            if (cwd && ::chdir(cwd) != 0) {
                rec[1] = errno;
                writeAll(fds[1], rec, sizeof rec);
                ::_exit(127);
            }
            if (hidden) {
                const int null = ::open("/dev/null", O_RDWR);
                if (null >= 0) {
                    ::dup2(null, 0);
                    ::dup2(null, 1);
                    ::dup2(null, 2);
                    if (null > 2)
                        ::close(null);
                }
            }
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            struct sigaction dfl;
            std::memset(&dfl, 0, sizeof dfl);
            dfl.sa_handler = SIG_DFL;
            ::sigaction(SIGPIPE, &dfl, nullptr);
            ::execve(program, argv.data(), environ);
            rec[1] = errno;
            writeAll(fds[1], rec, sizeof rec);
            ::_exit(127);
        }
        int rec[2] = {1, int(grandchild)};
        if (grandchild < 0)
            rec[0] = 2, rec[1] = errno;
        writeAll(fds[1], rec, sizeof rec);
        ::_exit(0);
    }
    ::close(fds[1]);
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    pid_t pid = 0;
    int failure = 0;
    int rec[2];
    for (;;) {
        const ssize_t n = ::read(fds[0], rec, sizeof rec);
        if (n < 0 && errno == EINTR)
            continue;
        if (n != ssize_t(sizeof rec))
            break;
        if (rec[0] == 1)
            pid = rec[1];
        else
            failure = rec[1];
    }
    ::close(fds[0]);
    if (failure != 0 || pid <= 0) {
        *err = failure != 0 ? failure : ECHILD;
        return 0;
    }
    return pid;
}

qint64 startPlan(const LaunchPlan& plan, const LaunchOptions& options, QString* error)
{
    reapEndedChildren();
    ExecRequest req;
    req.program = QFile::encodeName(plan.program);
    req.argv.append(req.program);
    for (const QString& a : plan.arguments)
        req.argv.append(QFile::encodeName(a));
    if (!options.workingFolder.isEmpty()) {
        QString err;
        const QString cwd = nativePath(options.workingFolder, &err);
        if (cwd.isEmpty()) {
            fail(error, err);
            return 0;
        }
        if (!QFileInfo(cwd).isDir()) {
            fail(error, QStringLiteral("작업 폴더가 없습니다: ") + options.workingFolder);
            return 0;
        }
        req.cwd = QFile::encodeName(cwd);
    }
    req.hidden = options.mode == WindowMode::Hidden;
    req.detached = options.detached;

    int err = 0;
    const pid_t pid = req.detached ? spawnDetached(req, &err) : spawnChild(req, &err);
    if (pid <= 0) {
        fail(error, QStringLiteral("프로그램을 시작할 수 없습니다(") + osError(err) + QStringLiteral("): ")
                 + plan.program);
        return 0;
    }
    takeEnded(pid); // a reused id is a new process
    if (!req.detached)
        children().insert(pid);
    return pid;
}

} // namespace

WindowMode shellShowMode(bool hidden, bool minimized)
{
    if (hidden)
        return WindowMode::Hidden;
    return minimized ? WindowMode::MinimizedNoActive : WindowMode::Show;
}

QString quoteArgument(const QString& text)
{
    const bool plain = !text.isEmpty() && std::none_of(text.begin(), text.end(), [](QChar c) {
        return isBlank(c) || c == QLatin1Char('"');
    });
    if (plain)
        return text;
    QString out(QLatin1Char('"'));
    qsizetype backslashes = 0;
    for (const QChar c : text) {
        if (c == QLatin1Char('\\')) {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled and the quote escaped.
        out += QString(c == QLatin1Char('"') ? 2 * backslashes + 1 : backslashes, QLatin1Char('\\'));
        out += c;
        backslashes = 0;
    }
    out += QString(2 * backslashes, QLatin1Char('\\')) + QLatin1Char('"');
    return out;
}

QStringList splitWindowsArguments(const QString& text)
{
    QStringList out;
    QString cur;
    bool started = false;
    int quotes = 0;    // odd: inside quotes
    int backslashes = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n;) {
        const QChar c = text[i];
        if (isBlank(c) && (quotes & 1) == 0) {
            if (started) {
                out.append(cur);
                cur.clear();
                started = false;
            }
            backslashes = 0;
            ++i;
            continue;
        }
        started = true;
        if (c == QLatin1Char('\\')) {
            cur.append(c);
            ++backslashes;
            ++i;
            continue;
        }
        if (c != QLatin1Char('"')) {
            cur.append(c);
            backslashes = 0;
            ++i;
            continue;
        }
        // A quote: the backslashes before it are halved.
        if (backslashes % 2 == 0) {
            cur.chop(backslashes / 2);
            ++quotes;
        } else {
            cur.chop(backslashes / 2 + 1);
            cur.append(QLatin1Char('"'));
        }
        backslashes = 0;
        ++i;
        // Further quotes in a row: every third is a literal quote.
        while (i < n && text[i] == QLatin1Char('"')) {
            if (++quotes == 3) {
                cur.append(QLatin1Char('"'));
                quotes = 0;
            }
            ++i;
        }
        if (quotes == 2)
            quotes = 0;
    }
    if (started)
        out.append(cur);
    return out;
}

bool planCommandLine(const QString& commandLine, const QString& workingFolder, LaunchPlan* plan,
                     QString* error)
{
    *plan = LaunchPlan();
    qsizetype start = 0;
    while (start < commandLine.size() && isBlank(commandLine[start]))
        ++start;
    const QString line = commandLine.mid(start);
    if (line.isEmpty())
        return fail(error, QStringLiteral("실행할 명령이 비어 있습니다."));
    const QString base = baseFolderFor(workingFolder);

    if (line.startsWith(QLatin1Char('"'))) {
        const qsizetype close = line.indexOf(QLatin1Char('"'), 1);
        const QString program = close < 0 ? line.mid(1) : line.mid(1, close - 1);
        const QString rest = close < 0 ? QString() : line.mid(close + 1);
        const Resolved r = resolveProgramFile(program, base);
        if (!r.driveError.isEmpty())
            return fail(error, r.driveError);
        const WellKnown known = r.path.isEmpty() ? wellKnownProgram(program) : WellKnown::None;
        if (r.path.isEmpty() && known == WellKnown::None)
            return fail(error, QStringLiteral("실행할 프로그램을 찾을 수 없습니다: ") + program);
        return finishPlan(program, r.path, known, rest, base, false, plan, error);
    }

    // Unquoted: the shortest prefix ending before a blank that names a file.
    for (qsizetype i = 1; i <= line.size(); ++i) {
        if (i < line.size() && !(isBlank(line[i]) && !isBlank(line[i - 1])))
            continue;
        const QString program = line.left(i);
        const Resolved r = resolveProgramFile(program, base);
        if (!r.driveError.isEmpty())
            return fail(error, r.driveError);
        const WellKnown known = r.path.isEmpty() ? wellKnownProgram(program) : WellKnown::None;
        if (r.path.isEmpty() && known == WellKnown::None)
            continue;
        return finishPlan(program, r.path, known, line.mid(i), base, false, plan, error);
    }
    return fail(error, QStringLiteral("실행할 프로그램을 찾을 수 없습니다: ") + line);
}

bool planShellOpen(const QString& file, const QString& parameters, const QString& workingFolder,
                   LaunchPlan* plan, QString* error)
{
    *plan = LaunchPlan();
    QString program = file.trimmed();
    if (program.size() >= 2 && program.startsWith(QLatin1Char('"')) && program.endsWith(QLatin1Char('"')))
        program = program.mid(1, program.size() - 2);
    if (program.isEmpty())
        return fail(error, QStringLiteral("실행할 명령이 비어 있습니다."));
    const QString base = baseFolderFor(workingFolder);
    const Resolved r = resolveProgramFile(program, base);
    if (!r.driveError.isEmpty())
        return fail(error, r.driveError);
    const WellKnown known = r.path.isEmpty() ? wellKnownProgram(program) : WellKnown::None;
    if (r.path.isEmpty() && known == WellKnown::None)
        return fail(error, QStringLiteral("실행할 프로그램을 찾을 수 없습니다: ") + program);
    return finishPlan(program, r.path, known, parameters, base, true, plan, error);
}

qint64 startCommandLine(const QString& commandLine, const LaunchOptions& options, QString* error)
{
    LaunchPlan plan;
    if (!planCommandLine(commandLine, options.workingFolder, &plan, error))
        return 0;
    if (!journal().processStart(commandLine.trimmed(), options.workingFolder))
        return journal().plannedProcessId();
    return startPlan(plan, options, error);
}

qint64 startWithoutWaiting(const QString& commandLine, WindowMode mode, QString* error)
{
    LaunchOptions o;
    o.mode = mode;
    o.detached = true;
    return startCommandLine(commandLine, o, error);
}

void reapEndedChildren()
{
    std::vector<pid_t> done;
    for (pid_t pid : children()) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD))
            done.push_back(pid);
    }
    for (pid_t pid : done)
        noteEnded(pid);
}

bool WaitForProcessEnded(qint64 id)
{
    g_toolStopped = false;
    if (journal().isPlannedProcess(id))
        return true; // a dry run started nothing: taken as ended
    if (id <= 0 || id > INT_MAX)
        return false;
    const pid_t pid = pid_t(id);
    if (takeEnded(pid))
        return true;
    const bool own = children().count(pid) > 0;
    const int fd = openPidFd(pid);
    if (fd < 0 && errno == ESRCH && !own)
        return false;

    QDeadlineTimer killDue(QDeadlineTimer::Forever);
    for (;;) {
        bool ended = false;
        if (fd >= 0) {
            struct pollfd p{fd, POLLIN, 0};
            ended = ::poll(&p, 1, kWaitStepMs) > 0;
        } else if (own) {
            int status = 0;
            const pid_t r = ::waitpid(pid, &status, WNOHANG);
            if (r == pid || (r < 0 && errno == ECHILD)) {
                noteEnded(pid);
                ended = true;
            } else {
                sleepWaitStep();
            }
        } else {
            sleepWaitStep();
            ended = ::kill(pid, 0) != 0 && errno == ESRCH;
        }
        if (ended)
            break;
        interaction().pumpEvents();
        if (!g_toolStopped && toolStop() && toolStop()()) {
            g_toolStopped = true;
            ::kill(pid, SIGTERM);
            killDue.setRemainingTime(kTerminateGraceMs);
        } else if (g_toolStopped && killDue.hasExpired()) {
            ::kill(pid, SIGKILL);
            killDue = QDeadlineTimer(QDeadlineTimer::Forever);
        }
    }
    if (fd >= 0)
        ::close(fd);
    if (children().count(pid)) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        children().erase(pid);
    }
    takeEnded(pid);
    return true;
}

void setToolWaitStop(std::function<bool()> stop)
{
    toolStop() = std::move(stop);
}

bool toolWaitStopped()
{
    return g_toolStopped;
}

bool ShellExecuteAndWait(const QString& file, quintptr ownerWindow, const QString& parameters,
                         const QString& directory, bool hidden, bool minimized, QString* error, int timeoutMs)
{
    (void)ownerWindow;
    g_toolStopped = false;
    LaunchPlan plan;
    if (!planShellOpen(file, parameters, directory, &plan, error))
        return false;
    LaunchOptions o;
    o.mode = shellShowMode(hidden, minimized);
    o.workingFolder = directory;
    if (!journal().processStart((file.trimmed() + QLatin1Char(' ') + parameters).trimmed(), directory))
        return true; // a dry run: taken as started and ended
    const qint64 id = startPlan(plan, o, error);
    if (id <= 0)
        return false;
    const pid_t pid = pid_t(id);
    if (timeoutMs < 0) {
        // A compiler or setup builder may run for minutes: the wait pumps events.
        WaitForProcessEnded(id);
        if (g_toolStopped)
            return fail(error, QStringLiteral("%1 was stopped: the run was cancelled").arg(file));
        return true;
    }
    int status = 0;
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR)) {
            children().erase(pid);
            return true;
        }
        if (deadline.hasExpired())
            break;
        ::usleep(20000);
    }
    ::kill(pid, SIGKILL);
    fail(error, QStringLiteral("%1 did not end within %2 ms and was stopped").arg(file).arg(timeoutMs));
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    children().erase(pid);
    return false;
}

} // namespace rh
