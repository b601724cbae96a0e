#pragma once
// A real FTP server on loopback for tests and benchmarks: tests/support/tools/
// ftpserver.py (Debian's python3-pyftpdlib) over a temporary root that holds
// /public_html/download/versions/, one account, passive ports on 127.0.0.1.
// It can be killed mid-transfer and restarted on the same port.
#include "net/ftpsession.h"
#include "site/sitecfg.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace rh::test {

class FtpServer {
public:
    struct Options {
        QString user = QStringLiteral("tvc1");
        QString password = QStringLiteral("Tv#Ftp0912ab");
        qint64 throttleBytesPerSec = 0; // 0: uploads at full speed
        bool writeThrough = false;      // uploaded bytes reach the disk as they arrive
        QStringList refuse;             // commands answered with 500 ("SIZE", "MLST")
    };

    FtpServer();
    ~FtpServer();
    FtpServer(const FtpServer&) = delete;
    FtpServer& operator=(const FtpServer&) = delete;

    // Starts on a free port. False with diagnostics() when the server did not
    // come up; tests must fail on that, never skip.
    bool start(const Options& options);
    bool start() { return start(Options{}); }
    // Starts again on the port of the last start (after kill()), with other
    // options when given.
    bool restart();
    bool restart(const Options& options);
    // Kills the server process at once (open transfers break).
    void kill();
    // Freezes the server (SIGSTOP): connections stay open, nothing answers.
    void suspend();
    // Lets a frozen server go on (SIGCONT).
    void resume();
    bool isRunning() const;

    int port() const { return m_port; }
    QString root() const; // native folder served as "/"
    // Native path of a remote path such as "/public_html/download/a.exe".
    QString localPath(const QString& remotePath) const;
    FtpLogin login() const;
    // The given configuration with this server as the download FTP server.
    SiteConfig siteConfig(SiteConfig base) const;

    // Control connections the server accepted since start() (over restarts).
    int connectionCount() const;
    // The remote path of every upload the server closed, complete or not
    // (over restarts), in order.
    QStringList closedUploads() const;
    // Waits until the server's output holds the text (e.g. "EVENT login-failed").
    // The bound is generous: a busy machine may take its time.
    bool waitForOutput(const QString& text, int timeoutMs = 60000) const;
    // Waits until the server closed the remote file of an upload, complete
    // or not.
    bool waitForUploadClosed(const QString& remotePath, int timeoutMs = 60000) const;
    // What went wrong and the server's output so far.
    QString diagnostics() const;

    static QString scriptPath();

private:
    bool launch(int port);
    QString output() const;

    QTemporaryDir m_dir;
    QProcess m_proc;
    Options m_options;
    int m_port = 0;
    int m_starts = 0;
    QStringList m_logs;
    QString m_error;
};

} // namespace rh::test
