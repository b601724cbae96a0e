#pragma once
// Plain HTTP GET over libcurl on the calling thread: into memory (status,
// body, error text) or into a file. Redirects are followed as a browser's
// request object follows them; only http and https are spoken. Loopback hosts
// never go through a proxy from the environment. https checks the server's
// certificate and name, against the site's CaFile when one is set.
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace rh {

struct HttpOptions {
    int connectTimeoutSec = 10;
    // Whole request, redirects included; 0: no limit.
    int timeoutSec = 60;
    // A reply larger than this fails instead of filling memory or the disk.
    qint64 maxBodyBytes = 64 * 1024 * 1024;
    // A transfer that moves no byte for this long fails; 0: no limit.
    int stallTimeoutSec = 60;

    // Connect and stall limits of the site configuration, no overall limit
    // (a large download may take long as long as it moves).
    static HttpOptions fromSite();

    // Keep only the first bytes of the body and stop reading there (memory
    // GETs only); 0: the whole body.
    qint64 firstBytes = 0;
    // Always from the server: no cached copy from a proxy.
    bool noCache = false;
    QByteArray userAgent = "Rollhaven2";
};

struct HttpResult {
    // HTTP status of the last response; 0 when no response arrived.
    int status = 0;
    QByteArray body; // memory GETs only
    int curlCode = 0; // CURLcode; 0 when the transfer itself worked
    QString errorText; // curl's message or the client's own; empty on success

    // A response arrived (whatever its status).
    bool answered() const { return curlCode == 0 && status > 0 && errorText.isEmpty(); }
    bool ok() const { return answered() && status == 200; }
    // One line for a log or a test failure.
    QString describe() const;
};

// Percent-encodes a query value as UTF-8 bytes; unreserved characters
// (letters, digits, "-._~") stay as they are.
QString urlEncodeQueryValue(const QString& value);

// url + "?k=v&k=v" (or "&..." when url already holds a query); values are
// encoded with urlEncodeQueryValue, keys are taken as they are.
QString appendQuery(QString url, const QList<QPair<QString, QString>>& query);

// "http://host[:port]" (or "https://") with the port left out when it is the
// scheme's own; IPv6 literals in brackets.
QString httpBaseUrl(const QString& host, int port, bool https = false);

HttpResult httpGet(const QString& url, const HttpOptions& options = {});

// Downloads into a temporary file beside `path` and renames it over `path`
// only when the status is 200; otherwise `path` is left as it was. The body is
// not kept in memory.
HttpResult httpGetToFile(const QString& url, const QString& path, const HttpOptions& options = {});

} // namespace rh
