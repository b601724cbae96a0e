#include "platform/apphome.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace rh {
namespace {
QString g_home;
}

QString resolveProgramFolder(const QStringList& args)
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
    if (home.isEmpty())
        home = QCoreApplication::applicationDirPath();
    setProgramFolder(home);
    return g_home;
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
int versionRevision() { return RH_VERSION_PATCH; }
QString versionText()
{
    return QStringLiteral("%1.%2.%3").arg(versionMajor()).arg(versionMinor()).arg(versionRevision());
}

} // namespace rh
