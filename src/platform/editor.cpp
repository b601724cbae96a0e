#include "platform/editor.h"

#include <QProcess>
#include <QStandardPaths>

namespace rh {

bool openInTextEditor(const QString& nativeFile)
{
    QString program = qEnvironmentVariable("VISUAL");
    if (program.isEmpty())
        program = qEnvironmentVariable("EDITOR");
    QStringList args;
    if (!program.isEmpty()) {
        args = QProcess::splitCommand(program);
        if (args.isEmpty())
            return false;
        program = args.takeFirst();
    } else {
        program = QStringLiteral("xdg-open");
    }
    if (QStandardPaths::findExecutable(program).isEmpty() && !program.contains(QLatin1Char('/')))
        return false;
    args << nativeFile;
    return QProcess::startDetached(program, args);
}

} // namespace rh
