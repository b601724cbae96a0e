#include "app/resumeflag.h"

namespace rh {

QStringList takeResumeFlag(const QStringList& args, std::optional<QString>* run)
{
    QStringList rest;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--")) {
            rest << args.mid(i);
            break;
        }
        if (a.startsWith(QLatin1String("--resume="))) {
            *run = a.mid(int(qstrlen("--resume=")));
            continue;
        }
        if (a != QLatin1String("--resume")) {
            rest << a;
            continue;
        }
        *run = QString();
        if (i + 1 < args.size() && !args[i + 1].startsWith(QLatin1Char('-')))
            *run = args[++i];
    }
    return rest;
}

} // namespace rh
