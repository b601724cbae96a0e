#include "site/apphome.h"
#include "site/sitecfg.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace rh;

namespace {

// Sets an environment variable for one scope, restoring it afterwards.
struct ScopedEnv {
    const char* name;
    QByteArray old;
    bool had;
    ScopedEnv(const char* n, const QString& value) : name(n), old(qgetenv(n)), had(qEnvironmentVariableIsSet(n))
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value.toUtf8());
    }
    ~ScopedEnv() { had ? (void)qputenv(name, old) : (void)qunsetenv(name); }
};

void touch(const QString& path, const QByteArray& bytes = {})
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(ProgramFolder, HomeFlagThenEnvironmentThenExecutableFolderWithSiteIniThenUserFolder)
{
    QTemporaryDir tmp;
    const QString r = tmp.path();
    const QString exe = r + QStringLiteral("/app");
    touch(exe + QStringLiteral("/site.ini"));
    touch(r + QStringLiteral("/config/rollhaven2/site.ini"));
    ScopedEnv config("XDG_CONFIG_HOME", r + QStringLiteral("/config"));
    {
        ScopedEnv home("ROLLHAVEN2_HOME", r + QStringLiteral("/env"));
        EXPECT_EQ(resolveProgramFolder({QStringLiteral("--home"), r + QStringLiteral("/flag")}, exe), r + QStringLiteral("/flag"));
        EXPECT_EQ(resolveProgramFolder({QStringLiteral("--home=") + r + QStringLiteral("/flag2")}, exe), r + QStringLiteral("/flag2"));
        EXPECT_EQ(resolveProgramFolder({}, exe), r + QStringLiteral("/env"));
    }
    ScopedEnv noHome("ROLLHAVEN2_HOME", QString());
    EXPECT_EQ(resolveProgramFolder({}, exe), exe);
    // An executable folder without a site.ini is an installed program's (/usr/bin).
    EXPECT_EQ(resolveProgramFolder({}, r + QStringLiteral("/bin")), r + QStringLiteral("/config/rollhaven2"));
    EXPECT_TRUE(firstStartMessage().isEmpty());
}

TEST(ProgramFolder, FirstStartLaysOutACommentedTemplateOnceAndKeepsTheUsersEdits)
{
    QTemporaryDir tmp;
    const QString home = tmp.path() + QStringLiteral("/config/rollhaven2");
    ScopedEnv config("XDG_CONFIG_HOME", tmp.path() + QStringLiteral("/config"));
    ScopedEnv noHome("ROLLHAVEN2_HOME", QString());
    ASSERT_EQ(resolveProgramFolder({}, tmp.path() + QStringLiteral("/bin")), home);
    EXPECT_TRUE(firstStartMessage().startsWith(QStringLiteral("처음 실행입니다. 프로그램 폴더를 만들었습니다: ") + home));
    EXPECT_TRUE(QDir(home + QStringLiteral("/inis")).exists());
    EXPECT_TRUE(QDir(home + QStringLiteral("/inis")).isEmpty());

    const QByteArray tpl = readAll(home + QStringLiteral("/site.ini"));
    EXPECT_TRUE(tpl.contains("\n[Drives]\n"));
    // Value lines are commented and keep the built-in values, except the
    // accounts, which have none: they stand empty, to be filled in.
    const SiteConfig loaded = SiteConfig::load(home + QStringLiteral("/site.ini"));
    EXPECT_EQ(loaded.dbServerAddress, SiteConfig().dbServerAddress);
    EXPECT_TRUE(loaded.driveMap.isEmpty());
    EXPECT_EQ(loaded.missingAccounts().size(), 6);
    EXPECT_EQ(tpl.count("\nPassword=\n"), 2);
    for (const char* old : {"tv!n2020", "webH0st!2020", "ftp#Tarvel21", "WebHostUser", "tvc1"})
        EXPECT_FALSE(tpl.contains(old)) << old;

    // The user fills in a value by removing its ";".
    QByteArray edited = tpl;
    edited.replace(";Host=" + SiteConfig().ftpHost.toUtf8(), "Host=ftp.example.com");
    touch(home + QStringLiteral("/site.ini"), edited);
    resolveProgramFolder({}, tmp.path() + QStringLiteral("/bin"));
    EXPECT_TRUE(firstStartMessage().isEmpty());
    EXPECT_EQ(SiteConfig::load(home + QStringLiteral("/site.ini")).ftpHost, QStringLiteral("ftp.example.com"));
}

TEST(ProgramFolder, AFolderThatCannotBeMadeIsSaidPlainly)
{
    QTemporaryDir tmp;
    touch(tmp.path() + QStringLiteral("/file"));
    ScopedEnv config("XDG_CONFIG_HOME", tmp.path() + QStringLiteral("/file"));
    ScopedEnv noHome("ROLLHAVEN2_HOME", QString());
    resolveProgramFolder({}, tmp.path() + QStringLiteral("/bin"));
    EXPECT_EQ(firstStartMessage(), QStringLiteral("프로그램 폴더를 만들 수 없습니다: ") + tmp.path() + QStringLiteral("/file/rollhaven2"));
}

TEST(ProgramFolder, AnInstalledProgramIsKnownByItsCompanionFolder)
{
    QTemporaryDir tmp;
    const QString bin = tmp.path() + QStringLiteral("/usr/bin");
    QDir().mkpath(bin);
    EXPECT_FALSE(installedProgram(bin));
    EXPECT_EQ(companionFolder(bin), bin);
    QDir().mkpath(tmp.path() + QStringLiteral("/usr/lib/rollhaven2"));
    EXPECT_TRUE(installedProgram(bin));
    EXPECT_EQ(companionFolder(bin), tmp.path() + QStringLiteral("/usr/lib/rollhaven2"));
}

TEST(ProgramFolder, LogsGoToTheUserStateFolderWhenTheProgramFolderIsNotWritable)
{
    QTemporaryDir tmp;
    ScopedEnv state("XDG_STATE_HOME", tmp.path() + QStringLiteral("/state"));
    setProgramFolder(tmp.path());
    EXPECT_EQ(outputFolder(), tmp.path());
    // Root may write anywhere, so a folder that is not there stands in for a
    // read-only one; others also get a folder without write permission.
    setProgramFolder(tmp.path() + QStringLiteral("/gone"));
    EXPECT_EQ(outputFolder(), tmp.path() + QStringLiteral("/state/rollhaven2"));
    if (geteuid() != 0) {
        const QString ro = tmp.path() + QStringLiteral("/ro");
        QDir().mkpath(ro);
        QFile::setPermissions(ro, QFile::ReadOwner | QFile::ExeOwner);
        setProgramFolder(ro);
        EXPECT_EQ(outputFolder(), tmp.path() + QStringLiteral("/state/rollhaven2"));
        QFile::setPermissions(ro, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // A relative XDG_STATE_HOME is ignored, as the XDG rules say.
    ScopedEnv relative("XDG_STATE_HOME", QStringLiteral("state"));
    setProgramFolder(tmp.path() + QStringLiteral("/gone"));
    EXPECT_EQ(outputFolder(), QDir::homePath() + QStringLiteral("/.local/state/rollhaven2"));
}
