#include "platform/sitecfg.h"

#include "platform/apphome.h"
#include "platform/codepage.h"
#include "platform/drivemap.h"
#include "platform/profile.h"

#include <QDir>
#include <QFileInfo>

namespace rh {
namespace {

SiteConfig& current()
{
    static SiteConfig cfg;
    return cfg;
}

// The site file is UTF-8, unlike the setup INIs.
class SiteReader {
public:
    explicit SiteReader(const QString& path) : m_file(ProfileFile::load(path)) {}
    bool exists() const { return m_file.exists(); }
    void text(const char* section, const char* key, QString& target) const
    {
        auto v = m_file.value(QLatin1String(section), QLatin1String(key));
        if (v)
            target = QString::fromUtf8(*v);
    }
    void number(const char* section, const char* key, int& target) const
    {
        auto v = m_file.value(QLatin1String(section), QLatin1String(key));
        bool ok = false;
        int n = v ? QString::fromUtf8(*v).toInt(&ok) : 0;
        if (ok)
            target = n;
    }
    const ProfileFile& file() const { return m_file; }

private:
    ProfileFile m_file;
};

} // namespace

SiteConfig SiteConfig::load(const QString& path)
{
    SiteConfig c;
    SiteReader r(path);
    if (!r.exists())
        return c;
    r.text("Servers", "DBServerAddress", c.dbServerAddress);
    r.number("Servers", "DBPort", c.dbPort);
    r.text("Servers", "DBSocket", c.dbSocket);
    r.text("Servers", "WebServerAddress", c.webServerAddress);
    r.number("Servers", "WebHttpPort", c.webHttpPort);
    r.number("Servers", "WebDBPort", c.webDbPort);
    r.text("Servers", "WebDBSocket", c.webDbSocket);
    r.text("Servers", "CheckerHost", c.checkerHost);
    r.number("Servers", "CheckerPort", c.checkerPort);
    r.text("Servers", "FileServerHost", c.fileServerHost);
    r.text("Database", "User", c.dbUser);
    r.text("Database", "Password", c.dbPassword);
    r.text("Database", "Name", c.dbName);
    r.text("Database", "WebUser", c.webDbUser);
    r.text("Database", "WebPassword", c.webDbPassword);
    r.text("Database", "WebName", c.webDbName);
    r.text("Database", "DeveloperAccount", c.developerAccount);
    r.text("Database", "CharSet", c.dbCharSet);
    r.text("Update", "CheckerName", c.updateCheckerName);
    r.text("Update", "ChangerName", c.updateChangerName);
    int requireDigest = c.updateRequireDigest ? 1 : 0;
    r.number("Update", "RequireDigest", requireDigest);
    c.updateRequireDigest = requireDigest != 0;
    r.text("Ftp", "Host", c.ftpHost);
    r.number("Ftp", "Port", c.ftpPort);
    r.text("Ftp", "User", c.ftpUser);
    r.text("Ftp", "Password", c.ftpPassword);
    r.text("Ftp", "Proxy", c.ftpProxy);
    r.text("Text", "CodePage", c.codePage);

    // [Drives]: one line per prefix, "S:=/srv/sign" or "\\fileserver\share=/srv/fs".
    const QByteArray& bytes = r.file().bytes();
    const QList<QByteArray> lines = bytes.split('\n');
    bool inDrives = false;
    const QString base = QFileInfo(path).absolutePath();
    for (QByteArray line : lines) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(';'))
            continue;
        if (line.startsWith('[')) {
            inDrives = line.toLower() == "[drives]";
            continue;
        }
        if (!inDrives)
            continue;
        int eq = line.lastIndexOf('=');
        if (eq <= 0)
            continue;
        QString prefix = QString::fromUtf8(line.left(eq)).trimmed();
        QString native = QString::fromUtf8(line.mid(eq + 1)).trimmed();
        if (prefix.isEmpty() || native.isEmpty())
            continue;
        if (QDir::isRelativePath(native))
            native = QDir::cleanPath(base + QLatin1Char('/') + native);
        c.driveMap.append({prefix, native});
    }
    return c;
}

QByteArray siteIniTemplate()
{
    const SiteConfig d;
    const QString text = QStringLiteral(
        "; Rollhaven2 site configuration (UTF-8), made on the first start.\n"
        "; Fill in your site's values and remove the \";\" in front of each line you set.\n"
        "; A line left commented keeps the built-in value shown. See man rollhaven2.\n"
        "\n"
        "[Servers]\n"
        "; In-house MySQL server (login, work diary); the server-address checker may replace it.\n"
        ";DBServerAddress=%1\n"
        ";DBPort=%2\n"
        "; Web server: update downloads and the web-host database.\n"
        ";WebServerAddress=%3\n"
        ";WebHttpPort=%4\n"
        ";WebDBPort=%5\n"
        "; Server-address checker (HTTP).\n"
        ";CheckerHost=%6\n"
        ";CheckerPort=%7\n"
        "; Host of the file-server shares in the setup INIs (\\\\host\\share).\n"
        ";FileServerHost=%8\n"
        "\n"
        "[Database]\n"
        ";User=\n"
        ";Password=\n"
        ";Name=%9\n"
        ";WebUser=\n"
        ";WebPassword=\n"
        ";WebName=%10\n"
        "; The account whose deadlocks are retried.\n"
        ";DeveloperAccount=\n"
        "; Connection character set: utf8mb4, or ansi-bytes for tables shared with older\n"
        "; CP949 tools (latin1 columns holding CP949 bytes).\n"
        ";CharSet=utf8mb4\n"
        "\n"
        "[Ftp]\n"
        "; Download FTP server.\n"
        ";Host=%11\n"
        ";Port=%12\n"
        ";User=\n"
        ";Password=\n"
        "; Proxy (host:port or URL); empty: a direct connection, whatever ftp_proxy or\n"
        "; all_proxy say.\n"
        ";Proxy=\n"
        "\n"
        "[Text]\n"
        "; Code page of setup INIs, version files and database texts.\n"
        ";CodePage=%13\n"
        "\n"
        "[Drives]\n"
        "; Windows drives and shares named in the setup INIs, each mapped to a local folder.\n"
        "; A drive or share without a line here is an error, never a write somewhere else.\n"
        ";C:=/srv/build/c\n"
        ";S:=/mnt/codesigning\n"
        ";\\\\fileserver=/mnt/fileserver\n");
    return text.arg(d.dbServerAddress)
        .arg(d.dbPort)
        .arg(d.webServerAddress)
        .arg(d.webHttpPort)
        .arg(d.webDbPort)
        .arg(d.checkerHost)
        .arg(d.checkerPort)
        .arg(d.fileServerHost)
        .arg(d.dbName)
        .arg(d.webDbName)
        .arg(d.ftpHost)
        .arg(d.ftpPort)
        .arg(d.codePage)
        .toUtf8();
}

const SiteConfig& site()
{
    return current();
}

void setSite(const SiteConfig& cfg)
{
    current() = cfg;
    setAnsiCodePage(cfg.codePage);
    DriveMap map;
    for (const auto& [prefix, native] : cfg.driveMap)
        map.add(prefix, native);
    setDriveMap(map);
}

const SiteConfig& loadSiteConfig()
{
    setSite(SiteConfig::load(programFolder() + QStringLiteral("/site.ini")));
    return current();
}

} // namespace rh
