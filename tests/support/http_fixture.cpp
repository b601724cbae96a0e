#include "http_fixture.h"
#include "scriptserver.h"

#include "platform/profile.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace rh::test {

HttpServer::HttpServer()
{
    QDir(m_dir.path()).mkpath(QStringLiteral("root"));
}

HttpServer::~HttpServer()
{
    kill();
}

QString HttpServer::scriptPath()
{
    return QStringLiteral(RH_SUPPORT_DIR "/tools/httpserver.py");
}

QString HttpServer::root() const
{
    return m_dir.path() + QStringLiteral("/root");
}

QString HttpServer::url(const QString& target) const
{
    return QStringLiteral("%1://127.0.0.1:%2%3")
        .arg(tlsCertificate.isEmpty() ? QStringLiteral("http") : QStringLiteral("https"))
        .arg(m_port)
        .arg(target);
}

void HttpServer::setReply(const QString& target, const Reply& reply)
{
    m_replies.insert(target, reply);
    writeRoutes();
}

void HttpServer::setReply(const QString& target, int status, const QByteArray& body)
{
    Reply r;
    r.status = status;
    r.body = body;
    setReply(target, r);
}

void HttpServer::clearReplies()
{
    m_replies.clear();
    writeRoutes();
}

void HttpServer::writeRoutes()
{
    QJsonObject routes;
    for (auto it = m_replies.cbegin(); it != m_replies.cend(); ++it) {
        QJsonObject r;
        r.insert(QStringLiteral("status"), it->status);
        r.insert(QStringLiteral("body_b64"), QString::fromLatin1(it->body.toBase64()));
        r.insert(QStringLiteral("content_type"), it->contentType);
        r.insert(QStringLiteral("delay"), it->delaySec);
        if (it->dripSec > 0)
            r.insert(QStringLiteral("drip"), it->dripSec);
        if (!it->location.isEmpty())
            r.insert(QStringLiteral("location"), it->location);
        routes.insert(it.key(), r);
    }
    // The server reads the file on every request: never let it see half of one.
    writeFileAtomically(m_dir.path() + QStringLiteral("/routes.json"), QJsonDocument(routes).toJson());
}

bool HttpServer::start()
{
    kill();
    m_error.clear();
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("cannot create a temporary folder: %1").arg(m_dir.errorString());
        return false;
    }
    writeRoutes();
    const QString log = m_dir.path() + QStringLiteral("/server.log");
    QFile::remove(log);
    QStringList args{scriptPath(), QStringLiteral("--routes"), m_dir.path() + QStringLiteral("/routes.json"),
                     QStringLiteral("--root"), root(), QStringLiteral("--host"), host(),
                     QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--exit-with-parent")};
    if (!tlsCertificate.isEmpty())
        args << QStringLiteral("--tls-cert") << tlsCertificate;
    m_port = startScriptServer(m_proc, args, log, QStringLiteral("HTTP"), &m_error);
    return m_port != 0;
}

void HttpServer::kill()
{
    if (m_proc.state() != QProcess::NotRunning) {
        m_proc.kill();
        m_proc.waitForFinished(60000);
    }
}

bool HttpServer::isRunning() const
{
    return m_proc.state() == QProcess::Running;
}

QString HttpServer::output() const
{
    QFile f(m_dir.path() + QStringLiteral("/server.log"));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QStringList HttpServer::requests() const
{
    static const QRegularExpression line(QStringLiteral("^REQUEST \\S+ (.*)$"),
                                         QRegularExpression::MultilineOption);
    QStringList out;
    auto it = line.globalMatch(output());
    while (it.hasNext())
        out.append(it.next().captured(1));
    return out;
}

QString HttpServer::lastRequest() const
{
    const QStringList all = requests();
    return all.isEmpty() ? QString() : all.last();
}

QString HttpServer::diagnostics() const
{
    return m_error + QStringLiteral("\n--- server output (") + scriptPath()
           + QStringLiteral(") ---\n") + output();
}

} // namespace rh::test
