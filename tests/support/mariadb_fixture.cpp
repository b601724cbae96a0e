#include "mariadb_fixture.h"

#include "sandbox.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

namespace rh::test {
namespace {

std::unique_ptr<MariaDbServer>& sharedServer()
{
    static std::unique_ptr<MariaDbServer> server;
    return server;
}

} // namespace

QString MariaDbServer::scriptPath()
{
    return QStringLiteral(RH_SUPPORT_DIR "/tools/mariadb_sandbox.sh");
}

MariaDbServer::MariaDbServer(const Options& options)
    : m_options(options), m_dir(QStringLiteral("/tmp/rh-mariadb-XXXXXX"))
{
}

// A CA, a server certificate it issues for 127.0.0.1, and a second CA that
// issued nothing here.
bool MariaDbServer::makeCertificates()
{
    const QString d = m_dir.path() + QLatin1Char('/');
    const QStringList steps = {
        QStringLiteral("req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=rh-test-ca -keyout %1ca-key.pem -out %1ca.pem"),
        QStringLiteral("req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=rh-foreign-ca -keyout %1foreign-key.pem -out %1foreign-ca.pem"),
        QStringLiteral("req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout %1server-key.pem -out %1server.csr"),
        QStringLiteral("x509 -req -days 2 -in %1server.csr -CA %1ca.pem -CAkey %1ca-key.pem -CAcreateserial "
                       "-extfile %1san.cnf -out %1server.pem"),
    };
    QFile san(d + QStringLiteral("san.cnf"));
    if (!san.open(QIODevice::WriteOnly) || san.write("subjectAltName=IP:127.0.0.1\n") < 0)
        return false;
    san.close();
    for (const QString& step : steps) {
        QProcess p;
        p.start(QStringLiteral("openssl"), step.arg(d).split(QLatin1Char(' ')));
        if (!p.waitForFinished(60000) || p.exitCode() != 0) {
            m_diagnostics = QStringLiteral("openssl %1 failed: %2").arg(step, QString::fromUtf8(p.readAllStandardError()));
            return false;
        }
    }
    return true;
}

MariaDbServer::~MariaDbServer()
{
    stop();
}

bool MariaDbServer::start()
{
    if (m_running)
        return true;
    if (!m_dir.isValid()) {
        m_diagnostics = QStringLiteral("cannot create a temporary folder: ") + m_dir.errorString();
        return false;
    }
    QStringList serverArgs = m_options.serverArgs;
    if (m_options.tls) {
        if (!makeCertificates())
            return false;
        const QString d = m_dir.path() + QLatin1Char('/');
        serverArgs << QStringLiteral("--ssl-ca=%1ca.pem").arg(d) << QStringLiteral("--ssl-cert=%1server.pem").arg(d)
                   << QStringLiteral("--ssl-key=%1server-key.pem").arg(d);
    }
    if (m_options.cleartextAccount)
        serverArgs << QStringLiteral("--plugin-load-add=auth_pam") << QStringLiteral("--pam-use-cleartext-plugin=ON");
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!serverArgs.isEmpty())
        env.insert(QStringLiteral("RH_SANDBOX_SERVER_ARGS"), serverArgs.join(QLatin1Char(' ')));
    env.insert(QStringLiteral("RH_SANDBOX_OWNER_PID"),
               QString::number(QCoreApplication::applicationPid()));
    // Initialise once per build tree; later starts copy the prepared folder.
    if (!env.contains(QStringLiteral("RH_SANDBOX_TEMPLATE")))
        env.insert(QStringLiteral("RH_SANDBOX_TEMPLATE"),
                   QStringLiteral(RH_BINARY_DIR "/mariadb-template"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("bash"), {scriptPath(), QStringLiteral("start"), m_dir.path()});
    const bool finished = p.waitForFinished(90000);
    const QString out = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    const QString err = QString::fromUtf8(p.readAllStandardError());
    bool ok = false;
    const int port = out.toInt(&ok);
    if (!finished || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0 || !ok) {
        m_diagnostics = QStringLiteral("MariaDB sandbox did not start (%1):\n%2%3")
                            .arg(finished ? QStringLiteral("exit code %1").arg(p.exitCode())
                                          : QStringLiteral("timed out"),
                                 err, out);
        if (!finished)
            p.kill();
        QProcess::execute(QStringLiteral("bash"),
                          {scriptPath(), QStringLiteral("stop"), m_dir.path()});
        return false;
    }
    m_port = port;
    m_running = true;
    if (m_options.cleartextAccount
        && !exec(QStringLiteral("CREATE USER %1@'%' IDENTIFIED VIA pam USING 'rh-none'").arg(pamUser()), nullptr,
                 &m_diagnostics))
        return false;
    return true;
}

void MariaDbServer::stop()
{
    if (!m_running)
        return;
    QProcess::execute(QStringLiteral("bash"), {scriptPath(), QStringLiteral("stop"), m_dir.path()});
    m_running = false;
}

bool MariaDbServer::restart()
{
    if (m_running)
        return true;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("RH_SANDBOX_OWNER_PID"), QString::number(QCoreApplication::applicationPid()));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("bash"), {scriptPath(), QStringLiteral("restart"), m_dir.path()});
    if (!p.waitForFinished(90000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        m_diagnostics = QStringLiteral("MariaDB sandbox did not start again:\n")
                        + QString::fromUtf8(p.readAllStandardError());
        return false;
    }
    m_running = true;
    return true;
}

SiteConfig MariaDbServer::siteConfig(SiteConfig base) const
{
    base.dbServerAddress = host();
    base.dbPort = m_port;
    base.dbSocket.clear();
    base.webDbPort = m_port;
    base.webDbSocket.clear();
    base.developerAccount = developerUser();
    if (base.dbUser.isEmpty())
        Sandbox::setAccounts(base);
    return base;
}

std::unique_ptr<QProcess> MariaDbServer::execAsync(const QString& sql) const
{
    auto p = std::make_unique<QProcess>();
    p->start(QStringLiteral("bash"), {scriptPath(), QStringLiteral("sql"), m_dir.path(),
                                      QStringLiteral("-N"), QStringLiteral("-B")});
    p->waitForStarted();
    p->write(sql.toUtf8());
    // Without an event loop nothing reaches the pipe until we wait for it.
    p->waitForBytesWritten(10000);
    p->closeWriteChannel();
    return p;
}

bool MariaDbServer::exec(const QString& sql, QString* output, QString* error) const
{
    std::unique_ptr<QProcess> proc = execAsync(sql);
    QProcess& p = *proc;
    const bool finished = p.waitForFinished(60000);
    if (output)
        *output = QString::fromUtf8(p.readAllStandardOutput());
    const QString err = QString::fromUtf8(p.readAllStandardError());
    if (error)
        *error = finished ? err : QStringLiteral("timed out");
    return finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QString MariaDbServer::generalLog() const
{
    QFile f(m_dir.path() + QStringLiteral("/general.log"));
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll());
}

void MariaDbEnvironment::SetUp()
{
    auto server = std::make_unique<MariaDbServer>();
    if (!server->start())
        FAIL() << server->diagnostics().toStdString();
    sharedServer() = std::move(server);
}

void MariaDbEnvironment::TearDown()
{
    sharedServer().reset();
}

MariaDbServer* MariaDbEnvironment::server()
{
    return sharedServer().get();
}

} // namespace rh::test
