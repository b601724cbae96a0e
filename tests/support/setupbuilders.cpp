#include "setupbuilders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace rh::test {
namespace {

QString toolSource(const char* name)
{
    return QStringLiteral(RH_SUPPORT_DIR "/tools/") + QLatin1String(name);
}

void copyExecutable(const QString& from, const QString& to)
{
    QDir().mkpath(QFileInfo(to).absolutePath());
    QFile::remove(to);
    QFile::copy(from, to);
    QFile::setPermissions(to, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                  | QFileDevice::ReadGroup | QFileDevice::ExeGroup
                                  | QFileDevice::ReadOther | QFileDevice::ExeOther);
}

void writeUtf8(const QString& nativePath, const QString& text)
{
    QDir().mkpath(QFileInfo(nativePath).absolutePath());
    QFile f(nativePath);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(text.toUtf8());
}

} // namespace

void writeSiteDrives(Sandbox& box)
{
    const QString path = box.home() + QStringLiteral("/site.ini");
    QStringList kept;
    QFile in(path);
    if (in.open(QIODevice::ReadOnly)) {
        bool inDrives = false;
        for (const QString& line : QString::fromUtf8(in.readAll()).split(QLatin1Char('\n'))) {
            const QString t = line.trimmed();
            if (t.startsWith(QLatin1Char('[')))
                inDrives = t.compare(QLatin1String("[Drives]"), Qt::CaseInsensitive) == 0;
            if (!inDrives && !t.isEmpty())
                kept << t;
        }
    }
    kept << QStringLiteral("[Drives]");
    for (const auto& [prefix, native] : box.site().driveMap)
        kept << prefix + QLatin1Char('=') + native;
    writeUtf8(path, kept.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

void installSetupBuilders(Sandbox& box)
{
    const QString c = box.drive(QStringLiteral("C"));
    for (const QString& folder : {QStringLiteral("/Program Files/Macrovision/IS12/System/"),
                                 QStringLiteral("/Program Files/Inno Setup 5/")}) {
        const QString exe = folder.contains(QLatin1String("Inno")) ? QStringLiteral("compil32.exe")
                                                                   : QStringLiteral("IsCmdBld.exe");
        copyExecutable(toolSource("setupbuilder.py"), c + folder + exe);
        QFile::remove(c + folder + QStringLiteral("mkpe.py"));
        QFile::copy(toolSource("mkpe.py"), c + folder + QStringLiteral("mkpe.py"));
    }
    writeSiteDrives(box);
}

void writeInnoProject(const QString& nativePath, const QString& output, const QStringList& extraLines)
{
    const qsizetype cut = output.lastIndexOf(QLatin1Char('\\'));
    QString base = output.mid(cut + 1);
    if (base.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive))
        base.chop(4);
    QStringList lines{QStringLiteral("; Inno Setup script"), QStringLiteral("[Setup]"),
                      QStringLiteral("AppName=") + QFileInfo(nativePath).completeBaseName(),
                      QStringLiteral("AppVersion=1.0"),
                      QStringLiteral("OutputDir=") + output.left(cut),
                      QStringLiteral("OutputBaseFilename=") + base};
    lines += extraLines;
    lines << QString() << QStringLiteral("[Files]")
          << QStringLiteral("Source: \"app.exe\"; DestDir: \"{app}\"");
    writeUtf8(nativePath, lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
}

void writeIsmProject(const QString& nativePath, const QString& output, const QStringList& extraLines)
{
    QStringList lines{QStringLiteral("RollhavenOutput=") + output};
    lines += extraLines;
    writeUtf8(nativePath, lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
}

void writeIsmPatchProject(const QString& nativePath, const QString& patchFolder,
                          const QStringList& extraLines)
{
    QStringList lines{QStringLiteral("RollhavenPatchFolder=") + patchFolder};
    lines += extraLines;
    writeUtf8(nativePath, lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
}

QStringList setupBuilderRuns(const Sandbox& box)
{
    QFile f(box.home() + QStringLiteral("/setupbuilders.log"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList runs = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    runs.removeAll(QString());
    return runs;
}

} // namespace rh::test
