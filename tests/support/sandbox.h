#pragma once
// A throw-away program folder: inis/ with setup INIs written as CP949 bytes,
// a drive map whose drives live under the folder, a private settings store.
#include "site/sitecfg.h"

#include <QString>
#include <QTemporaryDir>

namespace rh::test {

class Sandbox {
public:
    Sandbox();
    ~Sandbox();

    QString home() const { return m_dir.path(); }
    // Native folder of a mapped drive letter ("C", "S", ...), created on demand.
    QString drive(const QString& letter) const;
    // Writes inis/<name> from UTF-8 text, converted to CP949 bytes.
    QString writeIni(const QString& name, const QString& text) const;
    QString iniPath(const QString& name) const { return home() + QStringLiteral("/inis/") + name; }
    // Writes a file (UTF-8 text as CP949 bytes) at a native path, folders created.
    static void writeAnsi(const QString& nativePath, const QString& text);
    static QByteArray readBytes(const QString& nativePath);

    SiteConfig& site() { return m_site; }
    // The accounts of schema.sql and the FTP fixtures' default account, which
    // the program has no built-in value for.
    static void setAccounts(SiteConfig& site);
    // The same as site.ini lines ([Database] and [Ftp] sections).
    static QByteArray accountKeys();
    // Installs the sandbox's site configuration (after changing site()).
    void apply();

private:
    QTemporaryDir m_dir;
    SiteConfig m_site;
};

} // namespace rh::test
