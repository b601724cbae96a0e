#include "platform/fspath.h"

#include "platform/drivemap.h"

namespace rh {

QString fileSystemPath(const QString& path, QString* error)
{
    QString p = nativePath(path, error);
    if (p.startsWith(QLatin1Char('/')))
        p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return p;
}

} // namespace rh
