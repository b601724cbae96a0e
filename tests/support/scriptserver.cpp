#include "scriptserver.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>

namespace rh::test {

int startScriptServer(QProcess& proc, const QStringList& args, const QString& log, const QString& what,
                      QString* error)
{
    proc.setProgram(QStringLiteral("/usr/bin/python3"));
    proc.setArguments(QStringList{QStringLiteral("-u")} + args);
    proc.setStandardInputFile(QProcess::nullDevice());
    proc.setStandardOutputFile(log);
    proc.setStandardErrorFile(log, QIODevice::Append);
    proc.start();
    if (!proc.waitForStarted(10000)) {
        *error = QStringLiteral("cannot run /usr/bin/python3: %1").arg(proc.errorString());
        return 0;
    }
    static const QRegularExpression portLine(QStringLiteral("^PORT (\\d+)$"),
                                             QRegularExpression::MultilineOption);
    QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired()) {
        QFile f(log);
        if (f.open(QIODevice::ReadOnly)) {
            const auto m = portLine.match(QString::fromUtf8(f.readAll()));
            if (m.hasMatch())
                return m.captured(1).toInt();
        }
        // Also notices the process ending.
        if (proc.waitForFinished(20) || proc.state() == QProcess::NotRunning) {
            *error = QStringLiteral("the %1 server exited with code %2 before listening").arg(what).arg(proc.exitCode());
            return 0;
        }
    }
    *error = QStringLiteral("the %1 server did not report its port within 60 s").arg(what);
    proc.kill();
    proc.waitForFinished(5000);
    return 0;
}

} // namespace rh::test
