#include "db/cmysql.h"

#include "platform/apphome.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/interaction.h"
#include "platform/journal.h"
#include "platform/profile.h"
#include "platform/sitecfg.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QThread>

#include <functional>
#include <utility>

#include <mysql.h>
#include <poll.h>

#include <cerrno>

#include <algorithm>
#include <climits>
#include <cstring>

namespace rh {
namespace {

constexpr int kInitError = 512;
constexpr unsigned kClientCompress = 32; // CLIENT_COMPRESS
constexpr unsigned kServerGone = 2006;   // CR_SERVER_GONE_ERROR
constexpr unsigned kServerLost = 2013;   // CR_SERVER_LOST
constexpr unsigned kDeadlock = 1213;     // ER_LOCK_DEADLOCK
constexpr int kDeadlockRetries = 5;
constexpr unsigned long kBinaryCharset = 63;

const QString kCrLf = QStringLiteral("\r\n");

QString source(const char* operation)
{
    return QStringLiteral("cMysql::") + QLatin1String(operation);
}

[[noreturn]] void raiseInit()
{
    throw RhError(kInitError, QStringLiteral("Cannot Initialize a mysql record::Fatal"),
                  QStringLiteral("cMysql::Initialize"));
}

constexpr unsigned kUnknownCharset = 2019; // CR_CANT_READ_CHARSET

// The connection character set of the site configuration and how texts
// cross it: UTF-8, or the ANSI code page's bytes over latin1, which the
// server stores in latin1 columns unchanged (as the older tools did).
struct WireCharset {
    QString configured;
    const char* name = "utf8mb4";
    bool utf8 = true;
    bool known = true;
};

WireCharset siteCharset()
{
    WireCharset w;
    w.configured = site().dbCharSet.trimmed();
    if (w.configured.compare(QLatin1String("ansi-bytes"), Qt::CaseInsensitive) == 0) {
        w.name = "latin1";
        w.utf8 = false;
    } else if (!w.configured.isEmpty()
               && w.configured.compare(QLatin1String("utf8mb4"), Qt::CaseInsensitive) != 0) {
        w.known = false;
    }
    return w;
}

cMySQL::ConnectionSecurity& security()
{
    static cMySQL::ConnectionSecurity s;
    return s;
}

// Plugins that prove the password without sending it. mysql_clear_password
// and dialog (PAM) would hand it to whatever server answers, and the SHA-256
// ones send it to the server too.
constexpr const char kAllowedAuth[] = "mysql_native_password,client_ed25519";

void applySecurity(MYSQL* h)
{
    mysql_optionsv(h, MARIADB_OPT_RESTRICTED_AUTH, kAllowedAuth);
    my_bool off = 0;
    mysql_optionsv(h, MYSQL_ENABLE_CLEARTEXT_PLUGIN, &off);
    const cMySQL::ConnectionSecurity& s = security();
    if (s.tls == cMySQL::ConnectionSecurity::Tls::Off)
        return;
    // Asks for TLS; without enforcement a server that offers none is used
    // in clear.
    mysql_ssl_set(h, nullptr, nullptr, nullptr, nullptr, nullptr);
    const QByteArray ca = QFile::encodeName(s.caFile);
    if (!ca.isEmpty())
        mysql_optionsv(h, MYSQL_OPT_SSL_CA, ca.constData());
    my_bool on = 1;
    if (s.tls == cMySQL::ConnectionSecurity::Tls::Required) {
        mysql_optionsv(h, MYSQL_OPT_SSL_ENFORCE, &on);
        mysql_optionsv(h, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &on);
    } else if (!ca.isEmpty()) {
        // A CA named for an opportunistic connection is still checked, and
        // the library then needs TLS.
        mysql_optionsv(h, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &on);
    }
}

MYSQL* newHandle()
{
    MYSQL* h = mysql_init(nullptr);
    if (!h)
        return nullptr;
    // The library's own automatic reconnect stays off: query() reconnects
    // itself and kills the old thread.
    mysql_options(h, MYSQL_SET_CHARSET_NAME, siteCharset().name);
    my_bool reconnect = 0;
    mysql_options(h, MYSQL_OPT_RECONNECT, &reconnect);
    // A server that stops answering (frozen, unplugged) ends the call with an
    // error after these times instead of holding the program in the library.
    const SiteConfig& cfg = site();
    const unsigned connectTimeout = unsigned(std::max(1, cfg.dbConnectTimeoutSec));
    const unsigned readTimeout = unsigned(std::max(1, cfg.dbReadTimeoutSec));
    const unsigned writeTimeout = unsigned(std::max(1, cfg.dbWriteTimeoutSec));
    mysql_options(h, MYSQL_OPT_CONNECT_TIMEOUT, &connectTimeout);
    mysql_options(h, MYSQL_OPT_READ_TIMEOUT, &readTimeout);
    mysql_options(h, MYSQL_OPT_WRITE_TIMEOUT, &writeTimeout);
    // Connect and statements go through the library's non-blocking calls so
    // that the waits below can keep the window answering.
    mysql_options(h, MYSQL_OPT_NONBLOCK, nullptr);
    return h;
}

// The one thread's event loop turns while the library waits for the server;
// user input stays queued until the call returns, so no handler can start
// another statement on the same connection meanwhile.
void pumpWhileWaiting()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread())
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

// Waits for what a non-blocking call asked for (socket readable or writable,
// or its timeout) in short steps, pumping events in between; returns the
// events that happened, as the call's _cont function takes them.
int waitForLibrary(MYSQL* h, int status)
{
    constexpr qint64 kStepMs = 20;
    const int fd = int(mysql_get_socket(h));
    const qint64 timeoutMs = (status & MYSQL_WAIT_TIMEOUT) ? qint64(mysql_get_timeout_value_ms(h)) : -1;
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        qint64 step = kStepMs;
        if (timeoutMs >= 0)
            step = std::clamp<qint64>(timeoutMs - clock.elapsed(), 0, kStepMs);
        struct pollfd p{fd, 0, 0};
        if (status & MYSQL_WAIT_READ)
            p.events |= POLLIN;
        if (status & MYSQL_WAIT_WRITE)
            p.events |= POLLOUT;
        if (status & MYSQL_WAIT_EXCEPT)
            p.events |= POLLPRI;
        const int n = fd >= 0 && p.events ? ::poll(&p, 1, int(step)) : ::poll(nullptr, 0, int(step));
        if (n > 0) {
            int happened = 0;
            if (p.revents & POLLIN)
                happened |= MYSQL_WAIT_READ;
            if (p.revents & POLLOUT)
                happened |= MYSQL_WAIT_WRITE;
            if (p.revents & POLLPRI)
                happened |= MYSQL_WAIT_EXCEPT;
            // An error or hang-up: let the library find it out by reading.
            if (p.revents & (POLLERR | POLLHUP | POLLNVAL))
                happened |= status & (MYSQL_WAIT_READ | MYSQL_WAIT_WRITE);
            return happened;
        }
        if (n < 0 && errno != EINTR)
            return status & (MYSQL_WAIT_READ | MYSQL_WAIT_WRITE | MYSQL_WAIT_EXCEPT);
        if (timeoutMs >= 0 && clock.elapsed() >= timeoutMs)
            return MYSQL_WAIT_TIMEOUT;
        pumpWhileWaiting();
    }
}

int realQueryPumped(MYSQL* h, const char* sql, unsigned long length)
{
    int result = 0;
    int status = mysql_real_query_start(&result, h, sql, length);
    while (status)
        status = mysql_real_query_cont(&result, h, waitForLibrary(h, status));
    return result;
}

MYSQL_RES* storeResultPumped(MYSQL* h)
{
    MYSQL_RES* res = nullptr;
    int status = mysql_store_result_start(&res, h);
    while (status)
        status = mysql_store_result_cont(&res, h, waitForLibrary(h, status));
    return res;
}

MYSQL* realConnectPumped(MYSQL* h, const char* host, const char* user, const char* password,
                         const char* db, unsigned port, const char* socket, unsigned long flags)
{
    MYSQL* ret = nullptr;
    int status = mysql_real_connect_start(&ret, h, host, user, password, db, port, socket, flags);
    while (status)
        status = mysql_real_connect_cont(&ret, h, waitForLibrary(h, status));
    return ret;
}

bool isUtf8CharsetName(const QString& name)
{
    return name.startsWith(QLatin1String("utf8"), Qt::CaseInsensitive);
}

// Library texts lose trailing blanks (spaces only), as the original's RTrim did.
QString trimTrailingBlanks(QString s)
{
    qsizetype n = s.size();
    while (n > 0 && s.at(n - 1) == QLatin1Char(' '))
        --n;
    s.truncate(n);
    return s;
}

// Statements that change nothing on the server: sending one twice is harmless.
// (SET and USE change only the session, which a reconnect replaces anyway.)
bool changesNothing(const QString& sql)
{
    static const QRegularExpression read(QStringLiteral("^\\s*(SELECT|SHOW|DESCRIBE|DESC|EXPLAIN|SET|USE)\\b"),
                                         QRegularExpression::CaseInsensitiveOption);
    return read.match(sql).hasMatch();
}

} // namespace

cMySQL::cMySQL()
{
    m_mysql = newHandle();
    if (!m_mysql)
        raiseInit();
}

cMySQL::~cMySQL()
{
    closeHandle();
}

MYSQL* cMySQL::handle()
{
    if (!m_mysql) {
        m_mysql = newHandle();
        if (!m_mysql)
            raiseInit();
    }
    return m_mysql;
}

void cMySQL::closeHandle()
{
    // Results go before the handle: freeing a result looks at its handle.
    if (m_lastResult) {
        mysql_free_result(m_lastResult);
        m_lastResult = nullptr;
    }
    if (m_mysql) {
        mysql_close(m_mysql);
        m_mysql = nullptr;
    }
    m_connected = false;
    m_wireUtf8 = siteCharset().utf8;
}

void cMySQL::raise(const QString& src)
{
    MYSQL* h = handle();
    unsigned number = mysql_errno(h);
    QString text = fromWire(mysql_error(h));
    if (number == 0) {
        number = 2000; // CR_UNKNOWN_ERROR: a call failed without saying why
        if (text.isEmpty())
            text = QStringLiteral("Unknown MySQL error");
    }
    throw RhError(int(number), text, src);
}

// ---------------------------------------------------------------- text

QByteArray cMySQL::toWire(const QString& text) const
{
    return m_wireUtf8 ? text.toUtf8() : toAnsi(text);
}

QString cMySQL::fromWire(const char* data, qint64 size) const
{
    if (!data)
        return QString();
    if (size < 0)
        size = qint64(strlen(data));
    if (const void* nul = memchr(data, 0, size_t(size)))
        size = static_cast<const char*>(nul) - data;
    const QString s = m_wireUtf8 ? QString::fromUtf8(data, qsizetype(size))
                                 : fromAnsi(data, qsizetype(size));
    return trimTrailingBlanks(s);
}

QString cMySQL::fromWireRaw(const QByteArray& bytes) const
{
    return m_wireUtf8 ? QString::fromUtf8(bytes) : fromAnsi(bytes);
}

QString cMySQL::ansiPrefix(const QString& text, qint32 bytes) const
{
    if (bytes < 0 || toAnsi(text).size() <= bytes)
        return text;
    qsizetype used = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype len = (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        const QString ch = text.mid(i, len);
        const qsizetype width = ch.at(0).unicode() < 0x80 ? 1 : toAnsi(ch).size();
        if (used + width > bytes)
            break;
        used += width;
        i += len;
    }
    return text.left(i);
}

// ---------------------------------------------------------------- connect

void cMySQL::setConnectionSecurity(const ConnectionSecurity& s)
{
    security() = s;
}

const cMySQL::ConnectionSecurity& cMySQL::connectionSecurity()
{
    return security();
}

cMySQL::ConnectionSecurity cMySQL::securityOf(const SiteConfig& site)
{
    ConnectionSecurity s;
    const QString w = site.dbTls.trimmed().toLower();
    s.tls = w == QLatin1String("off")        ? ConnectionSecurity::Tls::Off
        : w == QLatin1String("required") ? ConnectionSecurity::Tls::Required
                                          : ConnectionSecurity::Tls::Preferred;
    s.caFile = site.dbCaFile;
    return s;
}

bool cMySQL::real_connect(const QString& host, const QString& user, const QString& passwd,
                          const QString& db, qint32 port, const QString& unix_socket,
                          qint32 clientflag, bool NoErrMsg, const QString& sCharSet)
{
    if (!host.isEmpty())
        m_host = host;
    if (!user.isEmpty())
        m_user = user;
    if (!passwd.isEmpty())
        m_password = passwd;
    if (!db.isEmpty())
        m_db = db;
    if (!unix_socket.isEmpty())
        m_unixSocket = unix_socket;
    if (!sCharSet.isEmpty())
        m_sCharSet = sCharSet;
    // 3306 is the default anyway; remembering 0 lets the library choose later.
    if (port != 3306)
        m_port = port;
    m_clientFlags = qint32(quint32(clientflag) | kClientCompress);
    m_noErrMsg = NoErrMsg;

    try {
        // A handle that is (or was) connected starts afresh; Connector/C does
        // not reconnect a handle in place.
        if (m_connected)
            closeHandle();
        const WireCharset wire = siteCharset();
        if (!wire.known)
            throw RhError(int(kUnknownCharset),
                          QStringLiteral("Can't initialize character set %1 (site.ini [Database] "
                                         "CharSet takes utf8mb4 or ansi-bytes)")
                                  .arg(wire.configured)
                              + kCrLf + kCrLf + QStringLiteral("데이터베이스 서버에 접속할 수 없습니다."),
                          source("real_connect"));
        MYSQL* h = handle();
        mysql_options(h, MYSQL_SET_CHARSET_NAME, wire.name);
        applySecurity(h);
        m_wireUtf8 = wire.utf8;

        const QByteArray hostBytes = m_host.toUtf8();
        const QByteArray userBytes = toWire(m_user);
        const QByteArray passBytes = toWire(m_password);
        const QByteArray dbBytes = toWire(m_db);
        const QByteArray sockBytes = QFile::encodeName(m_unixSocket);
        auto ptr = [](const QByteArray& b) { return b.isEmpty() ? nullptr : b.constData(); };

        if (!realConnectPumped(h, ptr(hostBytes), ptr(userBytes), ptr(passBytes), ptr(dbBytes),
                                unsigned(port), ptr(sockBytes),
                                static_cast<unsigned long>(quint32(m_clientFlags)))) {
            const unsigned number = mysql_errno(h);
            QString message = QStringLiteral("데이터베이스 서버에 접속할 수 없습니다.");
            // Connector/C reports a refused or unreachable TCP host as 2002
            // where libmysqlclient said 2003; both mean the host is not reached.
            const bool tcp = m_unixSocket.isEmpty() && m_host != QLatin1String("localhost");
            if (number == 2003 || (number == 2002 && tcp)) {
                message += kCrLf + kCrLf + QStringLiteral("인터넷이 연결되어 있는지 확인 해 주세요.")
                    + kCrLf + kCrLf
                    + QStringLiteral("인터넷이 연결되어 있다면 방화벽이나 각종 스파이웨어 차단 "
                                     "프로그램이 가동중인지 확인해 주세요.")
                    + kCrLf
                    + QStringLiteral("관련 프로그램이 데이터베이스 접속을 방해하는 경우 일 수도 "
                                     "있습니다.");
            }
            throw RhError(int(number), fromWire(mysql_error(h)) + kCrLf + kCrLf + message,
                          source("real_connect"));
        }
        m_connected = true;
        m_wireUtf8 = wire.utf8;
        m_threadId = mysql_thread_id(h);

        recordThreadId(user);
        if (!m_sCharSet.isEmpty())
            applyCharSet();
        return true;
    } catch (const RhError& e) {
        if (!m_noErrMsg)
            tell(QStringLiteral("Error ") + QString::number(e.number()) + QLatin1Char(' ')
                 + e.description());
        return false;
    }
}

// Keeps this and the previous server thread id per user in config.ini beside
// the program, so an operator can find (and kill) a stale session.
void cMySQL::recordThreadId(const QString& userKey)
{
    if (userKey.isEmpty())
        return; // no key to file it under
    const QString path = programFolder() + QStringLiteral("/config.ini");
    const QString old = GetPrivateProfileText(QStringLiteral("LPID"), userKey, QString(), path, 100)
                            .trimmed();
    WritePrivateProfileText(QStringLiteral("LPID2"), userKey, old, path);
    // A dry run's session is not the one the release would hold.
    WritePrivateProfileText(QStringLiteral("LPID"), userKey,
                            journal().planning() ? Journal::placeholder(QStringLiteral("thread id"))
                                                 : QString::number(m_threadId),
                            path);
}

void cMySQL::applyCharSet()
{
    QString version;
    RecordsetPtr rs = query(QStringLiteral("SHOW VARIABLES LIKE 'version'"), false);
    if (rs && affected_rows() > 0 && !rs->isEOF())
        version = rs->value(1);
    rs.reset();

    if (!version.startsWith(QLatin1String("5.")))
        return;
    rs = query(QStringLiteral("SHOW VARIABLES like 'character_set_client'"), false);
    if (rs && affected_rows() > 0 && !rs->isEOF() && rs->value(1) != m_sCharSet) {
        query(QStringLiteral("set names ") + m_sCharSet, false);
        if (mysql_errno(handle()) == 0) {
            // Keep the library's escaping and our encoding in step with what
            // the server now expects.
            mysql_set_character_set(handle(), toAnsi(m_sCharSet).constData());
            m_wireUtf8 = isUtf8CharsetName(m_sCharSet);
        }
    }
}

bool cMySQL::reconnectInPlace()
{
    if (m_reconnecting)
        return false;
    m_reconnecting = true;
    const unsigned long oldThread = m_mysql ? mysql_thread_id(m_mysql) : 0;
    closeHandle();
    const bool ok = real_connect(m_host, m_user, m_password, m_db, m_port, QString(), 0,
                                 m_noErrMsg, m_sCharSet);
    if (ok && oldThread != 0)
        mysql_kill(handle(), oldThread); // the old thread may still hold locks
    m_reconnecting = false;
    return ok;
}

// ---------------------------------------------------------------- statements

// Statements that only read or set up the session; every other one changes
// data and goes through the journal.
static bool readsOnly(const QByteArray& sql)
{
    static const char* const kReads[] = {"select", "show", "describe", "desc", "explain", "set", "use"};
    const QByteArray word = sql.trimmed().split(' ').value(0).toLower();
    for (const char* r : kReads)
        if (word == r)
            return true;
    return false;
}

std::optional<qint64> cMySQL::firstNumber(const QString& select)
{
    MYSQL* h = handle();
    const QByteArray wire = toWire(select);
    if (!m_connected || realQueryPumped(h, wire.constData(), static_cast<unsigned long>(wire.size())) != 0)
        return std::nullopt;
    MYSQL_RES* res = storeResultPumped(h);
    if (!res)
        return std::nullopt;
    qint64 n = 0;
    if (MYSQL_ROW row = mysql_fetch_row(res); row && row[0])
        n = QByteArray(row[0]).toLongLong();
    mysql_free_result(res);
    return n;
}

RecordsetPtr cMySQL::send(const QByteArray& sql, const QString& src)
{
    m_planned = false;
    const QString check = std::exchange(m_rowCheck, QString());
    if (!readsOnly(sql)
        && !journal().sql(fromWireRaw(sql), check,
                          check.isEmpty() ? std::function<std::optional<qint64>()>()
                                          : [this, check] { return firstNumber(check); })) {
        // A dry run, or a resume that found the row: the statement counts as
        // done on one row, and a row found gives the id.
        m_planned = true;
        m_plannedInsertId = qint32(std::max<qint64>(0, journal().rowFound()));
        return nullptr;
    }
    MYSQL* h = handle();
    // real_query with the length: a NUL inside the text must not cut it short.
    if (realQueryPumped(h, sql.constData(), static_cast<unsigned long>(sql.size())) != 0)
        raise(src);
    MYSQL_RES* res = storeResultPumped(h);
    if (!res) {
        if (mysql_field_count(h) != 0)
            raise(src); // rows were due but could not be read
        return nullptr;
    }
    return adoptResult(res);
}

RecordsetPtr cMySQL::query(const QString& sql, bool Silent)
{
    const bool resendable = changesNothing(sql);
    bool reconnected = false;
    // A change goes out only on a connection known to be alive, so that one
    // the server dropped while it was idle is replaced before, not after.
    if (!resendable && m_connected && mysql_ping(handle()) != 0) {
        const unsigned number = mysql_errno(handle());
        if (number == kServerLost || number == kServerGone) {
            if (!reconnectInPlace())
                return nullptr;
            reconnected = true;
        }
    }
    int deadlockRetries = 0;
    while (true) {
        try {
            return send(toWire(sql), source("query"));
        } catch (const RhError& e) {
            const unsigned number = unsigned(e.number());
            // Gone (2006): the statement never left, so it is sent again on a
            // new connection. Lost (2013): it went out and its answer did not
            // come back; the server may have run it, so only a statement that
            // changes nothing is sent again. A change fails here, and the
            // caller keeps it to be sent once later.
            const bool unsent = number == kServerGone;
            if ((unsent || (number == kServerLost && resendable)) && !reconnected) {
                if (!reconnectInPlace())
                    return nullptr;
                reconnected = true;
                continue;
            }
            if (number == kDeadlock && deadlockRetries < kDeadlockRetries
                && m_user == site().developerAccount) {
                QThread::msleep(500);
                if (!reconnectInPlace())
                    return nullptr;
                ++deadlockRetries;
                continue;
            }
            if (!Silent)
                tell(moduleErrorText(e.number(), e.description(), QStringLiteral("query"),
                                     QStringLiteral("cMySQL"))
                     + kCrLf + kCrLf + sql);
            return nullptr;
        }
    }
}

RecordsetPtr cMySQL::real_query(const QString& query, qint32 Length)
{
    return send(toWire(ansiPrefix(query, Length)), source("real_query"));
}

qint32 cMySQL::affected_rows()
{
    if (m_planned)
        return 1;
    return qint32(quint32(mysql_affected_rows(handle())));
}

qint32 cMySQL::insert_id()
{
    if (m_planned) {
        // The new row's id is known only once the row exists.
        if (m_plannedInsertId == 0)
            m_plannedInsertId = qint32(journal().placeholderNumber(QStringLiteral("insert_id")));
        return m_plannedInsertId;
    }
    return qint32(quint32(mysql_insert_id(handle())));
}

void cMySQL::free_result()
{
    if (m_doMemFree && m_lastResult) {
        mysql_free_result(m_lastResult);
        m_lastResult = nullptr;
    }
}

// ---------------------------------------------------------------- results

RecordsetPtr cMySQL::adoptResult(MYSQL_RES* res)
{
    // The rows are copied into the Recordset; the library result is kept only
    // for eof/num_rows/num_fields and released when the next one replaces it.
    if (m_lastResult && m_lastResult != res)
        mysql_free_result(m_lastResult);
    m_lastResult = res;
    return buildRecordset(res);
}

RecordsetPtr cMySQL::listResult(MYSQL_RES* res)
{
    if (!res)
        return nullptr;
    return adoptResult(res);
}

void cMySQL::data_seek(qint32 row)
{
    if (m_lastResult)
        mysql_data_seek(m_lastResult, static_cast<unsigned long long>(qint64(row)));
}

RecordsetPtr cMySQL::buildRecordset(MYSQL_RES* res)
{
    const unsigned fieldCount = mysql_num_fields(res);
    const unsigned long long rowCount = mysql_num_rows(res);
    MYSQL_FIELD* fields = mysql_fetch_fields(res);

    auto rs = std::make_unique<Recordset>();
    QStringList names;
    QList<bool> qualified;
    for (unsigned i = 0; i < fieldCount; ++i) {
        const QString plain = fromWire(fields[i].name, fields[i].name_length);
        bool qualify = false;
        for (unsigned j = 0; j < i; ++j) {
            if (names.at(j) != plain)
                continue;
            if (!qualified.at(j)) {
                names[j] = fromWire(fields[j].table, fields[j].table_length) + QLatin1Char('.')
                    + fromWire(fields[j].name, fields[j].name_length);
                qualified[j] = true;
            }
            qualify = true;
        }
        names.append(qualify ? fromWire(fields[i].table, fields[i].table_length)
                                   + QLatin1Char('.') + plain
                             : plain);
        qualified.append(qualify);
    }
    for (unsigned i = 0; i < fieldCount; ++i) {
        // Declared size in characters for text columns (the library reports
        // bytes of the connection's widest character), as a wide-text column
        // declares it; other columns keep their display width.
        unsigned long size = fields[i].length;
        if (fields[i].charsetnr != kBinaryCharset) {
            if (const MARIADB_CHARSET_INFO* cs = mariadb_get_charset_by_nr(fields[i].charsetnr);
                cs && cs->char_maxlen > 1)
                size /= cs->char_maxlen;
        }
        rs->appendField(names.at(int(i)), int(qMin<unsigned long>(size, INT_MAX)));
    }
    rs->open();

    data_seek(0);
    for (unsigned long long r = 0; r < rowCount; ++r) {
        MYSQL_ROW row = mysql_fetch_row(res);
        if (!row)
            break;
        const unsigned long* lengths = mysql_fetch_lengths(res);
        QStringList cells;
        cells.reserve(int(fieldCount));
        for (unsigned i = 0; i < fieldCount; ++i)
            cells.append(fromWire(row[i], row[i] ? qint64(lengths[i]) : 0));
        rs->addRecord(cells);
    }
    if (rs->recordCount() > 0)
        rs->moveFirst();
    return rs;
}

// ---------------------------------------------------------------- thin wrappers

void cMySQL::create_db(const QString& db)
{
    // Connector/C has no mysql_create_db; the statement is what it sent.
    QString name = db;
    name.replace(QLatin1Char('`'), QLatin1String("``"));
    const QByteArray sql = toWire(QStringLiteral("CREATE DATABASE `") + name + QLatin1Char('`'));
    if (mysql_real_query(handle(), sql.constData(), static_cast<unsigned long>(sql.size())) != 0)
        raise(source("create_db"));
}

void cMySQL::debug_push(const QString& DBUG_PUSH)
{
    mysql_debug(toAnsi(DBUG_PUSH).constData());
}

void cMySQL::dump_debug_info()
{
    if (mysql_dump_debug_info(handle()) != 0)
        raise(source("dump_debug_info"));
}

bool cMySQL::eof()
{
    return m_lastResult ? mysql_eof(m_lastResult) != 0 : true;
}

qint32 cMySQL::err_no()
{
    return qint32(mysql_errno(handle()));
}

QString cMySQL::err_description()
{
    return fromWire(mysql_error(handle()));
}

void cMySQL::escape_string(QString& to_, const QString& from_, qint32 from_length)
{
    to_ = escape_string(ansiPrefix(from_, from_length));
}

QString cMySQL::escape_string(const QString& from_)
{
    MYSQL* h = handle();
    const QByteArray in = toWire(from_);
    QByteArray out(in.size() * 2 + 1, '\0');
    unsigned long n;
    if (m_connected)
        n = mysql_real_escape_string(h, out.data(), in.constData(),
                                     static_cast<unsigned long>(in.size()));
    else
        n = mysql_escape_string(out.data(), in.constData(), static_cast<unsigned long>(in.size()));
    if (n == static_cast<unsigned long>(-1))
        throw RhError(2000, QStringLiteral("Cannot escape the text"), source("escape_string"));
    out.truncate(qsizetype(n));
    // Raw decode: blanks at the end belong to the value. The statement is
    // encoded again when it is sent; a text whose escaped bytes would not come
    // back the same (a code page that cannot carry them) is refused rather
    // than sent with other bytes than the library escaped.
    const QString escaped = fromWireRaw(out);
    if (toWire(escaped) != out)
        throw RhError(2000, QStringLiteral("Cannot escape the text"), source("escape_string"));
    return escaped;
}

QString cMySQL::get_client_info()
{
    const char* s = mysql_get_client_info();
    if (!s)
        raise(source("get_client_info"));
    return fromWire(s);
}

QString cMySQL::get_host_info()
{
    const char* s = mysql_get_host_info(handle());
    if (!s)
        raise(source("get_host_info"));
    return fromWire(s);
}

qint32 cMySQL::get_proto_info()
{
    const unsigned v = mysql_get_proto_info(handle());
    if (v == 0)
        raise(source("get_proto_info"));
    return qint32(v);
}

QString cMySQL::get_server_info()
{
    const char* s = mysql_get_server_info(handle());
    if (!s)
        raise(source("get_server_info"));
    return fromWire(s);
}

QString cMySQL::info()
{
    const char* s = mysql_info(handle());
    if (!s)
        raise(source("info"));
    return fromWire(s);
}

void cMySQL::Kill(qint32 PID)
{
    mysql_kill(handle(), static_cast<unsigned long>(quint32(PID)));
}

RecordsetPtr cMySQL::list_dbs(const QString& wild)
{
    const QByteArray w = toWire(wild);
    return listResult(mysql_list_dbs(handle(), wild.isEmpty() ? nullptr : w.constData()));
}

RecordsetPtr cMySQL::list_fields(const QString& table, const QString& wild)
{
    const QByteArray t = toWire(table);
    const QByteArray w = toWire(wild);
    return listResult(
        mysql_list_fields(handle(), t.constData(), wild.isEmpty() ? nullptr : w.constData()));
}

RecordsetPtr cMySQL::list_processes()
{
    return listResult(mysql_list_processes(handle()));
}

RecordsetPtr cMySQL::list_tables(const QString& wild)
{
    const QByteArray w = toWire(wild);
    return listResult(mysql_list_tables(handle(), wild.isEmpty() ? nullptr : w.constData()));
}

qint32 cMySQL::num_fields()
{
    return m_lastResult ? qint32(mysql_num_fields(m_lastResult)) : 0;
}

qint32 cMySQL::num_rows()
{
    return m_lastResult ? qint32(quint32(mysql_num_rows(m_lastResult))) : 0;
}

void cMySQL::ping()
{
    if (mysql_ping(handle()) != 0)
        raise(source("ping"));
}

void cMySQL::Refresh(qint32 refresh_options)
{
    if (mysql_refresh(handle(), unsigned(refresh_options)) != 0)
        raise(source("refresh"));
}

void cMySQL::select_db(const QString& db)
{
    if (mysql_select_db(handle(), toWire(db).constData()) != 0)
        raise(source("select_db"));
    m_db = db;
}

void cMySQL::shutdown()
{
    if (mysql_shutdown(handle(), SHUTDOWN_DEFAULT) != 0)
        raise(source("shutdown"));
}

QString cMySQL::stat()
{
    const char* s = mysql_stat(handle());
    if (!s)
        raise(source("stat"));
    return fromWire(s);
}

qint32 cMySQL::thread_id()
{
    const unsigned long id = mysql_thread_id(handle());
    if (id == 0)
        raise(source("thread_id"));
    return qint32(quint32(id));
}

qint32 cMySQL::thread_safe()
{
    return qint32(mysql_thread_safe());
}

} // namespace rh
