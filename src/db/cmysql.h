#pragma once
// One connection to a MySQL/MariaDB server over MariaDB Connector/C. Callers
// speak QString; results come back as in-memory Recordsets of text. The object
// reconnects once by itself when the server drops the connection under a
// statement (query says when it sends the statement again), and reports
// failures either as RhError (thin wrappers) or, for real_connect and query,
// as a message box and a false/empty result.
//
// Wire encoding (site.ini [Database] CharSet): "utf8mb4", the default, asks
// for utf8mb4 and texts cross the library as UTF-8. The server has no CP949
// character set ("euckr" lacks the UHC syllables of CP949 such as "똠", which
// would be stored as '?'), so tables shared with older CP949 tools hold the
// code page's bytes in latin1 columns: "ansi-bytes" declares latin1, which
// the server passes through unchanged, and texts cross as bytes of the ANSI
// code page, as the Windows client sent them. Byte counts that callers pass
// (real_query's Length, escape_string's from_length) count bytes of the ANSI
// code page either way.
#include "db/recordset.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <QtGlobal>

struct st_mysql;
struct st_mysql_res;

namespace rh {

struct SiteConfig;

class cMySQL {
public:
    // How every connection of the process protects itself, set once at
    // start-up from site.ini [Database] Tls= and CaFile=. "preferred" uses TLS
    // when the server offers it; "required" refuses a server without TLS or
    // whose certificate does not check out against the CA file (or the
    // system's CAs) and the host name. Authentication plugins that hand the
    // password to the server in clear are refused whatever the setting.
    struct ConnectionSecurity {
        enum class Tls { Off, Preferred, Required };
        Tls tls = Tls::Preferred;
        QString caFile;
    };
    static void setConnectionSecurity(const ConnectionSecurity& security);
    static const ConnectionSecurity& connectionSecurity();
    // The setting site.ini names (checked when it was loaded).
    static ConnectionSecurity securityOf(const SiteConfig& site);

    // Raises RhError 512 "Cannot Initialize a mysql record::Fatal" when the
    // library cannot create a handle.
    cMySQL();
    ~cMySQL();
    cMySQL(const cMySQL&) = delete;
    cMySQL& operator=(const cMySQL&) = delete;

    // Connects with the given values; empty texts keep the remembered ones.
    // Never raises: failure shows a message box (unless NoErrMsg) and gives false.
    bool real_connect(const QString& host, const QString& user, const QString& passwd,
                      const QString& db, qint32 port = 0, const QString& unix_socket = QString(),
                      qint32 clientflag = 0, bool NoErrMsg = false,
                      const QString& sCharSet = QString());

    // Runs one statement. Null for a statement without a result set and on
    // failure (message box unless Silent). Reconnects and resends once when the
    // connection was lost before the statement left, or, for a statement that
    // changes nothing, while its answer was awaited; a change whose answer was
    // lost fails with 2013 rather than risk running twice. Retries deadlocks
    // for the developer account.
    RecordsetPtr query(const QString& sql, bool Silent = false);
    // As query without any recovery; raises RhError ("cMysql::real_query").
    // Length counts bytes of the ANSI code page; a negative Length sends all.
    RecordsetPtr real_query(const QString& query, qint32 Length);

    qint32 affected_rows();
    qint32 insert_id();
    // Frees the last library result, only when DoMemFree was set.
    void free_result();

    // Thin wrappers: one library call each; those with a source raise RhError
    // with the library's number and text when the call fails.
    void create_db(const QString& db);
    void debug_push(const QString& DBUG_PUSH);
    void dump_debug_info();
    bool eof();
    qint32 err_no();
    QString err_description();
    // Escapes the first from_length ANSI bytes' worth of from_ (all of it when
    // negative) for use between single quotes, with the connection's rules
    // (character set, NO_BACKSLASH_ESCAPES).
    void escape_string(QString& to_, const QString& from_, qint32 from_length);
    QString escape_string(const QString& from_);
    // The next changing statement's row check: a SELECT whose first cell is
    // a number > 0 when the record the statement writes is already there (its
    // id, or a count). A resume sends no statement whose row is there; its
    // insert_id is then the number found.
    void setRowCheck(const QString& select) { m_rowCheck = select; }
    // `text` as the bytes this session sends (its wire encoding).
    QByteArray wireBytes(const QString& text) const { return toWire(text); }
    QString get_client_info();
    QString get_host_info();
    qint32 get_proto_info();
    QString get_server_info();
    QString info();
    void Kill(qint32 PID);
    RecordsetPtr list_dbs(const QString& wild = QString());
    RecordsetPtr list_fields(const QString& table, const QString& wild = QString());
    RecordsetPtr list_processes();
    RecordsetPtr list_tables(const QString& wild = QString());
    qint32 num_fields();
    qint32 num_rows();
    void ping();
    void Refresh(qint32 refresh_options);
    void select_db(const QString& db);
    void shutdown();
    QString stat();
    qint32 thread_id();
    qint32 thread_safe();

    // Remembered connection values.
    QString user() const { return m_user; }
    void setUser(const QString& sUsername) { m_user = sUsername; }
    QString password() const { return m_password; }
    void setPassword(const QString& sPassWord) { m_password = sPassWord; }
    QString host() const { return m_host; }
    void setHost(const QString& sHost) { m_host = sHost; }
    qint32 port() const { return m_port; }
    void setPort(qint32 sPORT) { m_port = sPORT; }
    QString db() const { return m_db; }
    void setDb(const QString& sDB) { m_db = sDB; }
    qint32 ClientFlags() const { return m_clientFlags; }
    void setClientFlags(qint32 sClientFlags) { m_clientFlags = sClientFlags; }
    QString unix_socket() const { return m_unixSocket; }
    void setUnix_socket(const QString& sUnix_socket) { m_unixSocket = sUnix_socket; }
    void setDoMemFree(bool bTF) { m_doMemFree = bTF; }
    bool NoErrMsg() const { return m_noErrMsg; }
    QString sCharSet() const { return m_sCharSet; }

private:
    st_mysql* handle();
    void closeHandle();
    [[noreturn]] void raise(const QString& source);
    RecordsetPtr send(const QByteArray& sql, const QString& source);
    RecordsetPtr adoptResult(st_mysql_res* res);
    RecordsetPtr buildRecordset(st_mysql_res* res);
    RecordsetPtr listResult(st_mysql_res* res);
    void data_seek(qint32 row);
    bool reconnectInPlace();
    void recordThreadId(const QString& userKey);
    void applyCharSet();

    QByteArray toWire(const QString& text) const;
    QString fromWire(const char* data, qint64 size = -1) const;
    QString fromWireRaw(const QByteArray& bytes) const;
    QString ansiPrefix(const QString& text, qint32 bytes) const;

    st_mysql* m_mysql = nullptr;
    st_mysql_res* m_lastResult = nullptr;
    QString m_user;
    QString m_password;
    QString m_host;
    QString m_db;
    QString m_unixSocket;
    qint32 m_clientFlags = 0;
    qint32 m_port = 0;
    QString m_sCharSet;
    bool m_noErrMsg = false;
    bool m_doMemFree = false;

    bool m_connected = false;   // the handle holds an established connection
    bool m_wireUtf8 = true;     // false for "ansi-bytes" or after "set names" to a non-UTF-8 set
    bool m_reconnecting = false; // no nested reconnect from the set-up statements
    unsigned long m_threadId = 0;
    bool m_planned = false; // the last statement was only journaled (dry run)
    qint32 m_plannedInsertId = 0;
    QString m_rowCheck;
    std::optional<qint64> firstNumber(const QString& select);
};

} // namespace rh
