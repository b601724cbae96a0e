#include "net/ftpsession.h"

#include "net/ftpreply.h"

#include "platform/codepage.h"
#include "platform/journal.h"
#include "site/sitecfg.h"

#include <QHash>
#include <QElapsedTimer>
#include <QFile>
#include <QList>

#include <curl/curl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <linux/sockios.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>

namespace rh {

namespace {

constexpr qint64 kChunk = FtpChunk::kSize;
constexpr int kMinUploadBuffer = 16 * 1024;
constexpr int kMaxUploadBuffer = 2 * 1024 * 1024;
constexpr int kPollMs = 10;
constexpr qint64 kIdleMs = 50;

void globalInit()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Remote names travel as bytes of the ANSI code page, as the Windows client sent
// them; a name the code page cannot hold would reach the server mangled.
bool remoteBytes(const QString& path, QByteArray* out, QString* why)
{
    if (!path.startsWith(QLatin1Char('/'))) {
        *why = QStringLiteral("remote path must be absolute: %1").arg(path);
        return false;
    }
    for (QChar c : path) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QChar(0)) {
            *why = QStringLiteral("remote path holds a line break or NUL");
            return false;
        }
    }
    QByteArray bytes = toAnsi(path);
    if (fromAnsi(bytes) != path) {
        *why = QStringLiteral("remote path cannot be written in code page %1: %2")
                   .arg(ansiCodePageName(), path);
        return false;
    }
    *out = bytes;
    return true;
}

// Reads a local file or a memory block for curl, handing it out in 1024-byte
// chunks and asking the caller about each one.
struct UploadSource {
    QFile* file = nullptr;
    const QByteArray* memory = nullptr;
    qint64 total = 0;
    qint64 queued = 0;
    const FtpUploadHooks* hooks = nullptr;
    bool onePerRead = false;
    const bool* closing = nullptr;

    QByteArray staged; // one chunk, when curl offers less room than a chunk
    qsizetype stagedPos = 0;

    bool cancelled = false;
    bool stopRequested = false;
    QString localError;
    // The data connection's socket (the one curl opens for the upload).
    curl_socket_t dataSocket = CURL_SOCKET_BAD;

    // The end of the upload is held back from curl: once curl sees it, it
    // waits for the server's final reply without coming back, for as long
    // as the server takes to read what the socket buffers still hold. So
    // the session ends the data stream itself and waits for the server to
    // close its side, answering the loop meanwhile; only then curl sees the
    // end and finds the reply already there.
    enum class End { Open, Held, Released } end = End::Open;

    bool readInto(char* dst, qint64 n)
    {
        if (memory) {
            std::memcpy(dst, memory->constData() + queued, size_t(n));
            return true;
        }
        qint64 got = 0;
        while (got < n) {
            qint64 r = file->read(dst + got, n - got);
            if (r <= 0) {
                localError = r < 0 ? QStringLiteral("reading %1 failed: %2")
                                         .arg(file->fileName(), file->errorString())
                                   : QStringLiteral("%1 became shorter during the upload")
                                         .arg(file->fileName());
                return false;
            }
            got += r;
        }
        return true;
    }

    // Runs the chunk callback over n bytes just read; false stops the upload.
    bool announce(qint64 n)
    {
        for (qint64 off = 0; off < n; off += kChunk) {
            FtpChunk c;
            c.bytes = std::min(kChunk, n - off);
            queued += c.bytes;
            c.queued = queued;
            c.total = total;
            if (hooks && hooks->chunk && !hooks->chunk(c)) {
                cancelled = true;
                return false;
            }
            if (closing && *closing) {
                cancelled = true;
                return false;
            }
        }
        return true;
    }

    size_t fill(char* buf, size_t room)
    {
        if (stopRequested || (closing && *closing)) {
            cancelled = localError.isEmpty();
            return CURL_READFUNC_ABORT;
        }
        if (stagedPos < staged.size()) {
            size_t n = std::min(room, size_t(staged.size() - stagedPos));
            std::memcpy(buf, staged.constData() + stagedPos, n);
            stagedPos += qsizetype(n);
            return n;
        }
        qint64 left = total - queued;
        if (left <= 0) {
            // Everything before was written to the socket: curl asks for
            // more only when its buffer went out.
            if (end == End::Open && dataSocket != CURL_SOCKET_BAD && ::shutdown(dataSocket, SHUT_WR) == 0) {
                end = End::Held;
                return CURL_READFUNC_PAUSE;
            }
            return 0;
        }
        qint64 want = std::min<qint64>(qint64(room), left);
        if (onePerRead)
            want = std::min(want, kChunk);
        if (want < left)
            want -= want % kChunk; // whole chunks only, except the file's last one
        if (want == 0) {
            qint64 n = std::min(kChunk, left);
            staged.resize(qsizetype(n));
            stagedPos = 0;
            if (!readInto(staged.data(), n) || !announce(n))
                return CURL_READFUNC_ABORT;
            return fill(buf, room);
        }
        if (!readInto(buf, want) || !announce(want))
            return CURL_READFUNC_ABORT;
        return size_t(want);
    }
};

size_t readCallback(char* buf, size_t size, size_t nitems, void* userdata)
{
    auto* src = static_cast<UploadSource*>(userdata);
    try {
        return src->fill(buf, size * nitems);
    } catch (...) {
        // Nothing may unwind through curl.
        src->localError = QStringLiteral("the upload callback threw an exception");
        return CURL_READFUNC_ABORT;
    }
}

struct Collect {
    QByteArray* out;
    qint64 max;
};

size_t collectLimitedCallback(char* data, size_t size, size_t nitems, void* userdata)
{
    auto* c = static_cast<Collect*>(userdata);
    const size_t n = size * nitems;
    if (c->out->size() + qint64(n) > c->max)
        return 0; // larger than any version file: refused
    c->out->append(data, qsizetype(n));
    return n;
}

size_t discardCallback(char*, size_t size, size_t nitems, void*)
{
    return size * nitems;
}

size_t collectCallback(char* data, size_t size, size_t nitems, void* userdata)
{
    static_cast<QByteArray*>(userdata)->append(data, qsizetype(size * nitems));
    return size * nitems;
}

// Stops a running upload at curl's next progress check once the idle hook
// or a disconnect asked for it.
int dataSocketCallback(void* userdata, curl_socket_t fd, curlsocktype purpose)
{
    if (purpose == CURLSOCKTYPE_IPCXN)
        static_cast<UploadSource*>(userdata)->dataSocket = fd;
    return CURL_SOCKOPT_OK;
}

// Bytes written to a TCP socket that its peer has not acknowledged yet (0
// when the socket is gone or cannot tell).
curl_off_t unacknowledged(curl_socket_t fd)
{
    if (fd == CURL_SOCKET_BAD)
        return 0;
    int pending = 0;
    if (::ioctl(fd, SIOCOUTQ, &pending) != 0 || pending < 0)
        return 0;
    return curl_off_t(pending);
}

// The server has read the whole upload once it closes its side of the data
// connection (or the connection broke): its final reply follows at once.
bool serverClosedData(curl_socket_t fd)
{
    pollfd p{fd, POLLIN | POLLRDHUP, 0};
    return ::poll(&p, 1, 0) != 0;
}

int xferInfoCallback(void* userdata, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto* src = static_cast<UploadSource*>(userdata);
    if (src->stopRequested || (src->closing && *src->closing)) {
        src->cancelled = src->localError.isEmpty();
        return 1;
    }
    return 0;
}

} // namespace

FtpLogin FtpLogin::fromSite()
{
    const SiteConfig& s = site();
    FtpLogin l;
    l.host = s.ftpHost;
    l.port = s.ftpPort > 0 ? s.ftpPort : 21;
    l.user = s.ftpUser;
    l.password = s.ftpPassword;
    l.connectTimeoutSec = s.ftpConnectTimeoutSec;
    l.stallTimeoutSec = s.ftpStallTimeoutSec;
    l.proxy = s.ftpProxy;
    return l;
}

QString FtpResult::describe() const
{
    QString text;
    switch (status) {
    case FtpStatus::Completed:
        return QStringLiteral("completed");
    case FtpStatus::Cancelled:
        text = QStringLiteral("cancelled");
        break;
    case FtpStatus::Failed:
        text = curlCode ? QStringLiteral("curl error %1: %2").arg(curlCode).arg(errorText) : errorText;
        break;
    }
    if (!serverReply.isEmpty())
        text += QStringLiteral(" [%1]").arg(serverReply);
    return text;
}

struct FtpSession::Impl {
    // The connection cache lives in the multi handle; the easy handle is added
    // for each operation and removed after it.
    CURLM* multi = nullptr;
    CURL* curl = nullptr;
    FtpLogin login;
    QByteArray baseUrl; // "ftp://host:port"
    QByteArray user;
    QByteArray password;
    QByteArray proxy; // empty: no proxy at all
    char errbuf[CURL_ERROR_SIZE] = {};
    bool busy = false;
    bool closing = false; // disconnect() came from inside a callback

    // Server replies of the running operation.
    QByteArray lastReply;
    QList<QByteArray> replyLines; // every line, as received (without CR LF)
    bool sawPreliminary = false;
    // Rename: the commands sent and the final reply to each.
    QList<QByteArray> commandsSent;
    QList<QByteArray> finalReplies;

    ~Impl() { close(); }

    void close()
    {
        if (curl)
            curl_easy_cleanup(curl);
        if (multi)
            curl_multi_cleanup(multi); // sends QUIT on the cached connection
        curl = nullptr;
        multi = nullptr;
        closing = false;
    }

    QString scrub(QString text) const
    {
        // Replies and curl's messages should never carry the password; make sure.
        if (login.password.size() >= 3)
            text.replace(login.password, QStringLiteral("********"));
        return text;
    }

    static size_t headerCallback(char* data, size_t size, size_t nitems, void* userdata)
    {
        auto* d = static_cast<Impl*>(userdata);
        size_t n = size * nitems;
        QByteArray raw(data, qsizetype(n));
        while (raw.endsWith('\n') || raw.endsWith('\r'))
            raw.chop(1);
        d->replyLines.append(raw);
        const QByteArray line = replyText(raw);
        if (line.isEmpty())
            return n;
        d->lastReply = line;
        if (isFinalReply(raw) && raw.at(0) == '1')
            d->sawPreliminary = true;
        return n;
    }

    static int debugCallback(CURL*, curl_infotype type, char* data, size_t size, void* userdata)
    {
        auto* d = static_cast<Impl*>(userdata);
        const QByteArray text(data, qsizetype(size));
        if (type == CURLINFO_HEADER_OUT) {
            // Only the commands we look for are kept (never USER/PASS).
            if (text.startsWith("RNFR ") || text.startsWith("RNTO ") || text.startsWith("MLST ")
                || text.startsWith("DELE "))
                d->commandsSent.append(text.left(4));
            else
                d->commandsSent.append(QByteArray("-"));
        } else if (type == CURLINFO_HEADER_IN) {
            for (const QByteArray& l : finalReplyLines(text)) {
                if (d->finalReplies.size() < d->commandsSent.size())
                    d->finalReplies.append(l);
            }
        }
        return 0;
    }

    // Every operation starts from clean options; the live connection stays in
    // the multi handle's cache, which is what carries the session.
    void prepare(const QByteArray& url)
    {
        curl_easy_reset(curl);
        errbuf[0] = 0;
        lastReply.clear();
        replyLines.clear();
        sawPreliminary = false;
        curl_easy_setopt(curl, CURLOPT_URL, url.constData());
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "ftp");
        // An empty text turns off the proxy that curl would otherwise take
        // from ftp_proxy or all_proxy.
        curl_easy_setopt(curl, CURLOPT_PROXY, proxy.constData());
        curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
        curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errbuf);
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, long(login.connectTimeoutSec));
        curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, long(login.stallTimeoutSec));
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, long(login.stallTimeoutSec));
        curl_easy_setopt(curl, CURLOPT_TCP_KEEPALIVE, 1L);
        // Passive mode is curl's default (no CURLOPT_FTPPORT); binary (TYPE I) too.
        // Absolute paths are sent as they are, without walking folders by CWD.
        curl_easy_setopt(curl, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD));
        // Body-less requests would print curl's "Content-Length:" lines.
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &discardCallback);
        curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Impl::headerCallback);
        curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
    }

    QByteArray urlFor(const QByteArray& remote) const
    {
        // "%2F" keeps the path absolute instead of relative to the login folder.
        return baseUrl + "/%2F" + remote.mid(1).toPercentEncoding("/");
    }

    // Runs the operation. curl_easy_perform would wait up to a second for a
    // socket event that libcurl 7.88 sometimes never asks for (the passive
    // data connection's connect); polling in short steps bounds that stall.
    // `between` runs on every turn of the loop.
    CURLcode perform(const std::function<void()>& between = {})
    {
        CURLMcode mc = curl_multi_add_handle(multi, curl);
        if (mc != CURLM_OK)
            return CURLE_FAILED_INIT;
        int running = 1;
        while (mc == CURLM_OK) {
            mc = curl_multi_perform(multi, &running);
            if (mc != CURLM_OK || running == 0)
                break;
            if (between)
                between();
            mc = curl_multi_poll(multi, nullptr, 0, kPollMs, nullptr);
        }
        CURLcode rc = mc == CURLM_OK ? CURLE_OK : CURLE_RECV_ERROR;
        if (mc != CURLM_OK)
            std::snprintf(errbuf, sizeof errbuf, "%s", curl_multi_strerror(mc));
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == curl)
                rc = msg->data.result;
        }
        curl_multi_remove_handle(multi, curl);
        return rc;
    }

    FtpResult failure(CURLcode rc) const
    {
        FtpResult r;
        r.status = FtpStatus::Failed;
        r.curlCode = int(rc);
        r.errorText = scrub(QString::fromLocal8Bit(errbuf[0] ? errbuf : curl_easy_strerror(rc)));
        r.serverReply = scrub(fromAnsi(lastReply));
        return r;
    }

    // What a dry run answers for an operation it only journaled.
    static FtpResult planned(qint64 bytes)
    {
        FtpResult r;
        r.status = FtpStatus::Completed;
        r.remoteOpened = true;
        r.bytesSent = std::max<qint64>(bytes, 0);
        return r;
    }

    static FtpResult ownFailure(const QString& text)
    {
        FtpResult r;
        r.status = FtpStatus::Failed;
        r.errorText = text;
        return r;
    }

    // Common refusals before an operation touches curl.
    bool refuse(FtpResult* r) const
    {
        if (busy) {
            *r = ownFailure(QStringLiteral("the FTP session is busy with another operation"));
            return true;
        }
        if (!curl) {
            *r = ownFailure(QStringLiteral("not connected to the FTP server"));
            return true;
        }
        return false;
    }

    void finish()
    {
        busy = false;
        if (closing)
            close();
    }

    // Sends commands on the control connection (RNFR/RNTO, DELE, MLST) and
    // keeps each one's final reply by its name. "*" lets curl go on after a
    // refused command instead of dropping the connection; the replies are
    // judged by the caller.
    CURLcode quote(const QList<QByteArray>& commands, QHash<QByteArray, QByteArray>* replies)
    {
        curl_slist* list = nullptr;
        for (const QByteArray& c : commands)
            list = curl_slist_append(list, ("*" + c).constData());
        prepare(baseUrl + '/');
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(curl, CURLOPT_QUOTE, list);
        curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
        curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, &Impl::debugCallback);
        curl_easy_setopt(curl, CURLOPT_DEBUGDATA, this);
        commandsSent.clear();
        finalReplies.clear();
        const bool wasBusy = busy;
        busy = true;
        const CURLcode rc = perform();
        busy = wasBusy;
        curl_easy_setopt(curl, CURLOPT_QUOTE, nullptr);
        curl_slist_free_all(list);
        for (qsizetype i = 0; i < finalReplies.size() && i < commandsSent.size(); ++i)
            replies->insert(commandsSent[i], finalReplies[i]);
        return rc;
    }

    // SIZE (curl sends it for a body-less request on a file). Completed when
    // the server told the size; a Failed result with curlCode 0 when it gave
    // none or answered 550, which servers also use to refuse the command.
    FtpResult lookupBySize(const QByteArray& remote, FtpFileInfo* info)
    {
        prepare(urlFor(remote));
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
        const CURLcode rc = perform();
        if (rc != CURLE_OK && rc != CURLE_REMOTE_FILE_NOT_FOUND)
            return failure(rc);
        curl_off_t size = -1;
        if (rc == CURLE_OK)
            curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size);
        if (size < 0) {
            FtpResult r = ownFailure(QStringLiteral("the server gave no size"));
            r.serverReply = scrub(fromAnsi(lastReply));
            return r;
        }
        info->exists = true;
        info->size = qint64(size);
        FtpResult r;
        r.status = FtpStatus::Completed;
        return r;
    }

    // MLST (RFC 3659). Completed only when the server answered with facts.
    FtpResult lookupByMlst(const QByteArray& remote, FtpFileInfo* info)
    {
        QHash<QByteArray, QByteArray> replies;
        const CURLcode rc = quote({"MLST " + remote}, &replies);
        if (rc != CURLE_OK)
            return failure(rc);
        const QByteArray reply = replies.value("MLST");
        if (reply.startsWith("250")) {
            for (const QByteArray& line : replyLines)
                if (line.startsWith(' ') && parseMlstFacts(line, info)) {
                    FtpResult r;
                    r.status = FtpStatus::Completed;
                    return r;
                }
        }
        FtpResult r = ownFailure(QStringLiteral("the server gave no MLST facts"));
        r.serverReply = scrub(fromAnsi(reply));
        return r;
    }

    // LIST of the folder, searched for the file.
    FtpResult lookupByListing(const QByteArray& remote, FtpFileInfo* info)
    {
        const qsizetype slash = remote.lastIndexOf('/');
        const QByteArray folder = remote.left(slash + 1);
        const QByteArray name = remote.mid(slash + 1);
        QByteArray listing;
        prepare(urlFor(folder));
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &collectCallback);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &listing);
        const CURLcode rc = perform();
        FtpResult r;
        *info = {};
        if (rc == CURLE_REMOTE_FILE_NOT_FOUND
            || (rc == CURLE_FTP_COULDNT_RETR_FILE && lastReply.startsWith("550"))) {
            r.status = FtpStatus::Completed; // no such folder, so no such file
            return r;
        }
        if (rc != CURLE_OK)
            return failure(rc);
        findInListing(listing, name, info);
        r.status = FtpStatus::Completed;
        return r;
    }

    FtpResult upload(UploadSource& src, const QByteArray& remote, const FtpUploadHooks& hooks,
                     const FtpUploadOptions& opt)
    {
        src.hooks = &hooks;
        src.onePerRead = opt.oneChunkPerRead;
        src.closing = &closing;

        prepare(urlFor(remote));
        curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
        // No CURLOPT_INFILESIZE: with it curl ends the upload on the last
        // byte by itself instead of asking the read callback for the end.
        curl_easy_setopt(curl, CURLOPT_READFUNCTION, &readCallback);
        curl_easy_setopt(curl, CURLOPT_READDATA, &src);
        long buffer = std::clamp(opt.bufferSize, kMinUploadBuffer, kMaxUploadBuffer);
        curl_easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, buffer);
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &xferInfoCallback);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &src);
        // The control connection is open already: the socket opened now is
        // the data connection, whose unacknowledged bytes the progress leaves out.
        src.dataSocket = CURL_SOCKET_BAD;
        curl_easy_setopt(curl, CURLOPT_SOCKOPTFUNCTION, &dataSocketCallback);
        curl_easy_setopt(curl, CURLOPT_SOCKOPTDATA, &src);

        // The idle hook runs from the loop, outside curl, at most every
        // kIdleMs and only when no chunk callback ran meanwhile.
        QElapsedTimer sinceHook;
        sinceHook.start();
        qint64 lastQueued = -1;
        qint64 lastSent = 0;
        // While the end is held the server reads what is buffered; past the
        // stall time curl gets the end and its own reply timeout applies.
        QElapsedTimer held;
        auto releaseEnd = [&] {
            if (src.end != UploadSource::End::Held)
                return;
            if (!held.isValid())
                held.start();
            if (src.stopRequested || closing || serverClosedData(src.dataSocket)
                || held.elapsed() >= qint64(login.stallTimeoutSec) * 1000) {
                src.end = UploadSource::End::Released;
                curl_easy_pause(curl, CURLPAUSE_CONT);
            }
        };
        auto between = [&] {
            releaseEnd();
            if (hooks.sent && !src.stopRequested) {
                curl_off_t now = 0;
                if (curl_easy_getinfo(curl, CURLINFO_SIZE_UPLOAD_T, &now) == CURLE_OK)
                    now = std::max<curl_off_t>(0, now - unacknowledged(src.dataSocket));
                if (now > lastSent) {
                    lastSent = qint64(now);
                    try {
                        hooks.sent(lastSent);
                    } catch (...) {
                        src.localError = QStringLiteral("the upload callback threw an exception");
                        src.stopRequested = true;
                    }
                }
            }
            if (src.queued != lastQueued) {
                lastQueued = src.queued;
                sinceHook.restart();
                return;
            }
            if (!hooks.idle || src.stopRequested || sinceHook.elapsed() < kIdleMs)
                return;
            sinceHook.restart();
            try {
                if (!hooks.idle())
                    src.stopRequested = true;
            } catch (...) {
                src.localError = QStringLiteral("the upload callback threw an exception");
                src.stopRequested = true;
            }
        };
        busy = true;
        CURLcode rc = perform(between);

        FtpResult r;
        if (rc == CURLE_OK) {
            r.status = FtpStatus::Completed;
        } else if (!src.localError.isEmpty()) {
            r = ownFailure(src.localError);
            r.curlCode = int(CURLE_READ_ERROR);
            r.serverReply = scrub(fromAnsi(lastReply));
        } else if (rc == CURLE_ABORTED_BY_CALLBACK && src.cancelled) {
            r.status = FtpStatus::Cancelled;
            r.curlCode = int(rc);
            r.errorText = QStringLiteral("upload cancelled");
        } else {
            r = failure(rc);
        }
        r.remoteOpened = sawPreliminary;
        curl_off_t sent = 0;
        if (curl_easy_getinfo(curl, CURLINFO_SIZE_UPLOAD_T, &sent) == CURLE_OK)
            r.bytesSent = qint64(sent);
        finish();
        return r;
    }
};

FtpSession::FtpSession() : d(std::make_unique<Impl>()) {}

FtpSession::~FtpSession() = default;

bool FtpSession::isConnected() const
{
    return d->curl != nullptr && !d->closing;
}

FtpResult FtpSession::connect(const FtpLogin& login)
{
    if (d->busy)
        return Impl::ownFailure(QStringLiteral("the FTP session is busy with another operation"));
    if (d->curl)
        return Impl::ownFailure(QStringLiteral("already connected to the FTP server"));
    if (login.host.isEmpty() || login.port <= 0 || login.port > 65535)
        return Impl::ownFailure(QStringLiteral("no FTP server configured (host \"%1\", port %2)")
                                    .arg(login.host)
                                    .arg(login.port));

    globalInit();
    d->multi = curl_multi_init();
    d->curl = curl_easy_init();
    if (!d->multi || !d->curl) {
        d->close();
        return Impl::ownFailure(QStringLiteral("libcurl could not create a handle"));
    }
    d->login = login;
    d->user = toAnsi(login.user);
    d->password = toAnsi(login.password);
    d->proxy = login.proxy.trimmed().toUtf8();
    QByteArray host = login.host.toUtf8();
    if (host.contains(':') && !host.startsWith('['))
        host = '[' + host + ']';
    d->baseUrl = "ftp://" + host + ':' + QByteArray::number(login.port);

    // A body-less request on the root logs in and transfers nothing; the
    // connection stays open in the handle for the operations that follow.
    d->prepare(d->baseUrl + '/');
    curl_easy_setopt(d->curl, CURLOPT_NOBODY, 1L);
    d->busy = true;
    CURLcode rc = d->perform();
    d->busy = false;
    if (rc != CURLE_OK) {
        FtpResult r = d->failure(rc);
        d->close();
        return r;
    }
    FtpResult r;
    r.status = FtpStatus::Completed;
    return r;
}

void FtpSession::disconnect()
{
    if (d->busy) {
        // Called from a callback of a running transfer: stop it, close after.
        d->closing = true;
        return;
    }
    d->close();
}

FtpResult FtpSession::uploadFile(const QString& localPath, const QString& remotePath,
                                 const FtpUploadHooks& hooks, const FtpUploadOptions& options)
{
    FtpResult r;
    if (d->refuse(&r))
        return r;
    // Journaled before the name is encoded: a plan's names may hold placeholders.
    if (!journal().ftpUpload(localPath, remotePath, journal().fileSize(localPath)))
        return Impl::planned(journal().fileSize(localPath));
    QByteArray remote;
    QString why;
    if (!remoteBytes(remotePath, &remote, &why))
        return Impl::ownFailure(why);

    QFile file(localPath);
    // Unbuffered: curl's buffer is the only copy of the data in memory.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        r = Impl::ownFailure(QStringLiteral("cannot open %1: %2").arg(localPath, file.errorString()));
        r.curlCode = int(CURLE_READ_ERROR);
        return r;
    }
    UploadSource src;
    src.file = &file;
    src.total = file.size();
    return d->upload(src, remote, hooks, options);
}

FtpResult FtpSession::uploadData(const QByteArray& data, const QString& remotePath)
{
    FtpResult r;
    if (d->refuse(&r))
        return r;
    if (!journal().ftpUploadData(remotePath, data))
        return Impl::planned(data.size());
    QByteArray remote;
    QString why;
    if (!remoteBytes(remotePath, &remote, &why))
        return Impl::ownFailure(why);
    UploadSource src;
    src.memory = &data;
    src.total = data.size();
    FtpUploadOptions opt;
    opt.bufferSize = int(std::clamp<qint64>(data.size(), kMinUploadBuffer, kMaxUploadBuffer));
    return d->upload(src, remote, {}, opt);
}

FtpResult FtpSession::rename(const QString& fromPath, const QString& toPath)
{
    FtpResult r;
    if (d->refuse(&r))
        return r;
    // What the new name held before, so that a resume can tell it from a
    // third party's file.
    qint64 before = -1;
    if (journal().recording()) {
        FtpFileInfo info;
        if (lookup(toPath, &info).ok() && info.exists)
            before = info.size;
    }
    if (!journal().ftpRename(fromPath, toPath, before))
        return Impl::planned(0);
    QByteArray from, to;
    QString why;
    if (!remoteBytes(fromPath, &from, &why) || !remoteBytes(toPath, &to, &why))
        return Impl::ownFailure(why);

    QHash<QByteArray, QByteArray> replies;
    const CURLcode rc = d->quote({"RNFR " + from, "RNTO " + to}, &replies);
    if (rc != CURLE_OK) {
        r = d->failure(rc);
        d->finish();
        return r;
    }
    const QByteArray rnfr = replies.value("RNFR");
    const QByteArray rnto = replies.value("RNTO");
    d->finish();
    if (rnfr.startsWith("350") && rnto.startsWith('2')) {
        r.status = FtpStatus::Completed;
        return r;
    }
    r = Impl::ownFailure(rnfr.startsWith("350")
                             ? QStringLiteral("the server refused the new name %1").arg(toPath)
                             : QStringLiteral("the server refused to rename %1").arg(fromPath));
    r.curlCode = int(CURLE_QUOTE_ERROR);
    r.serverReply = d->scrub(fromAnsi(rnfr.startsWith("350") ? rnto : rnfr));
    return r;
}

FtpResult FtpSession::remove(const QString& remotePath)
{
    FtpResult r;
    if (d->refuse(&r))
        return r;
    if (!journal().ftpDelete(remotePath))
        return Impl::planned(0);
    QByteArray path;
    QString why;
    if (!remoteBytes(remotePath, &path, &why))
        return Impl::ownFailure(why);

    QHash<QByteArray, QByteArray> replies;
    const CURLcode rc = d->quote({"DELE " + path}, &replies);
    if (rc != CURLE_OK) {
        r = d->failure(rc);
        d->finish();
        return r;
    }
    const QByteArray dele = replies.value("DELE");
    d->finish();
    if (dele.startsWith('2')) {
        r.status = FtpStatus::Completed;
        return r;
    }
    r = Impl::ownFailure(QStringLiteral("the server refused to delete %1").arg(remotePath));
    r.curlCode = int(CURLE_QUOTE_ERROR);
    r.serverReply = d->scrub(fromAnsi(dele));
    return r;
}

FtpResult FtpSession::download(const QString& remotePath, QByteArray* out, qint64 maxBytes)
{
    out->clear();
    FtpResult r;
    if (d->refuse(&r))
        return r;
    QByteArray remote;
    QString why;
    if (!remoteBytes(remotePath, &remote, &why))
        return Impl::ownFailure(why);
    Collect collect{out, maxBytes};
    d->prepare(d->urlFor(remote));
    curl_easy_setopt(d->curl, CURLOPT_WRITEFUNCTION, &collectLimitedCallback);
    curl_easy_setopt(d->curl, CURLOPT_WRITEDATA, &collect);
    d->busy = true;
    const CURLcode rc = d->perform();
    d->busy = false;
    if (rc != CURLE_OK)
        r = d->failure(rc);
    else
        r.status = FtpStatus::Completed;
    d->finish();
    return r;
}

FtpResult FtpSession::listed(const QString& remotePath, FtpFileInfo* info)
{
    *info = {};
    FtpResult r;
    if (d->refuse(&r))
        return r;
    QByteArray remote;
    QString why;
    if (!remoteBytes(remotePath, &remote, &why))
        return Impl::ownFailure(why);
    d->busy = true;
    r = d->lookupByListing(remote, info);
    d->finish();
    if (!r.ok())
        *info = {};
    return r;
}

FtpResult FtpSession::lookup(const QString& remotePath, FtpFileInfo* info)
{
    FtpFileInfo found;
    if (info)
        *info = found;
    FtpResult r;
    if (d->refuse(&r))
        return r;
    if (const std::optional<qint64> size = journal().plannedRemoteSize(remotePath)) {
        found.exists = *size >= 0;
        found.size = *size;
        if (info)
            *info = found;
        return Impl::planned(0);
    }
    QByteArray remote;
    QString why;
    if (!remoteBytes(remotePath, &remote, &why))
        return Impl::ownFailure(why);

    d->busy = true;
    r = d->lookupBySize(remote, &found);
    if (!r.ok() && r.curlCode == 0) {
        // The server gave no size (or refused SIZE as if the file were
        // missing): ask the way servers without SIZE answer.
        r = d->lookupByMlst(remote, &found);
        if (!r.ok() || found.size < 0) {
            const FtpFileInfo fromMlst = found;
            r = d->lookupByListing(remote, &found);
            if (!r.ok() && fromMlst.exists) {
                // MLST saw the file; only its size stays unknown.
                found = fromMlst;
                r = FtpResult{};
                r.status = FtpStatus::Completed;
            }
        }
    }
    d->finish();
    if (!r.ok())
        found = {};
    if (info)
        *info = found;
    return r;
}

} // namespace rh
