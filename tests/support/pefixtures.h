#pragma once
// Windows executables for version-resource tests: written by mkpe.py, built
// with the MinGW-w64 resource compiler and gcc, and read back by exiftool as
// the independent reference.
#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

namespace rh::test {

// Runs a program; false with a readable reason in *error when it cannot start,
// times out or exits non-zero. *out gets standard output.
bool runProgram(const QString& program, const QStringList& args, QByteArray* out,
                QString* error, int timeoutMs = 60000);

// tests/support/tools/mkpe.py OUT args...; the layout JSON when
// "--print-layout" is among args. Empty path and *error on failure.
QString makePe(const QString& out, const QStringList& args, QString* error,
               QJsonObject* layout = nullptr);

// A resource script compiled and linked into a console program:
// bits 32 (i686) or 64 (x86_64). rc may be empty for a program without
// resources. *resData gets the VERSIONINFO data from the compiled .res, the
// bytes the linker puts into the image.
QString buildWithMingw(const QString& dir, const QString& name, const QString& rc, int bits,
                       QString* error, QByteArray* resData = nullptr);

// "Tag" -> value as exiftool prints it with -n (LanguageCode "0412"), one
// map per file, keyed by the path given. Empty maps and *error on failure.
QMap<QString, QMap<QString, QString>> exifTool(const QStringList& files, QString* error);

// Empty when the tools the version tests need are there, else what is missing.
QString missingPeTools();

// Little-endian bytes as 16-bit units.
QList<char16_t> toUnits(const QByteArray& bytes);

} // namespace rh::test
