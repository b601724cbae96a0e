#include "site/sitecfg.h"

#include "site/apphome.h"
#include "platform/codepage.h"
#include "platform/drivemap.h"
#include "platform/profile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <optional>

namespace rh {
namespace {

SiteConfig& current()
{
    static SiteConfig cfg;
    return cfg;
}

// The site file is UTF-8, unlike the setup INIs. Values that cannot be used
// are reported by key and leave the default in place.
class SiteReader {
public:
    SiteReader(const QString& path, QStringList* errors) : m_errors(errors)
    {
        QFile f(path);
        m_exists = f.exists();
        if (!m_exists)
            return;
        if (!f.open(QIODevice::ReadOnly)) {
            report(QStringLiteral("site.ini 파일을 읽을 수 없습니다: ") + path + QStringLiteral(" (")
                   + f.errorString() + QLatin1Char(')'));
            m_exists = false;
            return;
        }
        m_file = ProfileFile(f.readAll());
    }
    bool exists() const { return m_exists; }
    void text(const char* section, const char* key, QString& target) const
    {
        if (auto v = raw(section, key))
            target = *v;
    }
    // A host name: present but empty is an error.
    void host(const char* section, const char* key, QString& target) const
    {
        auto v = raw(section, key);
        if (!v)
            return;
        if (v->trimmed().isEmpty()) {
            bad(section, key, *v, QStringLiteral("서버 주소가 비어 있습니다"));
            return;
        }
        target = v->trimmed();
    }
    void number(const char* section, const char* key, int& target, int low, int high,
                const QString& why) const
    {
        auto v = raw(section, key);
        if (!v)
            return;
        bool ok = false;
        const int n = v->trimmed().toInt(&ok);
        if (!ok || n < low || n > high) {
            bad(section, key, *v, why);
            return;
        }
        target = n;
    }
    void port(const char* section, const char* key, int& target) const
    {
        number(section, key, target, 1, 65535, QStringLiteral("1부터 65535 사이의 숫자여야 합니다"));
    }
    void seconds(const char* section, const char* key, int& target) const
    {
        number(section, key, target, 1, 3600,
               QStringLiteral("1부터 3600 사이의 초 단위 숫자여야 합니다"));
    }
    void bad(const char* section, const char* key, const QString& value, const QString& why) const
    {
        report(QStringLiteral("site.ini [") + QLatin1String(section) + QStringLiteral("] ")
               + QString::fromUtf8(key) + QStringLiteral(" 값이 잘못되었습니다: \"") + value
               + QStringLiteral("\" (") + why + QLatin1Char(')'));
    }
    void report(const QString& message) const
    {
        if (m_errors)
            m_errors->append(message);
    }
    const ProfileFile& file() const { return m_file; }
    bool has(const char* section, const char* key) const { return raw(section, key).has_value(); }
    void list(const char* section, const char* key, QStringList& target) const
    {
        static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
        if (auto v = raw(section, key))
            target = v->split(separators, Qt::SkipEmptyParts);
    }

private:
    std::optional<QString> raw(const char* section, const char* key) const
    {
        auto v = m_file.value(QLatin1String(section), QString::fromUtf8(key));
        if (!v)
            return std::nullopt;
        return QString::fromUtf8(*v);
    }

    ProfileFile m_file;
    bool m_exists = false;
    QStringList* m_errors;
};

// "RW...": base64 of "Ed", a key id and an Ed25519 key, as minisign writes it.
bool isMinisignPublicKey(const QString& text)
{
    const auto raw = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    return raw && raw.decoded.size() == 42 && raw.decoded.startsWith("Ed");
}

bool isDrivePrefix(const QString& p)
{
    if (p.size() == 2 && p[1] == QLatin1Char(':') && p[0].isLetter() && p[0].unicode() < 128)
        return true;
    // "\\host" or "\\host\share...", with a host name.
    return (p.startsWith(QLatin1String("\\\\")) || p.startsWith(QLatin1String("//"))) && p.size() > 2
        && p[2] != QLatin1Char('\\') && p[2] != QLatin1Char('/');
}

} // namespace

SiteConfig SiteConfig::load(const QString& path, QStringList* errors)
{
    SiteConfig c;
    SiteReader r(path, errors);
    if (!r.exists())
        return c;
    r.host("Servers", "DBServerAddress", c.dbServerAddress);
    r.port("Servers", "DBPort", c.dbPort);
    r.text("Servers", "DBSocket", c.dbSocket);
    r.host("Servers", "WebServerAddress", c.webServerAddress);
    r.port("Servers", "WebHttpPort", c.webHttpPort);
    r.port("Servers", "WebDBPort", c.webDbPort);
    r.text("Servers", "WebDBSocket", c.webDbSocket);
    r.host("Servers", "CheckerHost", c.checkerHost);
    r.port("Servers", "CheckerPort", c.checkerPort);
    r.host("Servers", "FileServerHost", c.fileServerHost);
    r.text("Database", "User", c.dbUser);
    r.text("Database", "Password", c.dbPassword);
    r.text("Database", "Name", c.dbName);
    r.text("Database", "WebUser", c.webDbUser);
    r.text("Database", "WebPassword", c.webDbPassword);
    r.text("Database", "WebName", c.webDbName);
    r.text("Database", "DeveloperAccount", c.developerAccount);
    r.seconds("Database", "ConnectTimeout", c.dbConnectTimeoutSec);
    r.seconds("Database", "ReadTimeout", c.dbReadTimeoutSec);
    r.seconds("Database", "WriteTimeout", c.dbWriteTimeoutSec);
    r.number("Signing", "WaitTimeout", c.signingWaitTimeoutMin, 1, 10080,
             QStringLiteral("1부터 10080 사이의 분 단위 숫자여야 합니다"));
    r.text("Database", "CharSet", c.dbCharSet);
    QString tls = c.dbTls;
    r.text("Database", "Tls", tls);
    tls = tls.trimmed().toLower();
    if (tls == QLatin1String("off") || tls == QLatin1String("preferred") || tls == QLatin1String("required"))
        c.dbTls = tls;
    else
        r.bad("Database", "Tls", tls, QStringLiteral("off, preferred 또는 required여야 합니다"));
    r.text("Database", "CaFile", c.dbCaFile);
    c.dbCaFile = c.dbCaFile.trimmed();
    if (!c.dbCaFile.isEmpty()) {
        if (!isNativeAbsolutePath(c.dbCaFile))
            c.dbCaFile = QDir::cleanPath(QFileInfo(path).absolutePath() + QLatin1Char('/') + c.dbCaFile);
        if (!QFileInfo(c.dbCaFile).isReadable())
            r.bad("Database", "CaFile", c.dbCaFile, QStringLiteral("읽을 수 있는 파일이 아닙니다"));
    }
    r.host("Ftp", "Host", c.ftpHost);
    r.port("Ftp", "Port", c.ftpPort);
    r.text("Update", "CheckerName", c.updateCheckerName);
    r.text("Update", "ChangerName", c.updateChangerName);
    QStringList keys;
    r.list("Update", "PublicKey", keys);
    for (const QString& key : std::as_const(keys)) {
        if (isMinisignPublicKey(key))
            c.updatePublicKeys.append(key);
        else
            r.bad("Update", "PublicKey", key, QStringLiteral("minisign 공개 키가 아닙니다"));
    }
    int maxMiB = int(c.updateMaxBytes >> 20);
    r.number("Update", "MaxFileMiB", maxMiB, 1, 65536, QStringLiteral("1부터 65536 사이의 MiB 단위 숫자여야 합니다"));
    c.updateMaxBytes = qint64(maxMiB) << 20;
    r.seconds("Update", "Deadline", c.updateDeadlineSec);
    r.list("Servers", "AllowedHosts", c.allowedHosts);
    int https = c.https ? 1 : 0;
    r.number("Http", "Https", https, 0, 1, QStringLiteral("0 또는 1이어야 합니다"));
    c.https = https != 0;
    r.text("Http", "CaFile", c.httpCaFile);
    // The scheme's own port unless one is named.
    if (c.https && !r.has("Servers", "WebHttpPort"))
        c.webHttpPort = 443;
    if (c.https && !r.has("Servers", "CheckerPort"))
        c.checkerPort = 443;
    r.text("Ftp", "User", c.ftpUser);
    r.text("Ftp", "Password", c.ftpPassword);
    r.text("Ftp", "Proxy", c.ftpProxy);
    r.seconds("Ftp", "ConnectTimeout", c.ftpConnectTimeoutSec);
    r.seconds("Ftp", "StallTimeout", c.ftpStallTimeoutSec);
    r.seconds("Http", "ConnectTimeout", c.httpConnectTimeoutSec);
    r.seconds("Http", "StallTimeout", c.httpStallTimeoutSec);
    QString codePage = c.codePage;
    r.text("Text", "CodePage", codePage);
    if (isKnownCodePage(codePage))
        c.codePage = codePage.trimmed();
    else
        r.bad("Text", "CodePage", codePage, QStringLiteral("알 수 없는 코드 페이지입니다"));

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
        QString prefix = QString::fromUtf8(line.left(std::max(eq, 0))).trimmed();
        QString native = QString::fromUtf8(line.mid(eq + 1)).trimmed();
        if (eq <= 0 || !isDrivePrefix(prefix) || native.isEmpty()) {
            r.report(QStringLiteral("site.ini [Drives] 줄이 잘못되었습니다: \"") + QString::fromUtf8(line)
                     + QStringLiteral("\" (X:=폴더 또는 \\\\서버\\공유=폴더 형식이어야 합니다)"));
            continue;
        }
        if (!isNativeAbsolutePath(native))
            native = QDir::cleanPath(base + QLatin1Char('/') + native);
        c.driveMap.append({prefix, native});
    }
    return c;
}

QStringList SiteConfig::missingAccounts() const
{
    const struct {
        const char* section;
        const char* key;
        const QString& value;
    } required[] = {
        {"Database", "User", dbUser},         {"Database", "Password", dbPassword},
        {"Database", "WebUser", webDbUser},   {"Database", "WebPassword", webDbPassword},
        {"Ftp", "User", ftpUser},             {"Ftp", "Password", ftpPassword},
    };
    QStringList out;
    for (const auto& r : required)
        if (r.value.isEmpty())
            out << QStringLiteral("site.ini [") + QLatin1String(r.section) + QStringLiteral("] ")
                    + QLatin1String(r.key) + QStringLiteral(" 값이 없습니다 (이 사이트의 계정 값을 채우세요)");
    return out;
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
        "; Hosts the checker may hand out besides the ones above: names or *.domain.\n"
        ";AllowedHosts=\n"
        "\n"
        "[Database]\n"
        "; Accounts and passwords have no built-in value: fill these four in.\n"
        "User=\n"
        "Password=\n"
        ";Name=%9\n"
        "WebUser=\n"
        "WebPassword=\n"
        ";WebName=%10\n"
        "; The account whose deadlocks are retried (empty: none).\n"
        ";DeveloperAccount=\n"
        "; Seconds a database may take to accept a connection, answer, take a statement.\n"
        ";ConnectTimeout=10\n"
        ";ReadTimeout=30\n"
        ";WriteTimeout=30\n"
        "; Connection character set: utf8mb4, or ansi-bytes for tables shared with older\n"
        "; CP949 tools (latin1 columns holding CP949 bytes).\n"
        ";CharSet=utf8mb4\n"
        "; TLS: off, preferred (when the server offers it) or required (the server's\n"
        "; certificate and host name are checked against CaFile, a PEM file).\n"
        ";Tls=preferred\n"
        ";CaFile=\n"
        "\n"
        "[Signing]\n"
        "; Minutes a headless run waits for the signing station before it stops\n"
        "; (--signing-timeout overrides it; the window waits until cancelled).\n"
        ";WaitTimeout=30\n"
        "\n"
        "[Ftp]\n"
        "; Download FTP server.\n"
        ";Host=%11\n"
        ";Port=%12\n"
        "User=\n"
        "Password=\n"
        "; Seconds to connect, and without a byte moving before a transfer fails.\n"
        ";ConnectTimeout=30\n"
        ";StallTimeout=60\n"
        "\n"
        "[Http]\n"
        ";ConnectTimeout=10\n"
        ";StallTimeout=60\n"
        "; Proxy (host:port or URL); empty: a direct connection, whatever ftp_proxy or\n"
        "; all_proxy say.\n"
        ";Proxy=\n"
        "; 1: https for the update folder and the checker, certificates checked\n"
        "; (against CaFile's authorities when given).\n"
        ";Https=0\n"
        ";CaFile=\n"
        "\n"
        "[Update]\n"
        "; The release key(s), minisign public keys (RW...), that sign the update folder's\n"
        "; files; several during a key rotation. None: the program never updates itself.\n"
        ";PublicKey=\n"
        "; Largest update file (MiB), and seconds the whole update step may take.\n"
        ";MaxFileMiB=512\n"
        ";Deadline=120\n"
        "\n"
        "[Signing]\n"
        "; PEM file(s), \";\"-separated: the CA that issues the code-signing certificate, or the\n"
        "; certificate itself. When set, a file the signing station hands back replaces the\n"
        "; build only with an Authenticode signature that chains to one of them.\n"
        ";Certificate=\n"
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

QStringList& lastErrors()
{
    static QStringList errors;
    return errors;
}

const QStringList& siteConfigErrors()
{
    return lastErrors();
}

const SiteConfig& loadSiteConfig(QStringList* errors)
{
    lastErrors().clear();
    setSite(SiteConfig::load(programFolder() + QStringLiteral("/site.ini"), &lastErrors()));
    lastErrors() << current().missingAccounts();
    if (errors)
        *errors = lastErrors();
    return current();
}

} // namespace rh
