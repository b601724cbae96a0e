#pragma once
// Debian's vsftpd on loopback: a second FTP server implementation besides
// ftpserver.py. Anonymous login (any user name is sent as given; vsftpd takes
// "ftp"), uploads, renames and overwrites allowed under a temporary root that
// holds /public_html/download/versions/. vsftpd knows no MLST, and with
// refuseSize it answers SIZE with "550 Permission denied." as its cmds_denied
// does. vsftpd chroots, so it needs root, which CI has.
#include "net/ftpsession.h"
#include "site/sitecfg.h"

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace rh::test {

class VsftpdServer {
public:
    VsftpdServer() = default;
    ~VsftpdServer();
    VsftpdServer(const VsftpdServer&) = delete;
    VsftpdServer& operator=(const VsftpdServer&) = delete;

    // False with diagnostics() when it did not come up; never skip on that.
    bool start(bool refuseSize);
    void stop();

    int port() const { return m_port; }
    QString root() const { return m_dir.path() + QStringLiteral("/root"); }
    QString localPath(const QString& remotePath) const { return root() + remotePath; }
    SiteConfig siteConfig(SiteConfig base) const;
    QString diagnostics() const;

    static QString program() { return QStringLiteral("/usr/sbin/vsftpd"); }

private:
    bool launch(int port);

    QTemporaryDir m_dir;
    QProcess m_proc;
    int m_port = 0;
    bool m_refuseSize = false;
    QString m_error;
};

} // namespace rh::test
