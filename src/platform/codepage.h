#pragma once
// The system ANSI code page of the original (CP949 on Korean systems). INI files,
// version files and database texts cross the program's edges as these bytes.
#include <QByteArray>
#include <QString>

namespace rh {

// Selects the code page by name ("CP949" unless the site configuration says
// otherwise). Returns false, keeping the previous one, for an unknown name.
bool setAnsiCodePage(const QString& name);
QString ansiCodePageName();
// True when a code page of that name can be selected.
bool isKnownCodePage(const QString& name);

// Encodes with the ANSI code page; characters it cannot hold become '?'.
QByteArray toAnsi(const QString& text);
// Decodes ANSI bytes; invalid sequences become U+FFFD, never an error.
QString fromAnsi(const QByteArray& bytes);
QString fromAnsi(const char* data, qsizetype size);

// True when the bytes are a valid sequence of the ANSI code page.
bool isValidAnsi(const QByteArray& bytes);

} // namespace rh
