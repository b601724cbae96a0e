#include "app/login.h"

#include "pipeline/databases.h"
#include "pipeline/workdiary.h"
#include "platform/errors.h"
#include "platform/interaction.h"
#include "platform/macaddress.h"
#include "site/serveraddresses.h"
#include "site/sitecfg.h"
#include "platform/usersettings.h"

#include <QCryptographicHash>

namespace rh {
namespace {

const QString kModule = QStringLiteral("modTarvelDBConsts");
const QString kCrLf = QStringLiteral("\r\n");

void reportModuleError(const RhError& e, const QString& procedure)
{
    tell(moduleErrorText(e.number(), e.description(), procedure, kModule));
}

QString setting(const QString& key, const QString& defaultValue)
{
    return GetSetting(loginSettingsApp(), loginSettingsSection(), key, defaultValue);
}

void saveSetting(const QString& key, const QString& value)
{
    SaveSetting(loginSettingsApp(), loginSettingsSection(), key, value);
}

} // namespace

// ---------------------------------------------------------------- allow-list

QString GetDBServerAddress()
{
    return DBServerAddress();
}

QString GetMyMacAddress()
{
    try {
        const QStringList macs = machineMacAddresses();
        return macs.isEmpty() ? QString() : macs.first();
    } catch (const RhError& e) {
        reportModuleError(e, QStringLiteral("GetMyMacAddress"));
        return QString();
    }
}

bool connectInhouseDatabase(cMySQL& db)
{
    return DatabaseDoor::connect(db, DatabaseKind::InHouse, false);
}

QString GetAllowMyPC(bool* databaseReached)
{
    QString result;
    if (databaseReached)
        *databaseReached = true;
    std::unique_ptr<cMySQL> db;
    try {
        const QString mac = GetMyMacAddress();
        // A machine whose address cannot be read is not allowed: looking up
        // the empty address would let it in through any row with an empty
        // mac_addr.
        if (mac.isEmpty())
            return result;
        db = std::make_unique<cMySQL>();
        if (connectInhouseDatabase(*db)) {
            RecordsetPtr rs = db->query(QStringLiteral("SELECT user_id FROM user_mac")
                                        + QStringLiteral(" WHERE mac_addr = '") + EscapeSqlText(*db, mac)
                                        + QStringLiteral("'") + QStringLiteral(" AND block = 0"));
            if (rs && db->affected_rows() > 0 && !rs->isEOF())
                result = rs->value(QStringLiteral("user_id"));
            CloseRecordset(rs);
        } else if (databaseReached) {
            *databaseReached = false;
        }
        db->free_result();
    } catch (const RhError& e) {
        reportModuleError(e, QStringLiteral("GetAllowMyPC"));
    }
    return result;
}

namespace {
QString beforeNul(const QString& text)
{
    const qsizetype nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}
} // namespace

QString EscapeSqlText(cMySQL& db, const QString& text)
{
    return db.escape_string(beforeNul(text));
}

QString PasswordDigest(const cMySQL& db, const QString& password)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(db.wireBytes(beforeNul(password)), QCryptographicHash::Sha1).toHex());
}

// ---------------------------------------------------------------- dialog

Login::Login() = default;

Login::~Login()
{
    Form_Unload();
}

void Login::Form_Load()
{
    LoginSucceeded = false;
    txtPassword = setting(keyPasswd(), txtPassword);
    chkpwdSave = setting(keyIsSavePasswd(), QStringLiteral("0")).trimmed().toInt() == 1;
    m_firstActivation = true;
    Q_EMIT changed();
}

void Login::Form_Activate()
{
    if (!m_firstActivation)
        return;
    m_firstActivation = false;

    bool reached = true;
    const QString account = GetAllowMyPC(&reached);
    if (account.isEmpty() && !reached) {
        // The session has shown why; the machine may well be allowed.
        refuseUnreachable();
        return;
    }
    if (account.isEmpty()) {
        tell(QStringLiteral("허용되지 않은 컴퓨터입니다. 관리자에게 문의바랍니다.") + kCrLf
             + QStringLiteral("MAC: ") + GetMyMacAddress());
        ended = true;
        hide();
        return;
    }

    // The machine's account is the only one that may log in here.
    txtUserName = account;
    userNameEnabled = false;
    Q_EMIT changed();

    try {
        m_db = std::make_unique<cMySQL>();
    } catch (const RhError& e) {
        tell(formErrorText(e.number(), e.description(), QStringLiteral("Form_Activate"),
                           QStringLiteral("frmLogin")));
        hide();
        return;
    }
    if (!connectInhouseDatabase(*m_db)) {
        refuseUnreachable(); // after the session's own message
        return;
    }

    // A saved password logs in without a click.
    if (!txtUserName.isEmpty() && !txtPassword.isEmpty())
        cmdOK_Click();
}

void Login::refuseUnreachable()
{
    databaseUnreachable = true;
    tell(QStringLiteral("데이터베이스에 접속할 수 없어 로그인할 수 없습니다."), MsgIcon::Exclamation);
    hide();
}

void Login::Form_Unload()
{
    if (m_db) {
        m_db->free_result();
        m_db.reset();
    }
}

RecordsetPtr Login::RunLoginQuery(const QString& sql, qint32& rows)
{
    rows = 0;
    // Silent: the session's own error box quotes the statement, and this one
    // carries the password. The error is shown here without it.
    RecordsetPtr rs = m_db->query(sql, true);
    if (!rs) {
        QString description = m_db->err_description();
        if (!txtPassword.isEmpty())
            description.replace(txtPassword, QStringLiteral("****"));
        tell(moduleErrorText(m_db->err_no(), description, QStringLiteral("query"),
                             QStringLiteral("cMySQL")));
        return nullptr;
    }
    rows = m_db->affected_rows();
    return rs;
}

void Login::cmdOK_Click()
{
    if (!m_db)
        return; // no session: the dialog is hiding after a failed connection
    QString sql;
    try {
        sql = QStringLiteral("SELECT *, now() as svrtime FROM user") + QStringLiteral(" where id='")
            + EscapeSqlText(*m_db, txtUserName) + QStringLiteral("' AND password2 = '")
            + PasswordDigest(*m_db, txtPassword) + QStringLiteral("'") + QStringLiteral(" and hidden=0");
    } catch (const RhError& e) {
        tell(moduleErrorText(e.number(), e.description(), QStringLiteral("query"), QStringLiteral("cMySQL")));
        Q_EMIT selectPassword();
        return;
    }

    qint32 rows = 0;
    RecordsetPtr rs = RunLoginQuery(sql, rows);
    if (!rs) {
        // A failed check is not a wrong password; the error has been shown.
        Q_EMIT selectPassword();
        return;
    }
    if (rows < 1) {
        interaction().tell(QStringLiteral("암호가 잘못되었습니다."), QStringLiteral("로그인"),
                           MsgIcon::None);
        Q_EMIT selectPassword();
    } else {
        LoginSucceeded = true;
        hide();
    }
    CloseRecordset(rs);
}

void Login::cmdCancel_Click()
{
    hide();
}

void Login::hide()
{
    visible = false;
    Q_EMIT hideRequested();
}

void Login::chkpwdSave_Click(bool checked)
{
    chkpwdSave = checked;
    if (!visible)
        return; // values set while loading store nothing
    saveSetting(keyIsSavePasswd(), checked ? QStringLiteral("1") : QStringLiteral("0"));
    saveSetting(keyPasswd(), checked ? txtPassword : QString());
}

void Login::txtUserName_Change(const QString& text)
{
    txtUserName = text;
}

void Login::txtPassword_Change(const QString& text)
{
    txtPassword = text;
    m_passwordChanged = true;
}

void Login::txtPassword_GotFocus()
{
    m_passwordChanged = false;
}

void Login::txtPassword_LostFocus()
{
    if (chkpwdSave && m_passwordChanged)
        saveSetting(keyPasswd(), txtPassword);
}

} // namespace rh
