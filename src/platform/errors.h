#pragma once
// Unexpected failures carry a number, a description and a source, as the
// original's runtime errors did. Numbers follow the original where one exists.
#include <QString>

#include <stdexcept>

namespace rh {

namespace err {
constexpr int SubscriptOutOfRange = 9;
constexpr int Overflow = 6;
constexpr int TypeMismatch = 13;
constexpr int InvalidProcedureCall = 5;
constexpr int FileNotFound = 53;
constexpr int PermissionDenied = 70;
constexpr int PathFileAccessError = 75;
constexpr int PathNotFound = 76;
} // namespace err

class RhError : public std::runtime_error {
public:
    RhError(int number, QString description, QString source = QString())
        : std::runtime_error(description.toStdString()), m_number(number),
          m_description(std::move(description)), m_source(std::move(source))
    {
    }
    int number() const { return m_number; }
    const QString& description() const { return m_description; }
    const QString& source() const { return m_source; }

private:
    int m_number;
    QString m_description;
    QString m_source;
};

// "Error 9 (Subscript out of range) in procedure LoadConfig of Form FrmMain"
QString formErrorText(int number, const QString& description, const QString& procedure,
                      const QString& form = QStringLiteral("FrmMain"));
// "... in procedure GetFileVer of Module mdlFile"
QString moduleErrorText(int number, const QString& description, const QString& procedure,
                        const QString& module);

// The description the original runtime gave for its standard numbers.
QString standardErrorDescription(int number);

} // namespace rh
