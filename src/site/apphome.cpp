#include "site/apphome.h"

#include "platform/drivemap.h"
#include "site/sitecfg.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace rh {
namespace {
QString g_home;
QString g_firstStart;

const char* const kSiteFile = "site.ini";

// An absolute XDG base folder from the environment, else its default under $HOME.
QString xdgBase(const char* variable, const char* fallback)
{
    const QString v = qEnvironmentVariable(variable);
    if (isNativeAbsolutePath(v))
        return v;
    return QDir::homePath() + QLatin1Char('/') + QLatin1String(fallback);
}

// Lays out the per-user program folder when it has no site.ini yet. Returns the
// first-start message, or an empty text when the folder was set up already.
QString preparePerUserFolder(const QString& home)
{
    const QString site = home + QLatin1Char('/') + QLatin1String(kSiteFile);
    if (QFileInfo::exists(site))
        return {};
    // The folder and site.ini hold the site's passwords: the owner's alone.
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    QSaveFile f(site);
    if (!QDir().mkpath(home + QStringLiteral("/inis"))
        || !QFile::setPermissions(home, ownerOnly | QFileDevice::ExeOwner) || !f.open(QIODevice::WriteOnly)
        || !f.setPermissions(ownerOnly) || f.write(siteIniTemplate()) < 0 || !f.commit())
        return QStringLiteral("프로그램 폴더를 만들 수 없습니다: ") + home;
    return QStringLiteral("처음 실행입니다. 프로그램 폴더를 만들었습니다: ") + home
        + QStringLiteral("\n- site.ini: 서버 주소와 포트, DB와 FTP 계정, [Drives]의 드라이브 연결을 채우세요"
                         " (채운 줄의 앞에 있는 \";\"를 지웁니다).\n- inis/: 셋업 INI 파일을 넣으세요.");
}
} // namespace

QString resolveProgramFolder(const QStringList& args, const QString& exeFolder)
{
    QString home;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--home") && i + 1 < args.size()) {
            home = args[i + 1];
            break;
        }
        if (a.startsWith(QLatin1String("--home="))) {
            home = a.mid(7);
            break;
        }
    }
    if (home.isEmpty())
        home = qEnvironmentVariable("ROLLHAVEN2_HOME");
    // A folder laid out beside the executable (an unpacked build) is used as it is.
    const QString exeDir = exeFolder.isEmpty() ? QCoreApplication::applicationDirPath() : exeFolder;
    if (home.isEmpty() && QFileInfo::exists(exeDir + QLatin1Char('/') + QLatin1String(kSiteFile)))
        home = exeDir;
    g_firstStart.clear();
    if (home.isEmpty()) {
        home = xdgBase("XDG_CONFIG_HOME", ".config") + QStringLiteral("/rollhaven2");
        g_firstStart = preparePerUserFolder(home);
    }
    setProgramFolder(home);
    return g_home;
}

bool installedProgram(const QString& exeFolder)
{
    const QString exeDir = exeFolder.isEmpty() ? QCoreApplication::applicationDirPath() : exeFolder;
    return QFileInfo(QDir(exeDir).filePath(QStringLiteral(RH_COMPANIONS_FROM_BIN))).isDir();
}

QString companionFolder(const QString& exeFolder)
{
    const QString exeDir = exeFolder.isEmpty() ? QCoreApplication::applicationDirPath() : exeFolder;
    if (installedProgram(exeDir))
        return QDir::cleanPath(QDir(exeDir).filePath(QStringLiteral(RH_COMPANIONS_FROM_BIN)));
    return exeDir;
}

QString firstStartMessage()
{
    return g_firstStart;
}

QString outputFolder()
{
    const QFileInfo home(programFolder());
    if (home.isDir() && home.isWritable())
        return home.filePath();
    return xdgBase("XDG_STATE_HOME", ".local/state") + QStringLiteral("/rollhaven2");
}

QString programFolder()
{
    if (g_home.isEmpty())
        g_home = QCoreApplication::applicationDirPath();
    return g_home;
}

void setProgramFolder(const QString& path)
{
    QString p = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    if (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    g_home = p;
}

int versionMajor() { return RH_VERSION_MAJOR; }
int versionMinor() { return RH_VERSION_MINOR; }
// An executable may carry a revision of its own (a newer build made for the
// update tests and the demo); the project's patch number otherwise.
// A weak function, not a weak constant: the compiler may fold a constant's
// value into its readers here, but never inlines a weak function.
extern "C" __attribute__((weak)) int rh_build_revision()
{
    return RH_VERSION_PATCH;
}

int versionRevision() { return rh_build_revision(); }
QString versionText()
{
    return QStringLiteral("%1.%2.%3").arg(versionMajor()).arg(versionMinor()).arg(versionRevision());
}

} // namespace rh
