#pragma once
// The site configuration: every value the original held built in (server hosts,
// accounts and passwords, the file-server host, the code page, the drive map).
// Read from "site.ini" (UTF-8, profile syntax) in the program folder over
// compiled-in defaults. Secrets never appear in logs or error texts.
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace rh {

struct SiteConfig {
    // In-house MySQL (work diary, login). Port 3306 in the original; tests use others.
    QString dbServerAddress = QStringLiteral("db.tarvelsoft.local");
    int dbPort = 3306;
    // Accounts and passwords have no built-in value: site.ini must name them.
    QString dbUser;
    QString dbPassword;
    QString dbName = QStringLiteral("tv_inhouse");
    QString dbSocket; // Unix socket path; empty: TCP
    // Connection character set of both databases: "utf8mb4", or "ansi-bytes"
    // for tables shared with older tools that store the ANSI code page's bytes
    // as they are (the connection then declares latin1, which the server
    // passes through unchanged).
    QString dbCharSet = QStringLiteral("utf8mb4");
    // TLS of both databases: "off", "preferred" (when the server offers it) or
    // "required" (server certificate and host name checked). A CA file given
    // is checked in either TLS mode.
    QString dbTls = QStringLiteral("preferred");
    QString dbCaFile;

    // Web server: update downloads, server-address checker, web-host database.
    QString webServerAddress = QStringLiteral("www.tarvelsoft.local");
    int webHttpPort = 80;
    int webDbPort = 3306;
    QString webDbUser;
    QString webDbPassword;
    QString webDbName = QStringLiteral("webhost");
    QString webDbSocket;

    // Server-address checker (HTTP).
    QString checkerHost = QStringLiteral("www.tarvelsoft.local");
    int checkerPort = 80;

    // Hosts the checker may hand out: exact names or "*.domain" patterns.
    // site.ini's own hosts are always allowed; empty: only those.
    QStringList allowedHosts;

    // Update companions as the update folder publishes them, beside the
    // program.
    QString updateCheckerName = QStringLiteral("AutoVersionCheckerV1.exe");
    QString updateChangerName = QStringLiteral("filechanger.exe");
    // The release key(s) whose minisign signature every update file must
    // carry (base64 public keys; several during a key rotation). None: the
    // program never updates itself.
    QStringList updatePublicKeys;
    // Largest update file, and the limit of the whole update step (downloads
    // and the version checker together), besides the stall timeout.
    qint64 updateMaxBytes = 512LL * 1024 * 1024;
    int updateDeadlineSec = 120;

    // https:// for the update folder and the checker; the certificate is
    // checked against the system's authorities, or CaFile's when given.
    bool https = false;
    QString httpCaFile;

    // Download FTP server.
    QString ftpHost = QStringLiteral("ftp.tarvelsoft.local");
    int ftpPort = 21;
    QString ftpUser;
    QString ftpPassword;
    // "host:port" or a proxy URL; empty: a direct connection, whatever the
    // environment's ftp_proxy or all_proxy says.
    QString ftpProxy;

    // File server host of the UNC destinations.
    QString fileServerHost = QStringLiteral("fileserver");

    // The one developer account whose deadlocks are retried; never the
    // program's own user, whose sessions must not take that path. Empty: none.
    QString developerAccount;

    QString codePage = QStringLiteral("CP949");

    // Bounded waits, in seconds. A database that stops answering, or an FTP or
    // HTTP transfer that moves no byte for the stall time, ends the operation
    // with a message instead of holding the run.
    int dbConnectTimeoutSec = 10;
    int dbReadTimeoutSec = 30;
    int dbWriteTimeoutSec = 30;
    int ftpConnectTimeoutSec = 30;
    int ftpStallTimeoutSec = 60;
    int httpConnectTimeoutSec = 10;
    int httpStallTimeoutSec = 60;
    // Longest headless wait for the signing station, in minutes.
    int signingWaitTimeoutMin = 30;

    // Windows prefix ("C:", "S:", "\\fileserver\share") -> native folder.
    QList<QPair<QString, QString>> driveMap;

    // Loads `path` over the defaults; a missing file keeps every default.
    // Relative native folders in the drive map are taken from the file's folder.
    // Every value that cannot be used (a port outside 1..65535, an empty host,
    // an unknown code page, an unreadable file) adds one message naming its
    // key to *errors; the default stays in its place.
    static SiteConfig load(const QString& path, QStringList* errors = nullptr);
    // One message per account or password key left empty; a program that
    // connects must not start with any.
    QStringList missingAccounts() const;
};

// The process-wide site configuration (defaults until one is installed).
const SiteConfig& site();
void setSite(const SiteConfig& cfg);
// The commented site.ini a new per-user program folder starts with (UTF-8):
// every key, with the built-in value where it is not a secret.
QByteArray siteIniTemplate();

// Loads <program folder>/site.ini, installs it, applies its code page and
// drive map. Returns the installed configuration; *errors as in load() plus
// missingAccounts(). A program must not start when errors came back.
const SiteConfig& loadSiteConfig(QStringList* errors = nullptr);
// The messages of the last loadSiteConfig (empty when every value was usable).
const QStringList& siteConfigErrors();

} // namespace rh
