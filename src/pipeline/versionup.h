#pragma once
#include <QByteArray>
#include <QDate>
#include <QString>

namespace rh {

// The characters of byte positions first..last (inclusive, 0-based), each
// byte turned into one character through the ANSI code page; "" when
// first > last or the range leaves the array.
QString GetStringFromByte(qsizetype first, qsizetype last, const QByteArray& bytes);

// The new version text of a project: month scheme for a three-digit minor,
// counter scheme otherwise. Empty when the month scheme gives the same minor.
struct NewVersion {
    QString text;      // "1.405"; empty on the same-month case
    bool sameMonth = false;
};
NewVersion computeNewVersion(const QString& oldMajor, const QString& oldMinor, const QDate& today);

// "1.405" for major 1, minor 405; "1.1" for minor 10: the shortest decimal form.
QString currentVersionText(const QString& oldMajor, const QString& oldMinor);

} // namespace rh
