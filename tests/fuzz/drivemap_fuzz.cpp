// The drive map's translation over arbitrary prefixes and paths: the input's
// lines are "prefix" lines (each mapped to a folder of its own under one
// root) and a last line, the path. A translated Windows path never leaves the
// folder of the prefix it was mapped through, ".." and all; an unmapped drive
// or share is an error with a message, never a path.
#include "platform/drivemap.h"

#include <QDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

bool within(const QString& path, const QString& root)
{
    const QString p = QDir::cleanPath(path);
    return p == root || p.startsWith(root + QLatin1Char('/'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    QStringList lines = text.split(QLatin1Char('\n'));
    const QString path = lines.takeLast();
    if (lines.size() > 8)
        return 0;

    rh::DriveMap map;
    QStringList roots;
    for (int i = 0; i < lines.size(); ++i) {
        const QString root = QStringLiteral("/fuzz/root%1").arg(i);
        map.add(lines[i], root);
        roots << root;
    }
    QString error;
    const QString native = map.toNative(path, &error);
    if (native.isEmpty() != !error.isEmpty() && !path.isEmpty())
        std::abort();
    if (rh::isWindowsAbsolutePath(path) && !native.isEmpty()) {
        bool inside = false;
        for (const QString& root : roots)
            inside = inside || within(native, root);
        if (!inside) {
            std::fprintf(stderr, "drivemap_fuzz: %s left the mapped folders as %s\n", qPrintable(path),
                         qPrintable(native));
            std::abort();
        }
    }
    return 0;
}
