#pragma once
// A real HTTP server on loopback for tests: tests/support/tools/httpserver.py
// (Python's http.server) answering GETs with canned replies per path and
// recording every request target exactly as it arrived. Replies can be
// changed while it runs; unrouted paths are served from root() or get 404.
#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace rh::test {

class HttpServer {
public:
    HttpServer();
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Starts on a free port of 127.0.0.1. False with diagnostics() when the
    // server did not come up; tests must fail on that, never skip.
    bool start();
    void kill();
    bool isRunning() const;

    // Set before start(): speaks https with this certificate and key (PEM, one file).
    QString tlsCertificate;

    int port() const { return m_port; }
    QString host() const { return QStringLiteral("127.0.0.1"); }
    QString url(const QString& target) const;
    // Folder served for paths without a canned reply.
    QString root() const;

    struct Reply {
        int status = 200;
        QByteArray body;
        QString contentType = QStringLiteral("application/json; charset=utf-8");
        double delaySec = 0;
        double dripSec = 0; // the body one byte at a time, this far apart
        QString location; // Location header, for redirects
    };
    // `target` is a path ("/a/b.php") or a path with its query ("/a?x=1").
    void setReply(const QString& target, const Reply& reply);
    void setReply(const QString& target, int status, const QByteArray& body);
    void clearReplies();

    // Request targets in arrival order ("/a/b.php?ver=7"), as sent.
    QStringList requests() const;
    QString lastRequest() const;
    // What went wrong and the server's output so far.
    QString diagnostics() const;

    static QString scriptPath();

private:
    void writeRoutes();
    QString output() const;

    QTemporaryDir m_dir;
    QProcess m_proc;
    QMap<QString, Reply> m_replies;
    int m_port = 0;
    QString m_error;
};

} // namespace rh::test
