#pragma once
// Starts one of the Python test servers of tools/ and waits for the "PORT n"
// line it prints once it listens. Output goes to a file: nobody drains a pipe
// while a test blocks in a transfer.
#include <QProcess>
#include <QString>
#include <QStringList>

namespace rh::test {

// Runs /usr/bin/python3 -u <args> with its output in `log`. Returns the port,
// or 0 with the reason in *error (the process is killed if it still runs).
// `what` names the server in messages ("FTP", "HTTP").
int startScriptServer(QProcess& proc, const QStringList& args, const QString& log, const QString& what,
                      QString* error);

} // namespace rh::test
