#include "net/http.h"

#include "net/httpsink.h"

#include "platform/interaction.h"
#include "platform/journal.h"
#include "site/sitecfg.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QUrl>

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace rh {

namespace {

CURLcode performPumping(CURL* c);

void globalInit()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
using CurlPtr = std::unique_ptr<CURL, CurlDeleter>;

size_t writeCallback(char* data, size_t size, size_t count, void* user)
{
    return static_cast<HttpSink*>(user)->take(data, size * count);
}

bool isLoopbackHost(const QString& host)
{
    return host.startsWith(QLatin1String("127.")) || host == QLatin1String("::1")
           || host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0;
}

HttpResult perform(const QString& url, const HttpOptions& options, HttpSink* sink)
{
    HttpResult r;
    const QUrl parsed(url, QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() || parsed.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        r.errorText = QStringLiteral("not an http(s) URL: %1").arg(url);
        return r;
    }

    globalInit();
    CurlPtr curl(curl_easy_init());
    if (!curl) {
        r.errorText = QStringLiteral("curl_easy_init failed");
        return r;
    }
    char errbuf[CURL_ERROR_SIZE] = {};
    const QByteArray urlBytes = url.toUtf8();
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, urlBytes.constData());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errbuf);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, long(options.connectTimeoutSec));
    curl_easy_setopt(c, CURLOPT_TIMEOUT, long(options.timeoutSec));
    if (options.stallTimeoutSec > 0) {
        curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, long(options.stallTimeoutSec));
    }
    // Refused at once when the length is announced; a body read only for its
    // first bytes never fails for the size of the rest.
    if (options.maxBodyBytes > 0 && options.firstBytes == 0)
        curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(options.maxBodyBytes));
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    const QByteArray caFile = QFile::encodeName(site().httpCaFile);
    if (!caFile.isEmpty())
        curl_easy_setopt(c, CURLOPT_CAINFO, caFile.constData());
    curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, ""); // whatever curl can decode
    curl_easy_setopt(c, CURLOPT_USERAGENT, options.userAgent.constData());
    struct curl_slist* headers = nullptr;
    if (options.noCache) {
        headers = curl_slist_append(headers, "Cache-Control: no-cache");
        headers = curl_slist_append(headers, "Pragma: no-cache");
        curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
    }
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &writeCallback);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, sink);
    // A proxy from the environment must never see loopback traffic.
    if (isLoopbackHost(parsed.host()))
        curl_easy_setopt(c, CURLOPT_NOPROXY, "*");

    CURLcode rc = performPumping(c);
    curl_slist_free_all(headers);
    if (rc == CURLE_WRITE_ERROR && sink->cutShort)
        rc = CURLE_OK;
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    r.status = int(status);
    if (rc != CURLE_OK) {
        r.curlCode = int(rc);
        r.errorText = !sink->error.isEmpty() ? sink->error
                      : errbuf[0]            ? QString::fromUtf8(errbuf)
                                             : QString::fromUtf8(curl_easy_strerror(rc));
    }
    return r;
}


// Runs a request through a multi handle in short polls, turning the event
// loop in between, so a window stays answering while a server takes its time.
CURLcode performPumping(CURL* c)
{
    CURLM* m = curl_multi_init();
    if (!m)
        return curl_easy_perform(c);
    if (curl_multi_add_handle(m, c) != CURLM_OK) {
        curl_multi_cleanup(m);
        return curl_easy_perform(c);
    }
    int running = 1;
    CURLMcode mc = CURLM_OK;
    while (mc == CURLM_OK) {
        mc = curl_multi_perform(m, &running);
        if (mc != CURLM_OK || running == 0)
            break;
        interaction().pumpEvents();
        mc = curl_multi_poll(m, nullptr, 0, 20, nullptr);
    }
    CURLcode rc = mc == CURLM_OK ? CURLE_OK : CURLE_RECV_ERROR;
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(m, &queued))
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == c)
            rc = msg->data.result;
    curl_multi_remove_handle(m, c);
    curl_multi_cleanup(m);
    return rc;
}
} // namespace

HttpOptions HttpOptions::fromSite()
{
    HttpOptions o;
    o.connectTimeoutSec = site().httpConnectTimeoutSec;
    o.stallTimeoutSec = site().httpStallTimeoutSec;
    o.timeoutSec = 0;
    return o;
}

QString HttpResult::describe() const
{
    if (curlCode != 0)
        return QStringLiteral("curl error %1: %2 (HTTP status %3)").arg(curlCode).arg(errorText).arg(status);
    if (!errorText.isEmpty())
        return errorText;
    return QStringLiteral("HTTP status %1, %2 bytes").arg(status).arg(body.size());
}

QString urlEncodeQueryValue(const QString& value)
{
    return QString::fromLatin1(value.toUtf8().toPercentEncoding());
}

QString appendQuery(QString url, const QList<QPair<QString, QString>>& query)
{
    for (const auto& [key, value] : query) {
        url += url.contains(QLatin1Char('?')) ? QLatin1Char('&') : QLatin1Char('?');
        url += key + QLatin1Char('=') + urlEncodeQueryValue(value);
    }
    return url;
}

QString httpBaseUrl(const QString& host, int port, bool https)
{
    QString h = host;
    if (h.contains(QLatin1Char(':')) && !h.startsWith(QLatin1Char('[')))
        h = QLatin1Char('[') + h + QLatin1Char(']');
    QString url = (https ? QStringLiteral("https://") : QStringLiteral("http://")) + h;
    if (port > 0 && port != (https ? 443 : 80))
        url += QLatin1Char(':') + QString::number(port);
    return url;
}

HttpResult httpGet(const QString& url, const HttpOptions& options)
{
    QByteArray body;
    HttpSink sink;
    sink.memory = &body;
    sink.limit = options.maxBodyBytes;
    sink.firstBytes = options.firstBytes;
    HttpResult r = perform(url, options, &sink);
    if (r.curlCode == 0 && r.errorText.isEmpty())
        r.body = std::move(body);
    return r;
}

HttpResult httpGetToFile(const QString& url, const QString& path, const HttpOptions& options)
{
    if (!journal().httpDownload(url, path)) {
        HttpResult planned;
        planned.status = 200;
        return planned;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        HttpResult r;
        r.errorText = QStringLiteral("cannot create %1: %2").arg(path, file.errorString());
        return r;
    }
    HttpSink sink;
    sink.file = &file;
    sink.limit = options.maxBodyBytes;
    HttpResult r = perform(url, options, &sink);
    if (!r.ok()) {
        file.cancelWriting(); // the old file stays as it was
        return r;
    }
    if (!file.commit()) {
        r.errorText = QStringLiteral("cannot save %1: %2").arg(path, file.errorString());
        r.curlCode = 0;
    }
    return r;
}

} // namespace rh
