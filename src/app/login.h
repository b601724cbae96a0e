#pragma once
// The login dialog without widgets, and the machine allow-list.
//
// Only known users on registered machines may use the program: the in-house
// database's `user_mac` names the one account allowed on a machine (by its
// adapter's MAC address), and `user` holds the accounts' password digests.
// frmLogin binds its widgets to a Login object; start-up shows the dialog and
// reads LoginSucceeded.
#include "db/cmysql.h"

#include <QObject>
#include <QString>

#include <memory>

namespace rh {

// Application name and section of the saved-password settings, shared with
// the department's other in-house tools.
inline QString loginSettingsApp() { return QStringLiteral("Tarvel 업무관리"); }
inline QString loginSettingsSection() { return QStringLiteral("Config"); }
inline QString keyIsSavePasswd() { return QStringLiteral("issave_passwd"); }
inline QString keyPasswd() { return QStringLiteral("passwd"); }

// The in-house database host, as start-up settled it.
QString GetDBServerAddress();
// The first enabled adapter's MAC address (see platform/macaddress.h), or "".
QString GetMyMacAddress();
// The account allowed on this machine, or "" when the machine is not allowed
// or the allow-list could not be read.
// databaseReached (when given) tells whether the allow-list could be read at all.
QString GetAllowMyPC(bool* databaseReached = nullptr);
// Connects `db` to the in-house database with the site's account.
bool connectInhouseDatabase(cMySQL& db);
// A text for use between single quotes on `db`'s connection: cut at the first
// NUL, then escaped by the library on the encoded bytes with the session's
// character set (escaping before encoding lets a code page's trail byte 0x5C
// swallow the escape of a following quote).
QString EscapeSqlText(cMySQL& db, const QString& text);
// What the user table keeps in password2 for `password` (the part before a
// NUL) sent over `db`: the SHA-1 hex digest of its bytes, as the server's
// SHA1() gives it. The login compares this, so no password leaves the program.
QString PasswordDigest(const cMySQL& db, const QString& password);

class Login final : public QObject {
    Q_OBJECT
public:
    Login();
    ~Login() override;

    // Controls as data; the front end draws them and reports user changes
    // through the handlers below.
    QString txtUserName;
    bool userNameEnabled = true;
    QString txtPassword;
    bool chkpwdSave = false;
    // Set by the front end while the dialog is on screen.
    bool visible = false;

    // Read by start-up once the dialog has hidden itself.
    bool LoginSucceeded = false;
    // The machine was refused: the program ends (start-up reads it).
    bool ended = false;
    // The login could not reach the in-house database (not a refusal of the machine).
    bool databaseUnreachable = false;

    void Form_Load();
    // Work happens on the first activation only.
    void Form_Activate();
    void Form_Unload();
    void cmdOK_Click();
    void cmdCancel_Click();
    // The user ticked or cleared "저장".
    void chkpwdSave_Click(bool checked);
    void txtUserName_Change(const QString& text);
    void txtPassword_Change(const QString& text);
    void txtPassword_GotFocus();
    void txtPassword_LostFocus();

    cMySQL* session() const { return m_db.get(); }

Q_SIGNALS:
    // A control changed: redraw from the object.
    void changed();
    // The dialog hides itself (start-up's modal show returns).
    void hideRequested();
    // Focus the password box and select all of its text.
    void selectPassword();

private:
    void hide();
    // Runs `sql` on the dialog's session; null on failure (reported already).
    RecordsetPtr RunLoginQuery(const QString& sql, qint32& rows);
    void refuseUnreachable();

    bool m_firstActivation = false;
    bool m_passwordChanged = false;
    std::unique_ptr<cMySQL> m_db;
};

} // namespace rh
