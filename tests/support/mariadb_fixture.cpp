#include "mariadb_fixture.h"

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

MariaDbServer::MariaDbServer(QStringList serverArgs)
    : m_dir(QStringLiteral("/tmp/rh-mariadb-XXXXXX")), m_serverArgs(std::move(serverArgs))
{
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
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("RH_SANDBOX_OWNER_PID"),
               QString::number(QCoreApplication::applicationPid()));
    // Initialise once per build tree; later starts copy the prepared folder.
    if (!env.contains(QStringLiteral("RH_SANDBOX_TEMPLATE")))
        env.insert(QStringLiteral("RH_SANDBOX_TEMPLATE"),
                   QStringLiteral(RH_BINARY_DIR "/mariadb-template"));
    if (!m_serverArgs.isEmpty())
        env.insert(QStringLiteral("RH_SANDBOX_SERVER_ARGS"), m_serverArgs.join(QLatin1Char(' ')));
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
    return true;
}

void MariaDbServer::stop()
{
    if (!m_running)
        return;
    QProcess::execute(QStringLiteral("bash"), {scriptPath(), QStringLiteral("stop"), m_dir.path()});
    m_running = false;
}

SiteConfig MariaDbServer::siteConfig(SiteConfig base) const
{
    base.dbServerAddress = host();
    base.dbPort = m_port;
    base.dbSocket.clear();
    base.webDbPort = m_port;
    base.webDbSocket.clear();
    base.developerAccount = developerUser();
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
