#include "platform/drivemap.h"
#include "platform/launcher.h"
#include "testinteraction.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <cerrno>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace rh;

static void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace {

QString readText(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll()).trimmed();
}

// Restores an environment variable when the test ends.
class EnvGuard {
public:
    explicit EnvGuard(const char* name) : m_name(name), m_had(qEnvironmentVariableIsSet(name)),
        m_value(qgetenv(name)) {}
    ~EnvGuard()
    {
        if (m_had)
            qputenv(m_name, m_value);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    bool m_had;
    QByteArray m_value;
};

class Launcher : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_tmp.isValid());
        root = m_tmp.path();
        DriveMap map;
        map.add(QStringLiteral("C:"), root + QStringLiteral("/c"));
        map.add(QStringLiteral("D:"), root + QStringLiteral("/d"));
        map.add(QStringLiteral("\\\\fileserver\\share"), root + QStringLiteral("/fs"));
        setDriveMap(map);
        for (const char* d : {"c", "d/work", "fs", "out"})
            QDir().mkpath(root + QLatin1Char('/') + QLatin1String(d));
    }
    void TearDown() override { setDriveMap(DriveMap()); }

    // A stand-in program that records its arguments (one a line) into
    // out/<tag>, and beside it its folder, pid, session and stderr target.
    QString recorder(const QString& nativePath, const QString& tag, const QString& before = {})
    {
        const QString out = root + QStringLiteral("/out/") + tag;
        QDir().mkpath(QFileInfo(nativePath).absolutePath());
        QFile f(nativePath);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("#!/bin/sh\n%1\nout='%2'\n"
                               "pwd > \"$out.pwd\"\n"
                               "echo $$ > \"$out.pid\"\n"
                               "readlink /proc/$$/fd/2 > \"$out.stderr\"\n"
                               "read -r stat < /proc/$$/stat\n"
                               "echo \"$stat\" | cut -d' ' -f6 > \"$out.sid\"\n"
                               ": > \"$out.tmp\"\n"
                               "for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"$out.tmp\"; done\n"
                               "mv \"$out.tmp\" \"$out\"\n")
                    .arg(before, out)
                    .toUtf8());
        f.close();
        f.setPermissions(f.permissions() | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
        return out;
    }

    QStringList recorded(const QString& out)
    {
        QFile f(out);
        if (!f.open(QIODevice::ReadOnly))
            return {QStringLiteral("<not run>")};
        QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }

    // Starts a command line and waits for it; the arguments it saw.
    QStringList run(const QString& commandLine, const QString& out, LaunchOptions options = {})
    {
        QString error;
        const qint64 pid = startCommandLine(commandLine, options, &error);
        EXPECT_GT(pid, 0) << error.toStdString();
        if (pid <= 0)
            return {};
        EXPECT_TRUE(WaitForProcessEnded(pid));
        return recorded(out);
    }

    QString root;

private:
    QTemporaryDir m_tmp;
};

} // namespace

TEST(WindowsArguments, SplitByTheWindowsRules)
{
    struct Case {
        const char* text;
        QStringList args;
    } cases[] = {
        {"", {}},
        {"  a  b\tc ", {"a", "b", "c"}},
        {"/make D:\\src\\a.vbp", {"/make", "D:\\src\\a.vbp"}},
        {"\"two words\" x", {"two words", "x"}},
        {"pre\"fix mid\"post", {"prefix midpost"}},
        {"\"\"", {""}},
        {"a \"\" b", {"a", "", "b"}},
        {"\\\\server\\share\\x", {"\\\\server\\share\\x"}},
        // Backslashes count only before a quote.
        {"a\\\\\"b c\"", {"a\\b c"}},
        {"a\\\\\\\"b", {"a\\\"b"}},
        {"\\\"quoted\\\"", {"\"quoted\""}},
        // A folder written with a closing backslash inside quotes swallows the quote.
        {"\"C:\\dir\\\" next", {"C:\\dir\" next"}},
        // Runs of quotes inside quotes: every third is literal.
        {"\"a\"\"b\"", {"a\"b"}},
        {"\"a\"\"\"b\"", {"a\"b"}},
        {"a\"\"\"b", {"a\"b"}},
        {"\"unterminated text", {"unterminated text"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(splitWindowsArguments(QString::fromUtf8(c.text)), c.args) << c.text;
}

TEST_F(Launcher, UnquotedProgramWithBlanksInFolders)
{
    // The stand-in may carry the Windows name or none; both answer to "tool.exe".
    for (const char* name : {"tool.exe", "tool"}) {
        const QString dir = root + QStringLiteral("/c/Program Files/Tool Dir/");
        QFile::remove(dir + QStringLiteral("tool.exe"));
        QFile::remove(dir + QStringLiteral("tool"));
        const QString out = recorder(dir + QLatin1String(name), QLatin1String(name));
        const QString line = QStringLiteral("C:\\Program Files\\Tool Dir\\tool.exe /make D:\\src\\a.vbp");
        LaunchPlan plan;
        QString error;
        ASSERT_TRUE(planCommandLine(line, QString(), &plan, &error)) << error.toStdString();
        EXPECT_EQ(plan.kind, LaunchPlan::Kind::Native);
        EXPECT_EQ(plan.programText, QStringLiteral("C:\\Program Files\\Tool Dir\\tool.exe"));
        EXPECT_EQ(plan.program, dir + QLatin1String(name));
        EXPECT_EQ(run(line, out), (QStringList{"/make", root + "/d/src/a.vbp"})) << name;
    }
}

TEST_F(Launcher, ShortestExistingPrefixWins)
{
    recorder(root + QStringLiteral("/c/Program Files/Tool Dir/tool.exe"), QStringLiteral("long"));
    // "C:\Program Files\Tool" names a file too: Windows runs that one.
    recorder(root + QStringLiteral("/c/Program Files/Tool"), QStringLiteral("short"));
    LaunchPlan plan;
    ASSERT_TRUE(planCommandLine(QStringLiteral("C:\\Program Files\\Tool Dir\\tool.exe /x"), QString(), &plan));
    EXPECT_EQ(plan.program, root + QStringLiteral("/c/Program Files/Tool"));
    EXPECT_EQ(plan.arguments, (QStringList{"Dir\\tool.exe", "/x"}));
    // A folder of the same name is not a program.
    QDir().mkpath(root + QStringLiteral("/c/Apps"));
    recorder(root + QStringLiteral("/c/Apps x/run"), QStringLiteral("apps"));
    ASSERT_TRUE(planCommandLine(QStringLiteral("C:\\Apps x\\run.exe a"), QString(), &plan));
    EXPECT_EQ(plan.program, root + QStringLiteral("/c/Apps x/run"));
    // A name starting with ":" is a file in the working folder, not a Qt resource.
    recorder(root + QStringLiteral("/work/:tool"), QStringLiteral("colon"));
    ASSERT_TRUE(planCommandLine(QStringLiteral(":tool a"), root + QStringLiteral("/work"), &plan));
    EXPECT_EQ(plan.program, root + QStringLiteral("/work/:tool"));
}

TEST_F(Launcher, QuotedProgramAndWindowsPathArguments)
{
    const QString out = recorder(root + QStringLiteral("/c/Program Files/Tool Dir/tool"), QStringLiteral("q"));
    const QStringList args = run(QStringLiteral("\"C:\\Program Files\\Tool Dir\\tool\" \"two words\" "
                                                "D:\\x.txt \\\\fileserver\\share\\y\\z.txt rel\\p.txt "
                                                "C:/fw/q /switch \"D:\\with blank\\f.ism\""),
                                 out);
    EXPECT_EQ(args, (QStringList{"two words", root + "/d/x.txt", root + "/fs/y/z.txt", "rel\\p.txt",
                                 root + "/c/fw/q", "/switch", root + "/d/with blank/f.ism"}));
}

TEST_F(Launcher, UnmappedDrivesAndMissingProgramsStartNothing)
{
    QString error;
    EXPECT_EQ(startCommandLine(QStringLiteral("Q:\\tools\\x.exe /a"), {}, &error), 0);
    EXPECT_TRUE(error.contains(QStringLiteral("Q:"))) << error.toStdString();

    // An unmapped argument stops the start too: the tool would write elsewhere.
    const QString out = recorder(root + QStringLiteral("/c/tools/rec"), QStringLiteral("unmapped"));
    error.clear();
    EXPECT_EQ(startCommandLine(QStringLiteral("C:\\tools\\rec.exe R:\\out\\a.exe"), {}, &error), 0);
    EXPECT_TRUE(error.contains(QStringLiteral("R:"))) << error.toStdString();
    EXPECT_FALSE(QFile::exists(out + QStringLiteral(".pid")));

    error.clear();
    EXPECT_EQ(startCommandLine(QStringLiteral("C:\\Program Files\\none\\vb6.exe /make D:\\a.vbp"), {}, &error), 0);
    EXPECT_FALSE(error.isEmpty());

    // A file that is neither executable nor a PE image.
    QFile plain(root + QStringLiteral("/c/tools/readme.txt"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.write("text");
    plain.close();
    error.clear();
    EXPECT_EQ(startCommandLine(QStringLiteral("C:\\tools\\readme.txt"), {}, &error), 0);
    EXPECT_FALSE(error.isEmpty());

    // A missing working folder.
    error.clear();
    LaunchOptions o;
    o.workingFolder = QStringLiteral("D:\\no such folder");
    EXPECT_EQ(startCommandLine(QStringLiteral("C:\\tools\\rec.exe"), o, &error), 0);
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(Launcher, WorkingFolderAndWindowModes)
{
    const QString out = recorder(root + QStringLiteral("/c/tools/rec"), QStringLiteral("mode"));
    LaunchOptions o;
    o.workingFolder = QStringLiteral("D:\\work");
    o.mode = WindowMode::Hidden;
    run(QStringLiteral("C:\\tools\\rec.exe"), out, o);
    EXPECT_EQ(readText(out + QStringLiteral(".pwd")), root + QStringLiteral("/d/work"));
    // Hidden: no terminal, own session.
    EXPECT_EQ(readText(out + QStringLiteral(".stderr")), QStringLiteral("/dev/null"));
    EXPECT_EQ(readText(out + QStringLiteral(".sid")), readText(out + QStringLiteral(".pid")));

    o.mode = WindowMode::Normal;
    o.workingFolder = root + QStringLiteral("/c");
    run(QStringLiteral("C:\\tools\\rec.exe"), out, o);
    EXPECT_EQ(readText(out + QStringLiteral(".pwd")), root + QStringLiteral("/c"));
    EXPECT_NE(readText(out + QStringLiteral(".sid")), readText(out + QStringLiteral(".pid")));
}

TEST_F(Launcher, PeImagesRunThroughWineWithArgumentsUnchanged)
{
    EnvGuard path("PATH");
    const QString exe = root + QStringLiteral("/c/VB98/vb6.exe");
    QDir().mkpath(QFileInfo(exe).absolutePath());
    QFile pe(exe);
    ASSERT_TRUE(pe.open(QIODevice::WriteOnly));
    pe.write(QByteArray("MZ\x90\0", 4) + QByteArray(60, '\0'));
    pe.close();
    const QString line = QStringLiteral("C:\\VB98\\vb6.exe /make D:\\src\\a.vbp");

    const QString noWine = root + QStringLiteral("/nowine");
    QDir().mkpath(noWine);
    qputenv("PATH", QFile::encodeName(noWine));
    QString error;
    EXPECT_EQ(startCommandLine(line, {}, &error), 0);
    EXPECT_TRUE(error.contains(QStringLiteral("wine"))) << error.toStdString();

    const QString bin = root + QStringLiteral("/bin");
    const QString out = recorder(bin + QStringLiteral("/wine"), QStringLiteral("wine"));
    qputenv("PATH", QFile::encodeName(bin + QStringLiteral(":/usr/bin:/bin")));
    EXPECT_EQ(run(line, out), (QStringList{exe, "/make", "D:\\src\\a.vbp"}));
}

TEST_F(Launcher, NotepadAndExplorerOpenDesktopPrograms)
{
    EnvGuard visual("VISUAL");
    EnvGuard editor("EDITOR");
    EnvGuard path("PATH");
    const QString bin = root + QStringLiteral("/bin");
    const QString edit = recorder(bin + QStringLiteral("/my editor"), QStringLiteral("editor"));
    qputenv("VISUAL", QFile::encodeName(QLatin1Char('"') + bin + QStringLiteral("/my editor\" --wait")));
    EXPECT_EQ(run(QStringLiteral("notepad.exe C:\\Rollhaven\\inis\\setup.ini"), edit),
              (QStringList{"--wait", root + "/c/Rollhaven/inis/setup.ini"}));

    qunsetenv("VISUAL");
    const QString opener = recorder(bin + QStringLiteral("/xdg-open"), QStringLiteral("xdg"));
    qputenv("PATH", QFile::encodeName(bin + QStringLiteral(":/usr/bin:/bin")));
    qunsetenv("EDITOR");
    EXPECT_EQ(run(QStringLiteral("C:\\Windows\\NOTEPAD.EXE D:\\a.ini"), opener),
              (QStringList{root + "/d/a.ini"}));
    EXPECT_EQ(run(QStringLiteral("explorer.exe /select,D:\\out\\ledger.exe"), opener),
              (QStringList{root + "/d/out"}));
    EXPECT_EQ(run(QStringLiteral("explorer \\\\fileserver\\share\\setups"), opener),
              (QStringList{root + "/fs/setups"}));
}

TEST_F(Launcher, WaitForProcessEndedPumpsWhileTheProcessRuns)
{
    // The tool runs until the third pump lets it go (or a minute has passed).
    const QString release = root + QStringLiteral("/release");
    const QString out = recorder(
        root + QStringLiteral("/c/tools/slow"), QStringLiteral("slow"),
        QStringLiteral("i=0; while [ ! -e '%1' ] && [ $i -lt 1200 ]; do sleep 0.05; i=$((i+1)); done").arg(release));
    test::TestInteraction ui;
    QString error;
    const qint64 pid = startCommandLine(QStringLiteral("C:\\tools\\slow.exe a"), {}, &error);
    ASSERT_GT(pid, 0) << error.toStdString();
    int pumpsWhileRunning = 0;
    ui.onPump = [&] {
        if (!QFile::exists(out) && ++pumpsWhileRunning == 3)
            QFile(release).open(QIODevice::WriteOnly);
    };
    QElapsedTimer waited;
    waited.start();
    EXPECT_TRUE(WaitForProcessEnded(pid));
    EXPECT_TRUE(QFile::exists(out)); // it returned only after the end
    EXPECT_GE(pumpsWhileRunning, 3);
    // It waits between pumps (100 ms) rather than spinning; a slow machine
    // only spaces them further.
    EXPECT_LE(ui.pumps, waited.elapsed() / 20 + 1);
    // Reaped: no zombie is left behind.
    errno = 0;
    EXPECT_EQ(::waitpid(pid_t(pid), nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST_F(Launcher, WaitForProcessEndedWithoutAProcess)
{
    test::TestInteraction ui;
    EXPECT_FALSE(WaitForProcessEnded(0));
    EXPECT_FALSE(WaitForProcessEnded(-1));
    // A child that ended before anyone waited still counts as ended, once.
    const QString out = recorder(root + QStringLiteral("/c/tools/quick"), QStringLiteral("quick"));
    const qint64 pid = startCommandLine(QStringLiteral("C:\\tools\\quick"));
    ASSERT_GT(pid, 0);
    // Wait for its end without reaping it (WNOWAIT): the reaping is what is tested.
    siginfo_t info{};
    ASSERT_EQ(::waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT), 0);
    reapEndedChildren();
    EXPECT_TRUE(WaitForProcessEnded(pid));
    EXPECT_FALSE(WaitForProcessEnded(pid));
    EXPECT_EQ(ui.pumps, 0);
}

TEST_F(Launcher, StartWithoutWaitingDetaches)
{
    const QString out = recorder(root + QStringLiteral("/c/Merge Tool/멀티Exe런처.exe"), QStringLiteral("merge"),
                                 QStringLiteral("sleep 0.3"));
    QString error;
    const qint64 pid = startWithoutWaiting(QStringLiteral("C:\\Merge Tool\\멀티Exe런처.exe"), WindowMode::Normal, &error);
    ASSERT_GT(pid, 0) << error.toStdString();
    // Not our child: it outlives us and can never be our zombie.
    errno = 0;
    EXPECT_EQ(::waitpid(pid_t(pid), nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    test::TestInteraction ui;
    EXPECT_TRUE(WaitForProcessEnded(pid));
    EXPECT_TRUE(QFile::exists(out));
    EXPECT_EQ(readText(out + QStringLiteral(".pid")), QString::number(pid));
    // Its own session: closing our terminal does not end it.
    EXPECT_FALSE(readText(out + QStringLiteral(".sid")).isEmpty());
    EXPECT_NE(readText(out + QStringLiteral(".sid")), QString::number(::getsid(0)));
}

TEST_F(Launcher, ShellExecuteAndWaitKeepsTheWindowAnsweringWhileTheToolRuns)
{
    const QString out = recorder(root + QStringLiteral("/c/Program Files/Tool Dir/tool.exe"),
                                 QStringLiteral("shell"), QStringLiteral("sleep 0.3"));
    test::TestInteraction ui;
    QString error;
    // The file is one name, blanks and all; only the parameters are split.
    ShellExecuteAndWait(QStringLiteral("C:\\Program Files\\Tool Dir\\tool.exe"), 0,
                        QStringLiteral("/make D:\\src\\a.vbp"), QStringLiteral("D:\\work"), false, true,
                        &error);
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    EXPECT_EQ(recorded(out), (QStringList{"/make", root + "/d/src/a.vbp"}));
    EXPECT_EQ(readText(out + QStringLiteral(".pwd")), root + QStringLiteral("/d/work"));
    EXPECT_GT(ui.pumps, 0) << "a compiler may run for minutes: the wait yields to the event loop";

    // Hidden wins over minimized: no terminal.
    ShellExecuteAndWait(QStringLiteral("C:\\Program Files\\Tool Dir\\tool.exe"), 0, QString(),
                        QStringLiteral("D:\\work"), true, true, &error);
    EXPECT_EQ(readText(out + QStringLiteral(".stderr")), QStringLiteral("/dev/null"));
    EXPECT_EQ(recorded(out), QStringList());

    error.clear();
    ShellExecuteAndWait(QStringLiteral("C:\\Program Files\\Tool Dir\\missing.exe"), 0, QString(),
                        QStringLiteral("D:\\work"), false, false, &error);
    EXPECT_FALSE(error.isEmpty());
    // Every child of this test process has been reaped.
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}
