#include "vsftpd_fixture.h"

#include "ports.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace rh::test {
namespace {

// True once the server greets on the port ("220 ...").
bool greets(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(quint16(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = false;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        timeval tv{10, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        char buf[4] = {};
        ok = ::recv(fd, buf, 3, MSG_WAITALL) == 3 && QByteArray(buf, 3) == "220";
    }
    ::close(fd);
    return ok;
}

} // namespace

VsftpdServer::~VsftpdServer()
{
    stop();
}

bool VsftpdServer::start(bool refuseSize)
{
    stop();
    m_refuseSize = refuseSize;
    m_error.clear();
    if (::geteuid() != 0) {
        m_error = QStringLiteral("vsftpd needs root for its chroot");
        return false;
    }
    if (!QFile::exists(program())) {
        m_error = program() + QStringLiteral(" is missing (scripts/deps.sh installs vsftpd)");
        return false;
    }
    // The root must not be writable by the anonymous user; the download
    // folders must be.
    const QString base = m_dir.path();
    QDir().mkpath(localPath(QStringLiteral("/public_html/download/versions")));
    QDir().mkpath(base + QStringLiteral("/empty"));
    const auto open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
        | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    const auto shared = open | QFile::WriteGroup | QFile::WriteOther;
    for (const QString& dir : {base, root(), localPath(QStringLiteral("/public_html"))})
        QFile::setPermissions(dir, open);
    for (const QString& dir : {localPath(QStringLiteral("/public_html/download")),
                               localPath(QStringLiteral("/public_html/download/versions"))})
        QFile::setPermissions(dir, shared);
    // A port another process takes between the probe and the bind ends the
    // server at once; try another.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (launch(refusingPort()))
            return true;
    }
    return false;
}

bool VsftpdServer::launch(int port)
{
    const QString base = m_dir.path();
    const QString conf = base + QStringLiteral("/vsftpd.conf");
    QFile f(conf);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = QStringLiteral("cannot write %1").arg(conf);
        return false;
    }
    QString text = QStringLiteral(
                       "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=%1\n"
                       "background=NO\nanonymous_enable=YES\nlocal_enable=NO\nno_anon_password=YES\n"
                       "anon_root=%2\nwrite_enable=YES\nanon_upload_enable=YES\n"
                       "anon_mkdir_write_enable=YES\nanon_other_write_enable=YES\nanon_umask=022\n"
                       "secure_chroot_dir=%3/empty\nseccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\n"
                       "pasv_enable=YES\nconnect_from_port_20=NO\nsyslog_enable=NO\n"
                       "vsftpd_log_file=%3/vsftpd.log\nlog_ftp_protocol=YES\nxferlog_enable=YES\n")
                       .arg(port)
                       .arg(root(), base);
    if (m_refuseSize)
        text += QStringLiteral("cmds_denied=SIZE\n");
    f.write(text.toUtf8());
    f.close();

    m_proc.setProgram(program());
    m_proc.setArguments({conf});
    m_proc.setStandardInputFile(QProcess::nullDevice());
    m_proc.setStandardOutputFile(base + QStringLiteral("/vsftpd.out"));
    m_proc.setStandardErrorFile(base + QStringLiteral("/vsftpd.out"), QIODevice::Append);
    m_proc.start();
    if (!m_proc.waitForStarted(10000)) {
        m_error = QStringLiteral("cannot run %1: %2").arg(program(), m_proc.errorString());
        return false;
    }
    QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired()) {
        if (m_proc.state() != QProcess::Running || m_proc.waitForFinished(20)) {
            m_error = QStringLiteral("vsftpd exited with code %1").arg(m_proc.exitCode());
            return false;
        }
        if (greets(port)) {
            m_port = port;
            return true;
        }
    }
    m_error = QStringLiteral("vsftpd did not greet on port %1 within 60 s").arg(port);
    stop();
    return false;
}

void VsftpdServer::stop()
{
    if (m_proc.state() != QProcess::NotRunning) {
        m_proc.kill();
        m_proc.waitForFinished(10000);
    }
}

SiteConfig VsftpdServer::siteConfig(SiteConfig base) const
{
    base.ftpHost = QStringLiteral("127.0.0.1");
    base.ftpPort = m_port;
    base.ftpUser = QStringLiteral("ftp");
    base.ftpPassword = QStringLiteral("release@tarvel");
    return base;
}

QString VsftpdServer::diagnostics() const
{
    QString text = m_error;
    for (const char* name : {"/vsftpd.out", "/vsftpd.log"}) {
        QFile f(m_dir.path() + QLatin1String(name));
        if (f.open(QIODevice::ReadOnly))
            text += QStringLiteral("\n--- %1 ---\n").arg(QLatin1String(name + 1))
                + QString::fromUtf8(f.readAll());
    }
    return text;
}

} // namespace rh::test
