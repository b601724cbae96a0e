// The built program as an installed one meets it: --version without a window,
// and the first start of an installed program.
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kProgram = QStringLiteral(RH_BINARY_DIR "/src/rollhaven2");

struct Outcome {
    int code = -1;
    QString out, err;
};

// Runs the built program with a clean display-less environment: a front end
// that tried to open a window here would fail instead of exiting 0.
Outcome runProgram(const QStringList& args, const QProcessEnvironment& extra = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "ROLLHAVEN2_HOME"})
        env.remove(QLatin1String(v));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    for (const QString& k : extra.keys())
        env.insert(k, extra.value(k));
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(kProgram, args);
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
    // The revision the update launcher and the file changer compare.
    const Outcome revision = runProgram({QStringLiteral("--revision")}, env);
    EXPECT_EQ(revision.out, QStringLiteral("%1\n").arg(RH_VERSION_PATCH));
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
