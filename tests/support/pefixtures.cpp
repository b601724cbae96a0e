#include "pefixtures.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>

namespace rh::test {

namespace {

QString python()
{
    // Debian's interpreter first: the tests must not depend on a user's pyenv.
    if (QFileInfo::exists(QStringLiteral("/usr/bin/python3")))
        return QStringLiteral("/usr/bin/python3");
    return QStringLiteral("python3");
}

quint32 le32(const QByteArray& b, qsizetype at)
{
    return quint32(quint8(b[at])) | quint32(quint8(b[at + 1])) << 8
        | quint32(quint8(b[at + 2])) << 16 | quint32(quint8(b[at + 3])) << 24;
}

quint16 le16(const QByteArray& b, qsizetype at)
{
    return quint16(quint8(b[at]) | quint8(b[at + 1]) << 8);
}

// Skips a type or name field of a .res header: 0xFFFF + id, or a
// NUL-terminated UTF-16 name. Returns the id (0 for names).
quint16 resId(const QByteArray& b, qsizetype* at)
{
    if (le16(b, *at) == 0xFFFF) {
        const quint16 id = le16(b, *at + 2);
        *at += 4;
        return id;
    }
    while (*at + 1 < b.size() && le16(b, *at) != 0)
        *at += 2;
    *at += 2;
    return 0;
}

// The data of the first RT_VERSION resource in a compiled .res file.
QByteArray versionFromRes(const QByteArray& res)
{
    qsizetype at = 0;
    while (at + 8 <= res.size()) {
        const quint32 dataSize = le32(res, at);
        const quint32 headerSize = le32(res, at + 4);
        qsizetype p = at + 8;
        const quint16 type = resId(res, &p);
        if (type == 16 && quint64(at) + headerSize + dataSize <= quint64(res.size()))
            return res.mid(at + headerSize, dataSize);
        at += (headerSize + dataSize + 3) / 4 * 4;
    }
    return QByteArray();
}

} // namespace

bool runProgram(const QString& program, const QStringList& args, QByteArray* out,
                QString* error, int timeoutMs)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted()) {
        *error = program + QStringLiteral(": cannot start (") + p.errorString() + QLatin1Char(')');
        return false;
    }
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        *error = program + QStringLiteral(": timed out");
        return false;
    }
    if (out)
        *out = p.readAllStandardOutput();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *error = program + QLatin1Char(' ') + args.join(QLatin1Char(' ')) + QStringLiteral(": exit ")
            + QString::number(p.exitCode()) + QStringLiteral(": ")
            + QString::fromUtf8(p.readAllStandardError());
        return false;
    }
    return true;
}

QString makePe(const QString& out, const QStringList& args, QString* error, QJsonObject* layout)
{
    QByteArray stdoutText;
    QStringList all{QStringLiteral(RH_SUPPORT_DIR "/tools/mkpe.py"), out};
    all += args;
    if (!runProgram(python(), all, &stdoutText, error))
        return QString();
    if (layout)
        *layout = QJsonDocument::fromJson(stdoutText).object();
    return out;
}

QString buildWithMingw(const QString& dir, const QString& name, const QString& rc, int bits,
                       QString* error, QByteArray* resData)
{
    const QString prefix = bits == 32 ? QStringLiteral("i686-w64-mingw32-")
                                      : QStringLiteral("x86_64-w64-mingw32-");
    const QString base = dir + QLatin1Char('/') + name;
    QFile main(base + QStringLiteral(".c"));
    if (!main.open(QIODevice::WriteOnly) || main.write("int main(void) { return 0; }\n") < 0) {
        *error = QStringLiteral("cannot write ") + main.fileName();
        return QString();
    }
    main.close();
    QStringList gccArgs{main.fileName(), QStringLiteral("-o"), base + QStringLiteral(".exe")};
    if (!rc.isEmpty()) {
        QFile script(base + QStringLiteral(".rc"));
        if (!script.open(QIODevice::WriteOnly) || script.write(rc.toUtf8()) < 0) {
            *error = QStringLiteral("cannot write ") + script.fileName();
            return QString();
        }
        script.close();
        const QString windres = prefix + QStringLiteral("windres");
        const QStringList common{QStringLiteral("--codepage=65001"), script.fileName()};
        if (!runProgram(windres, common + QStringList{QStringLiteral("-O"), QStringLiteral("coff"),
                                                      QStringLiteral("-o"), base + QStringLiteral(".o")},
                        nullptr, error))
            return QString();
        if (resData) {
            if (!runProgram(windres, common + QStringList{QStringLiteral("-O"), QStringLiteral("res"),
                                                          QStringLiteral("-o"), base + QStringLiteral(".res")},
                            nullptr, error))
                return QString();
            QFile res(base + QStringLiteral(".res"));
            if (!res.open(QIODevice::ReadOnly)) {
                *error = QStringLiteral("cannot read ") + res.fileName();
                return QString();
            }
            *resData = versionFromRes(res.readAll());
        }
        gccArgs.append(base + QStringLiteral(".o"));
    }
    if (!runProgram(prefix + QStringLiteral("gcc"), gccArgs, nullptr, error))
        return QString();
    return base + QStringLiteral(".exe");
}

QMap<QString, QMap<QString, QString>> exifTool(const QStringList& files, QString* error)
{
    QMap<QString, QMap<QString, QString>> result;
    QByteArray out;
    QStringList args{QStringLiteral("-args"), QStringLiteral("-a"), QStringLiteral("-n"),
                     QStringLiteral("-charset"), QStringLiteral("utf8")};
    if (!runProgram(QStringLiteral("exiftool"), args + files, &out, error))
        return {};
    QString current = files.size() == 1 ? files.first() : QString();
    const QStringList lines = QString::fromUtf8(out).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (line.startsWith(QStringLiteral("======== "))) {
            current = line.mid(9);
            result[current];
            continue;
        }
        if (!line.startsWith(QLatin1Char('-')) || current.isEmpty())
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        const QString tag = line.mid(1, eq - 1);
        if (!result[current].contains(tag))
            result[current].insert(tag, line.mid(eq + 1));
    }
    return result;
}

QString missingPeTools()
{
    QStringList missing;
    for (const char* tool : {"exiftool", "x86_64-w64-mingw32-windres", "x86_64-w64-mingw32-gcc",
                             "i686-w64-mingw32-windres", "i686-w64-mingw32-gcc"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            missing.append(QString::fromLatin1(tool));
    }
    if (missing.isEmpty())
        return QString();
    return QStringLiteral("missing tools (apt-get install libimage-exiftool-perl mingw-w64): ")
        + missing.join(QStringLiteral(", "));
}

QList<char16_t> toUnits(const QByteArray& bytes)
{
    QList<char16_t> units(bytes.size() / 2);
    for (qsizetype i = 0; i < units.size(); ++i)
        units[i] = char16_t(le16(bytes, i * 2));
    return units;
}

} // namespace rh::test
