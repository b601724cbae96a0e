// The launcher's reading of Windows command lines. The first byte picks:
// - splitting: the arguments of any text, quoted again by the Windows rules
//   and joined, split back into the same arguments;
// - the unquoted-path rule: over a folder mapped as C: that holds programs
//   whose paths contain blanks, a planned program is the shortest blank-ended
//   prefix that names a program, and a native program gets one argument per
//   argument of the rest.
#include "platform/drivemap.h"
#include "platform/launcher.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace {

// Relative program names resolve here.
QString g_root;

bool blank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

// Quotes an argument so that the Windows rules give it back unchanged.
QString quoted(const QString& a)
{
    bool plain = !a.isEmpty();
    for (QChar c : a)
        plain = plain && !blank(c) && c != QLatin1Char('"');
    if (plain)
        return a;
    QString out(QLatin1Char('"'));
    int backslashes = 0;
    for (QChar c : a) {
        if (c == QLatin1Char('\\')) {
            ++backslashes;
            continue;
        }
        if (c == QLatin1Char('"')) {
            out += QString(backslashes * 2 + 1, QLatin1Char('\\')) + c;
        } else {
            out += QString(backslashes, QLatin1Char('\\')) + c;
        }
        backslashes = 0;
    }
    out += QString(backslashes * 2, QLatin1Char('\\')) + QLatin1Char('"');
    return out;
}

void writeProgram(const QString& path, bool executable)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        std::abort();
    f.write("#!/bin/sh\nexit 0\n");
    f.close();
    if (executable)
        f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Qt warns about every file name holding NUL; the answer is what counts.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    static QTemporaryDir dir; // removed when the process ends
    const QString root = dir.path();
    writeProgram(root + QStringLiteral("/Program Files/My Tool/app"), true);
    writeProgram(root + QStringLiteral("/Program Files/My Tool/readme.txt"), false);
    writeProgram(root + QStringLiteral("/a"), true);
    writeProgram(root + QStringLiteral("/a b/c"), true);
    writeProgram(root + QStringLiteral("/vb6.exe"), true);
    g_root = root;
    rh::DriveMap map;
    map.add(QStringLiteral("C:"), root);
    map.add(QStringLiteral("\\\\fileserver\\share"), root + QStringLiteral("/a b"));
    rh::setDriveMap(map);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    if ((data[0] & 1) == 0) {
        const QStringList args = rh::splitWindowsArguments(text);
        QStringList parts;
        for (const QString& a : args)
            parts << quoted(a);
        if (rh::splitWindowsArguments(parts.join(QLatin1Char(' '))) != args)
            std::abort();
        return 0;
    }

    if (text.size() > 200)
        return 0;
    rh::LaunchPlan plan;
    QString error;
    if (!rh::planCommandLine(text, g_root, &plan, &error)) {
        if (error.isEmpty())
            std::abort();
        return 0;
    }
    qsizetype start = 0;
    while (start < text.size() && blank(text[start]))
        ++start;
    const QString line = text.mid(start);
    if (line.startsWith(QLatin1Char('"')))
        return 0;
    const qsizetype k = plan.programText.size();
    if (line.left(k) != plan.programText || (k < line.size() && !blank(line[k])))
        std::abort();
    for (qsizetype i = 1; i < k; ++i) {
        if (!blank(line[i]) || blank(line[i - 1]))
            continue;
        rh::LaunchPlan shorter;
        if (rh::planCommandLine(line.left(i), g_root, &shorter) && shorter.programText == line.left(i))
            std::abort();
    }
    if (plan.kind == rh::LaunchPlan::Kind::Native
        && plan.arguments.size() != rh::splitWindowsArguments(line.mid(k)).size())
        std::abort();
    return 0;
}
