#include "pipeline/stepfiles.h"

#include "platform/errors.h"
#include "platform/drivemap.h"
#include "platform/interaction.h"
#include "platform/journal.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <unistd.h>

namespace rh {

bool stepFileExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QString native = nativePath(path);
    return !native.isEmpty() && journal().isFile(native);
}

bool stepOutputExists(const QString& path, const QString& producer)
{
    if (path.isEmpty())
        return false;
    const QString native = nativePath(path);
    return !native.isEmpty() && journal().awaitFile(native, producer);
}

void stepDeleteFile(const QString& path)
{
    QString mapError;
    const QString native = nativePath(path, &mapError);
    if (native.isEmpty())
        throw RhError(err::PathNotFound, standardErrorDescription(err::PathNotFound));
    const int e = journaledUnlink(native);
    if (e == 0)
        return;
    int number = err::PathFileAccessError;
    switch (e) {
    case ENOENT: number = err::FileNotFound; break;
    case ENOTDIR: number = err::PathNotFound; break;
    case EACCES:
    case EPERM:
    case EROFS: number = err::PermissionDenied; break;
    default: break;
    }
    throw RhError(number, standardErrorDescription(number));
}

QString fileNameOfPath(const QString& path)
{
    const qsizetype cut = path.startsWith(QLatin1Char('/'))
        ? std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')))
        : path.lastIndexOf(QLatin1Char('\\'));
    return path.mid(cut + 1);
}

void showTrappedError(const QString& procedure, const std::exception& e)
{
    if (const auto* rhe = dynamic_cast<const RhError*>(&e)) {
        tell(formErrorText(rhe->number(), rhe->description(), procedure));
        return;
    }
    // Anything else is reported as the runtime's generic failure.
    tell(formErrorText(err::InvalidProcedureCall, QString::fromLocal8Bit(e.what()), procedure));
}

bool trapped(const QString& procedure, const std::function<void()>& op)
{
    try {
        op();
        return true;
    } catch (const std::exception& e) {
        showTrappedError(procedure, e);
    }
    return false;
}

QString toolStartFailedLine(const QString& name, const QString& program, const QString& reason)
{
    return QStringLiteral("[오류] ") + name + QStringLiteral(" 프로그램을 시작할 수 없습니다.(") + program
        + QStringLiteral(") ") + reason;
}

} // namespace rh
