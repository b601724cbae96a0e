// The built program as an installed one meets it: --version without a window,
// and which folder it takes as its program folder.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

const QString kProgram = QStringLiteral(RH_BINARY_DIR "/src/rollhaven2");

struct Outcome {
    int code = -1;
    QString out, err;
};

// Runs the built program with a clean display-less environment: a front end
// that tried to open a window here would fail instead of exiting 0.
Outcome runProgram(const QStringList& args, const QProcessEnvironment& extra = {},
                   const QString& program = kProgram, const QStringList& runAs = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "ROLLHAVEN2_HOME"})
        env.remove(QLatin1String(v));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    for (const QString& k : extra.keys())
        env.insert(k, extra.value(k));
    QProcess p;
    p.setProcessEnvironment(env);
    if (runAs.isEmpty())
        p.start(program, args);
    else
        p.start(runAs.first(), runAs.mid(1) + QStringList{program} + args);
    EXPECT_TRUE(p.waitForFinished(60000));
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

QProcessEnvironment envWith(std::initializer_list<std::pair<const char*, QString>> vars)
{
    QProcessEnvironment env;
    for (const auto& [k, v] : vars)
        env.insert(QLatin1String(k), v);
    return env;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(bytes);
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A program folder whose one-project setup INI can run with no step ticked.
void layOutProgramFolder(const QString& home)
{
    writeFile(home + QStringLiteral("/site.ini"), "[Drives]\nC:=drives/C\nS:=drives/S\n");
    writeFile(home + QStringLiteral("/inis/a.ini"),
              "[Distribute]\r\nPath1=C:\\out\r\n[Project]\r\nProjectCount=1\r\nProject1=Ledger\r\n");
    QDir().mkpath(home + QStringLiteral("/drives/C/out"));
    QDir().mkpath(home + QStringLiteral("/drives/S"));
}

} // namespace

TEST(ProgramFolder, VersionAnswersForBothFrontEndsWithoutAWindow)
{
    const QString expected = QStringLiteral("rollhaven2 %1.%2.%3\n").arg(RH_VERSION_MAJOR).arg(RH_VERSION_MINOR).arg(RH_VERSION_PATCH);
    QTemporaryDir config;
    QProcessEnvironment env;
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    for (const QStringList& args : {QStringList{QStringLiteral("--version")},
                                    QStringList{QStringLiteral("--headless"), QStringLiteral("--version")}}) {
        const Outcome r = runProgram(args, env);
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_EQ(r.out, expected);
    }
    // Asking for the version creates nothing.
    EXPECT_TRUE(QDir(config.path()).isEmpty());
}

TEST(ProgramFolder, FirstStartSaysWhatToFillInOnStandardError)
{
    QTemporaryDir config;
    const QString home = config.path() + QStringLiteral("/rollhaven2");
    const Outcome first =
        runProgram({QStringLiteral("--headless"), QStringLiteral("--list")}, envWith({{"XDG_CONFIG_HOME", config.path()}}));
    EXPECT_TRUE(first.err.contains(QStringLiteral("처음 실행입니다. 프로그램 폴더를 만들었습니다: ") + home + QStringLiteral("\n- site.ini: ")))
        << first.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(home + QStringLiteral("/site.ini")));
}

TEST(ProgramFolder, LogsGoToTheUserStateFolderWhenTheProgramFolderIsNotWritable)
{
    // The program folder belongs to someone else. As root (CI) the program runs
    // as "nobody", since root may write anywhere; otherwise the folder is made read-only.
    QTemporaryDir root;
    const QString r = root.path();
    const QString home = r + QStringLiteral("/home");
    layOutProgramFolder(home);
    QStringList runAs;
    const QString user = r + QStringLiteral("/user");
    QDir().mkpath(user);
    if (geteuid() == 0) {
        runAs = {QStringLiteral("setpriv"), QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                 QStringLiteral("--clear-groups")};
        QFile::setPermissions(r, QFile::permissions(r) | QFile::ExeOther | QFile::ReadOther);
        ASSERT_EQ(QProcess::execute(QStringLiteral("chown"), {QStringLiteral("nobody"), user}), 0);
    } else {
        QFile::setPermissions(home, QFile::ReadOwner | QFile::ExeOwner);
    }
    const QString program = r + QStringLiteral("/rollhaven2");
    ASSERT_TRUE(QFile::copy(kProgram, program));
    const QProcessEnvironment env = envWith({{"XDG_CONFIG_HOME", user + QStringLiteral("/config")},
                                             {"XDG_STATE_HOME", user + QStringLiteral("/state")},
                                             {"HOME", user}});
    const Outcome o = runProgram({QStringLiteral("--headless"), QStringLiteral("--home"), home, QStringLiteral("--all"),
                                  QStringLiteral("--steps"), QStringLiteral("none"), QStringLiteral("--today"),
                                  QStringLiteral("2026-12-09")},
                                 env, program, runAs);
    QFile::setPermissions(home, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(o.code, 0) << o.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(home + QStringLiteral("/logs")));
    const QStringList logs =
        QDir(user + QStringLiteral("/state/rollhaven2/logs")).entryList({QStringLiteral("run_*.log")});
    ASSERT_EQ(logs.size(), 1);
    EXPECT_EQ(readFile(user + QStringLiteral("/state/rollhaven2/logs/") + logs[0]), o.out.toUtf8());
}
