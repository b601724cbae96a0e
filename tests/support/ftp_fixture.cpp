#include "ftp_fixture.h"

#include <signal.h>

#include "scriptserver.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QThread>

namespace rh::test {

FtpServer::FtpServer()
{
    QDir(m_dir.path()).mkpath(QStringLiteral("root"));
}

FtpServer::~FtpServer()
{
    kill();
}

QString FtpServer::scriptPath()
{
    return QStringLiteral(RH_SUPPORT_DIR "/tools/ftpserver.py");
}

QString FtpServer::root() const
{
    return m_dir.path() + QStringLiteral("/root");
}

QString FtpServer::localPath(const QString& remotePath) const
{
    return root() + remotePath;
}

FtpLogin FtpServer::login() const
{
    FtpLogin l;
    l.host = QStringLiteral("127.0.0.1");
    l.port = m_port;
    l.user = m_options.user;
    l.password = m_options.password;
    l.connectTimeoutSec = 10;
    l.stallTimeoutSec = 20;
    return l;
}

SiteConfig FtpServer::siteConfig(SiteConfig base) const
{
    base.ftpHost = QStringLiteral("127.0.0.1");
    base.ftpPort = m_port;
    base.ftpUser = m_options.user;
    base.ftpPassword = m_options.password;
    return base;
}

bool FtpServer::start(const Options& options)
{
    kill();
    m_options = options;
    return launch(0);
}

bool FtpServer::restart()
{
    if (m_port == 0) {
        m_error = QStringLiteral("restart() before a successful start()");
        return false;
    }
    kill();
    return launch(m_port);
}

bool FtpServer::restart(const Options& options)
{
    m_options = options;
    return restart();
}

bool FtpServer::launch(int port)
{
    m_error.clear();
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("cannot create a temporary folder: %1").arg(m_dir.errorString());
        return false;
    }
    const QString log = m_dir.path() + QStringLiteral("/server-%1.log").arg(++m_starts);
    m_logs.append(log);
    QStringList args{scriptPath(),
                     QStringLiteral("--root"),    root(),
                     QStringLiteral("--host"),    QStringLiteral("127.0.0.1"),
                     QStringLiteral("--port"),    QString::number(port),
                     QStringLiteral("--user"),    m_options.user,
                     QStringLiteral("--password"), m_options.password,
                     QStringLiteral("--layout"),  QStringLiteral("--exit-with-parent")};
    if (!m_options.refuse.isEmpty())
        args << QStringLiteral("--refuse") << m_options.refuse.join(QLatin1Char(','));
    if (m_options.throttleBytesPerSec > 0)
        args << QStringLiteral("--throttle") << QString::number(m_options.throttleBytesPerSec);
    if (m_options.writeThrough)
        args << QStringLiteral("--write-through");
    const int listening = startScriptServer(m_proc, args, log, QStringLiteral("FTP"), &m_error);
    if (listening != 0)
        m_port = listening; // kept on failure, for restart()
    return listening != 0;
}

void FtpServer::suspend()
{
    if (m_proc.state() == QProcess::Running)
        ::kill(pid_t(m_proc.processId()), SIGSTOP);
}

void FtpServer::resume()
{
    if (m_proc.state() == QProcess::Running)
        ::kill(pid_t(m_proc.processId()), SIGCONT);
}

void FtpServer::kill()
{
    if (m_proc.state() != QProcess::NotRunning) {
        m_proc.kill();
        m_proc.waitForFinished(60000);
    }
}

bool FtpServer::isRunning() const
{
    return m_proc.state() == QProcess::Running;
}

QString FtpServer::output() const
{
    QString all;
    for (const QString& log : m_logs) {
        QFile f(log);
        if (f.open(QIODevice::ReadOnly))
            all += QString::fromUtf8(f.readAll());
    }
    return all;
}

int FtpServer::connectionCount() const
{
    static const QRegularExpression connectLine(QStringLiteral("^EVENT connect "),
                                                QRegularExpression::MultilineOption);
    return int(output().count(connectLine));
}

QStringList FtpServer::closedUploads() const
{
    static const QRegularExpression closed(QStringLiteral("^EVENT (?:received|incomplete) (.*)$"),
                                           QRegularExpression::MultilineOption);
    QStringList out;
    const QString rootPath = root();
    for (auto it = closed.globalMatch(output()); it.hasNext();) {
        const QString local = it.next().captured(1);
        out << (local.startsWith(rootPath) ? local.mid(rootPath.size()) : local);
    }
    return out;
}

bool FtpServer::waitForOutput(const QString& text, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    do {
        if (output().contains(text))
            return true;
        QThread::msleep(20);
    } while (!deadline.hasExpired());
    return false;
}

bool FtpServer::waitForUploadClosed(const QString& remotePath, int timeoutMs) const
{
    const QString file = localPath(remotePath) + QLatin1Char('\n');
    const QString received = QStringLiteral("EVENT received ") + file;
    const QString incomplete = QStringLiteral("EVENT incomplete ") + file;
    QDeadlineTimer deadline(timeoutMs);
    do {
        const QString out = output();
        if (out.contains(received) || out.contains(incomplete))
            return true;
        QThread::msleep(20);
    } while (!deadline.hasExpired());
    return false;
}

QString FtpServer::diagnostics() const
{
    return m_error + QStringLiteral("\n--- server output (") + scriptPath()
           + QStringLiteral(") ---\n") + output();
}

} // namespace rh::test
