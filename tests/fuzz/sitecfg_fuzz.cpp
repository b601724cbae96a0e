// The site configuration over arbitrary bytes: loading never crashes, every
// drive-map entry it takes has a prefix and an absolute folder (relative ones
// are anchored at the file's folder), and a path translated through the map it
// installs stays inside the folder it was mapped to.
#include "platform/codepage.h"
#include "platform/drivemap.h"
#include "site/sitecfg.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

QString g_path;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static QTemporaryDir dir; // removed when the process ends
    const QString home = dir.path();
    QDir().mkpath(home);
    g_path = home + QStringLiteral("/site.ini");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    {
        QFile f(g_path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || f.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
            std::abort();
    }
    const rh::SiteConfig c = rh::SiteConfig::load(g_path);
    for (const auto& [prefix, native] : c.driveMap) {
        if (prefix.trimmed().isEmpty() || !native.startsWith(QLatin1Char('/')))
            std::abort();
    }
    rh::setSite(c);
    for (const auto& [prefix, native] : c.driveMap) {
        for (const QString& tail : {QStringLiteral("\\a\\b.txt"), QStringLiteral("\\..\\..\\x")}) {
            QString error;
            const QString p = rh::nativePath(prefix + tail, &error);
            if (p.isEmpty() || !rh::isWindowsAbsolutePath(prefix + tail))
                continue;
            // Another, longer prefix may have taken the path; it must stay in
            // some mapped folder. Everything is inside "/", so a folder "/"
            // holds the path only when no ".." of it is left to climb out.
            bool inside = false;
            const QString cp = QDir::cleanPath(p);
            const bool climbs = p.split(QLatin1Char('/')).contains(QStringLiteral(".."));
            for (const auto& entry : c.driveMap) {
                const QString r = QDir::cleanPath(entry.second);
                if (r == QLatin1String("/"))
                    inside = inside || !climbs;
                else
                    inside = inside || cp == r || cp.startsWith(r + QLatin1Char('/'));
            }
            if (!inside) {
                std::fprintf(stderr, "sitecfg_fuzz: %s left the mapped folders as %s\n", qPrintable(prefix + tail),
                             qPrintable(p));
                std::abort();
            }
        }
    }
    rh::setSite(rh::SiteConfig());
    return 0;
}
