#include "platform/drivemap.h"

#include <algorithm>

namespace rh {
namespace {

DriveMap& current()
{
    static DriveMap map;
    return map;
}

QString normalisePrefix(QString p)
{
    p = p.trimmed();
    p.replace(QLatin1Char('/'), QLatin1Char('\\'));
    while (p.size() > 2 && p.endsWith(QLatin1Char('\\')))
        p.chop(1);
    if (p.size() == 2 && p[1] == QLatin1Char(':'))
        p = p.toUpper();
    return p;
}

bool isDrive(const QString& path)
{
    return path.size() >= 2 && path[1] == QLatin1Char(':') && path[0].isLetter()
        && path[0].unicode() < 128;
}

bool isUnc(const QString& path)
{
    return path.startsWith(QLatin1String("\\\\")) || path.startsWith(QLatin1String("//"));
}

} // namespace

void DriveMap::add(const QString& prefix, const QString& nativeFolder)
{
    QString n = nativeFolder;
    while (n.size() > 1 && n.endsWith(QLatin1Char('/')))
        n.chop(1);
    m_entries.append({normalisePrefix(prefix), n});
    // Longest prefix first, so "\\fs\a\b" wins over "\\fs\a".
    std::stable_sort(m_entries.begin(), m_entries.end(),
                     [](const Entry& a, const Entry& b) { return a.prefix.size() > b.prefix.size(); });
}

// The part of a path below its mapped root, with "." and ".." resolved: a
// ".." may climb back up inside the root but never above it. False when it
// would.
static bool resolveBelowRoot(QString& rest)
{
    const QStringList parts = rest.split(QLatin1Char('\\'));
    if (!parts.contains(QLatin1String("..")) && !parts.contains(QLatin1String(".")))
        return true;
    QStringList kept;
    for (const QString& part : parts) {
        if (part == QLatin1String(".."))  {
            // Empty parts are doubled separators; they hold no folder to leave.
            while (!kept.isEmpty() && kept.last().isEmpty())
                kept.removeLast();
            if (kept.isEmpty())
                return false;
            kept.removeLast();
        } else if (part != QLatin1String(".")) {
            kept.append(part);
        }
    }
    rest = kept.join(QLatin1Char('\\'));
    if (!rest.isEmpty() && !rest.startsWith(QLatin1Char('\\')))
        rest.prepend(QLatin1Char('\\'));
    if (parts.last() == QLatin1String("..") || parts.last() == QLatin1String("."))
        rest += QLatin1Char('\\');
    return true;
}

QString DriveMap::toNative(const QString& path, QString* error) const
{
    if (error)
        error->clear();
    // A native folder joined with "\name" (the program folder + "\tool.exe"
    // pattern of the original): Windows treats both separators alike and no
    // name here contains "\".
    if (path.startsWith(QLatin1Char('/')) && !path.startsWith(QLatin1String("//"))) {
        QString native = path;
        native.replace(QLatin1Char('\\'), QLatin1Char('/'));
        return native;
    }
    QString p = path;
    p.replace(QLatin1Char('/'), QLatin1Char('\\'));
    // Without a drive or share the path would land wherever the program
    // happens to run.
    if (!isDrive(p) && !isUnc(p)) {
        if (error)
            *error = QStringLiteral("드라이브가 없는 상대 경로는 사용할 수 없습니다: ") + path;
        return QString();
    }
    for (const Entry& e : m_entries) {
        if (!p.startsWith(e.prefix, Qt::CaseInsensitive))
            continue;
        // Match whole components only: "\\fs\ab" is not under "\\fs\a".
        if (p.size() > e.prefix.size() && p[e.prefix.size()] != QLatin1Char('\\'))
            continue;
        QString rest = p.mid(e.prefix.size());
        if (!resolveBelowRoot(rest)) {
            if (error)
                *error = QStringLiteral("경로가 매핑된 폴더(") + e.prefix
                    + QStringLiteral(") 밖을 가리킵니다: ") + path;
            return QString();
        }
        rest.replace(QLatin1Char('\\'), QLatin1Char('/'));
        if (rest.isEmpty())
            return e.native;
        if (e.native == QLatin1String("/"))
            return rest;
        return e.native + rest;
    }
    if (error) {
        QString what = isDrive(p) ? p.left(2).toUpper() : p.section(QLatin1Char('\\'), 0, 3);
        *error = QStringLiteral("경로를 사용할 수 없습니다(매핑되지 않은 드라이브 ") + what
            + QStringLiteral("): ") + path;
    }
    return QString();
}

const DriveMap& driveMap()
{
    return current();
}

void setDriveMap(const DriveMap& map)
{
    current() = map;
}

QString nativePath(const QString& path, QString* error)
{
    return current().toNative(path, error);
}

bool isWindowsAbsolutePath(const QString& path)
{
    if (path.size() >= 3 && isDrive(path)
        && (path[2] == QLatin1Char('\\') || path[2] == QLatin1Char('/')))
        return true;
    return path.startsWith(QLatin1String("\\\\"));
}

} // namespace rh
