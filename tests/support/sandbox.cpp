#include "sandbox.h"

#include "site/apphome.h"
#include "platform/codepage.h"
#include "platform/usersettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace rh::test {

Sandbox::Sandbox()
{
    QDir(home()).mkpath(QStringLiteral("inis"));
    for (const char* d : {"C", "D", "S"})
        QDir(home()).mkpath(QStringLiteral("drives/") + QLatin1String(d));
    QDir(home()).mkpath(QStringLiteral("drives/fileserver"));
    m_site.driveMap = {{QStringLiteral("C:"), home() + QStringLiteral("/drives/C")},
                       {QStringLiteral("D:"), home() + QStringLiteral("/drives/D")},
                       {QStringLiteral("S:"), home() + QStringLiteral("/drives/S")},
                       {QStringLiteral("\\\\fileserver"), home() + QStringLiteral("/drives/fileserver")}};
    setAccounts(m_site);
    setProgramFolder(home());
    setUserSettingsFolder(home() + QStringLiteral("/settings"));
    apply();
}

void Sandbox::setAccounts(SiteConfig& site)
{
    site.dbUser = QStringLiteral("tv_inhouse");
    site.dbPassword = QStringLiteral("tv!n2020");
    site.webDbUser = QStringLiteral("WebHostUser");
    site.webDbPassword = QStringLiteral("webH0st!2020");
    site.ftpUser = QStringLiteral("tvc1");
    site.ftpPassword = QStringLiteral("Tv#Ftp0912ab");
}

QByteArray Sandbox::accountKeys()
{
    SiteConfig s;
    setAccounts(s);
    return QStringLiteral("[Database]\nUser=%1\nPassword=%2\nWebUser=%3\nWebPassword=%4\n[Ftp]\nUser=%5\nPassword=%6\n")
        .arg(s.dbUser, s.dbPassword, s.webDbUser, s.webDbPassword, s.ftpUser, s.ftpPassword)
        .toUtf8();
}

Sandbox::~Sandbox()
{
    setSite(SiteConfig());
}

QString Sandbox::drive(const QString& letter) const
{
    const QString p = home() + QStringLiteral("/drives/") + letter;
    QDir().mkpath(p);
    return p;
}

QString Sandbox::writeIni(const QString& name, const QString& text) const
{
    const QString path = iniPath(name);
    writeAnsi(path, text);
    return path;
}

void Sandbox::writeAnsi(const QString& nativePath, const QString& text)
{
    QDir().mkpath(QFileInfo(nativePath).absolutePath());
    QFile f(nativePath);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(toAnsi(text));
}

QByteArray Sandbox::readBytes(const QString& nativePath)
{
    QFile f(nativePath);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void Sandbox::apply()
{
    setSite(m_site);
}

} // namespace rh::test
