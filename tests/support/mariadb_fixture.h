#pragma once
// A real MariaDB server on 127.0.0.1 for tests: tools/mariadb_sandbox.sh
// initialises a temporary folder, starts mariadbd on a free port and loads
// schema.sql (databases tv_inhouse and webhost, their tables and accounts).
// One server per test executable through MariaDbEnvironment; a server that
// cannot start fails the tests with its own error log, it never skips them.
#include "site/sitecfg.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

#include <gtest/gtest.h>

namespace rh::test {

class MariaDbServer {
public:
    // The accounts of schema.sql besides the site configuration's defaults.
    static QString developerUser() { return QStringLiteral("tv_dev"); }
    static QString developerPassword() { return QStringLiteral("tvDev!2020"); }

    struct Options {
        // Serve TLS with a certificate for 127.0.0.1 that the fixture makes
        // with openssl, issued by caFile(); foreignCaFile() is an unrelated CA.
        bool tls = false;
        // Load the PAM plugin, which asks clients for the cleartext plugin,
        // and create the account pamUser() that authenticates through it.
        bool cleartextAccount = false;
        // More mariadbd options, e.g. "--version=5.7.44" for a server that
        // announces itself as version 5.
        QStringList serverArgs;
    };
    static QString pamUser() { return QStringLiteral("rh_pam"); }

    MariaDbServer() : MariaDbServer(Options()) {}
    explicit MariaDbServer(const Options& options);
    explicit MariaDbServer(QStringList serverArgs) : MariaDbServer(Options{false, false, std::move(serverArgs)}) {}
    ~MariaDbServer(); // stops the server
    MariaDbServer(const MariaDbServer&) = delete;
    MariaDbServer& operator=(const MariaDbServer&) = delete;

    // False with diagnostics() (the server's error log) when it did not come up.
    bool start();
    void stop();
    // Starts a stopped server again on its data and port (a database that
    // was down for a while). False with diagnostics() when it did not.
    bool restart();

    QString host() const { return QStringLiteral("127.0.0.1"); }
    int port() const { return m_port; }
    QString folder() const { return m_dir.path(); }
    // `base` with both databases on this server and the developer account of
    // schema.sql as the one whose deadlocks are retried.
    SiteConfig siteConfig(SiteConfig base = SiteConfig()) const;

    // Runs SQL as root through the command-line client; the output is
    // tab-separated without column names. False with the client's message.
    bool exec(const QString& sql, QString* output = nullptr, QString* error = nullptr) const;
    // The same without waiting: a second session that may block on locks.
    std::unique_ptr<QProcess> execAsync(const QString& sql) const;
    // Every statement the server received since start (its general log).
    QString generalLog() const;
    QString diagnostics() const { return m_diagnostics; }
    QString caFile() const { return m_dir.path() + QStringLiteral("/ca.pem"); }
    QString foreignCaFile() const { return m_dir.path() + QStringLiteral("/foreign-ca.pem"); }

    static QString scriptPath();

private:
    bool makeCertificates();

    Options m_options;
    QTemporaryDir m_dir;
    int m_port = 0;
    bool m_running = false;
    QString m_diagnostics;
};

// Register with ::testing::AddGlobalTestEnvironment(new MariaDbEnvironment).
class MariaDbEnvironment : public ::testing::Environment {
public:
    void SetUp() override;
    void TearDown() override;
    // The running server; null before SetUp or when it failed.
    static MariaDbServer* server();
};

} // namespace rh::test
