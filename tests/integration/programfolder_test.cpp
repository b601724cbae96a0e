// The built program as an installed one meets it: --version without a window,
// and the first start of an installed program.
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
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
    // The number itself is checked against the package's version by
    // scripts/package-check.sh; here both front ends give the same line.
    QTemporaryDir config;
    QProcessEnvironment env;
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    QStringList outputs;
    for (const QStringList& args : {QStringList{QStringLiteral("--version")},
                                    QStringList{QStringLiteral("--headless"), QStringLiteral("--version")}}) {
        const Outcome r = runProgram(args, env);
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_TRUE(QRegularExpression(QStringLiteral("\\Arollhaven2 \\d+\\.\\d+\\.\\d+\n\\z")).match(r.out).hasMatch())
            << r.out.toStdString();
        outputs << r.out;
    }
    EXPECT_EQ(outputs.first(), outputs.last());
    // The revision the update launcher and the file changer compare.
    const Outcome revision = runProgram({QStringLiteral("--revision")}, env);
    EXPECT_EQ(revision.out, QStringLiteral("%1\n").arg(RH_VERSION_PATCH));
    // A flag's value is not a question: the INI is named "--version", and help is asked.
    const Outcome valued = runProgram({QStringLiteral("--headless"), QStringLiteral("--ini"), QStringLiteral("--version"),
                                       QStringLiteral("--help")},
                                      env);
    EXPECT_EQ(valued.code, 0);
    EXPECT_TRUE(valued.out.startsWith(QStringLiteral("usage: rollhaven2 --headless"))) << valued.out.toStdString();
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
    // The folder and the file that will hold the site's passwords are the
    // owner's alone, and no account has a built-in value to start with.
    EXPECT_EQ(QFileInfo(home).permissions() & 0x7077, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(QFileInfo(home + QStringLiteral("/site.ini")).permissions() & 0x7077,
              QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_NE(first.code, 0);
    for (const char* key : {"[Database] User", "[Database] Password", "[Database] WebUser", "[Database] WebPassword",
                            "[Ftp] User", "[Ftp] Password"})
        EXPECT_TRUE(first.err.contains(QStringLiteral("site.ini ") + QLatin1String(key) + QStringLiteral(" 값이 없습니다")))
            << key << "\n" << first.err.toStdString();
}
