#include "platform/errors.h"

namespace rh {

QString formErrorText(int number, const QString& description, const QString& procedure,
                      const QString& form)
{
    return QStringLiteral("Error ") + QString::number(number) + QStringLiteral(" (") + description
        + QStringLiteral(") in procedure ") + procedure + QStringLiteral(" of Form ") + form;
}

QString moduleErrorText(int number, const QString& description, const QString& procedure,
                        const QString& module)
{
    return QStringLiteral("Error ") + QString::number(number) + QStringLiteral(" (") + description
        + QStringLiteral(") in procedure ") + procedure + QStringLiteral(" of Module ") + module;
}

QString standardErrorDescription(int number)
{
    switch (number) {
    case 5: return QStringLiteral("Invalid procedure call or argument");
    case 6: return QStringLiteral("Overflow");
    case 9: return QStringLiteral("Subscript out of range");
    case 13: return QStringLiteral("Type mismatch");
    case 52: return QStringLiteral("Bad file name or number");
    case 53: return QStringLiteral("File not found");
    case 57: return QStringLiteral("Device I/O error");
    case 58: return QStringLiteral("File already exists");
    case 61: return QStringLiteral("Disk full");
    case 70: return QStringLiteral("Permission denied");
    case 75: return QStringLiteral("Path/File access error");
    case 76: return QStringLiteral("Path not found");
    default: return QStringLiteral("Application-defined or object-defined error");
    }
}

} // namespace rh
