// The login and the machine allow-list against a real MariaDB server: which
// machines get in, the password check with hostile and Korean texts, the saved
// password and the automatic login.
#include "app/login.h"

#include "mariadb_fixture.h"
#include "sandbox.h"
#include "testinteraction.h"

#include "platform/macaddress.h"
#include "platform/sitecfg.h"
#include "platform/usersettings.h"

#include <gtest/gtest.h>

using namespace rh;
using rh::test::MariaDbEnvironment;
using rh::test::MariaDbServer;
using rh::test::Sandbox;
using rh::test::TestInteraction;

namespace {

auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new MariaDbEnvironment);

const QString kNotAllowed = QStringLiteral("허용되지 않은 컴퓨터입니다. 관리자에게 문의바랍니다.");
const QString kWrong = QStringLiteral("암호가 잘못되었습니다.");
// Quotes, backslashes, Korean (a CP949 extension syllable too) and SQL.
const QString kHardPassword = QStringLiteral("O'Re\\il'ly 한글똠 \\' -- \" OR 1=1");

std::string s(const QString& q)
{
    return q.toStdString();
}

class LoginTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server = MariaDbEnvironment::server();
        ASSERT_NE(server, nullptr) << "the MariaDB server did not start";
        box.site() = server->siteConfig(box.site());
        box.apply();
        root(QStringLiteral("DELETE FROM tv_inhouse.user; DELETE FROM tv_inhouse.user_mac;"));
        addUser(QStringLiteral("kim"), QStringLiteral("secret"));
        allow(QStringLiteral("kim"), QStringLiteral("001122AABBCC"));
        adapters({QStringLiteral("00-11-22-aa-bb-cc")});
        login.endProgram = [this] { ++ends; };
        QObject::connect(&login, &Login::selectPassword, [this] { ++selects; });
    }
    void TearDown() override { setMacAddressSource({}); }

    void root(const QString& sql)
    {
        QString err;
        EXPECT_TRUE(server->exec(sql, nullptr, &err)) << s(err) << " in " << s(sql);
    }
    // The exact UTF-8 text, independent of the command-line client's quoting.
    static QString lit(const QString& text)
    {
        return QStringLiteral("CONVERT(X'%1' USING utf8mb4)")
            .arg(QString::fromLatin1(text.toUtf8().toHex()));
    }
    void addUser(const QString& id, const QString& password, int hidden = 0)
    {
        root(QStringLiteral("INSERT INTO tv_inhouse.user (id, password2, hidden) VALUES (%1, "
                            "SHA1(%2), %3)")
                 .arg(lit(id), lit(password), QString::number(hidden)));
    }
    void allow(const QString& id, const QString& mac, int block = 0)
    {
        root(QStringLiteral("INSERT INTO tv_inhouse.user_mac (user_id, mac_addr, block) "
                            "VALUES (%1, '%2', %3)")
                 .arg(lit(id), mac, QString::number(block)));
    }
    static void adapters(const QStringList& reported)
    {
        setMacAddressSource([reported] { return reported; });
    }
    static QString saved(const QString& key)
    {
        return GetSetting(loginSettingsApp(), loginSettingsSection(), key, QStringLiteral("<none>"));
    }
    static void save(const QString& key, const QString& value)
    {
        SaveSetting(loginSettingsApp(), loginSettingsSection(), key, value);
    }
    // Loads and shows the dialog as start-up does.
    void open()
    {
        login.Form_Load();
        login.visible = true;
        login.Form_Activate();
    }
    void tryPassword(const QString& password)
    {
        login.txtPassword_Change(password);
        login.cmdOK_Click();
    }

    MariaDbServer* server = nullptr;
    Sandbox box;
    TestInteraction ui;
    Login login;
    int ends = 0;
    int selects = 0;
};

TEST_F(LoginTest, AllowedMachineGetsItsAccountAndLogsInWithTheRightPasswordOnly)
{
    open();
    EXPECT_EQ(ends, 0);
    EXPECT_EQ(login.txtUserName, QStringLiteral("kim"));
    EXPECT_FALSE(login.userNameEnabled);
    EXPECT_TRUE(login.visible) << "no password: the dialog waits";
    ASSERT_NE(login.session(), nullptr);
    EXPECT_TRUE(ui.messages.isEmpty()) << s(ui.texts().join(u'|'));

    tryPassword(QStringLiteral("Secret"));
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_EQ(ui.messages[0].text, kWrong);
    EXPECT_EQ(ui.messages[0].title, QStringLiteral("로그인"));
    EXPECT_EQ(selects, 1);
    EXPECT_FALSE(login.LoginSucceeded);
    EXPECT_TRUE(login.visible);

    tryPassword(QStringLiteral("secret"));
    EXPECT_TRUE(login.LoginSucceeded);
    EXPECT_FALSE(login.visible);
    EXPECT_EQ(ui.messages.size(), 1);

    login.Form_Unload();
    EXPECT_EQ(login.session(), nullptr);
}

TEST_F(LoginTest, MachinesNotOnTheListOrBlockedOrUnreadableEndTheProgram)
{
    struct Case {
        const char* what;
        QStringList reported;
        QString shownMac;
    };
    allow(QStringLiteral("lee"), QStringLiteral("0011223344FF"), 1);
    allow(QStringLiteral("park"), QString()); // a bad row must not admit adapterless machines
    const QList<Case> cases = {
        {"unknown", {QStringLiteral("aa:bb:cc:dd:ee:ff")}, QStringLiteral("AABBCCDDEEFF")},
        {"blocked", {QStringLiteral("00:11:22:33:44:ff")}, QStringLiteral("0011223344FF")},
        {"no adapter", {}, QString()},
        {"zero address only", {QStringLiteral("00:00:00:00:00:00")}, QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ui.messages.clear();
        Login l;
        int ended = 0, hidden = 0;
        l.endProgram = [&] { ++ended; };
        QObject::connect(&l, &Login::hideRequested, [&] { ++hidden; });
        adapters(c.reported);
        l.Form_Load();
        l.visible = true;
        l.Form_Activate();
        EXPECT_EQ(ui.tells(), QStringList{kNotAllowed + QStringLiteral("\r\nMAC: ") + c.shownMac});
        EXPECT_EQ(ended, 1);
        EXPECT_EQ(hidden, 1);
        EXPECT_TRUE(l.ended);
        EXPECT_FALSE(l.LoginSucceeded);
        EXPECT_EQ(l.session(), nullptr);
        EXPECT_TRUE(l.txtUserName.isEmpty());
    }

    // A database that cannot be reached cannot confirm the machine either.
    SiteConfig cfg = site();
    cfg.dbPort = 1; // nothing listens there
    setSite(cfg);
    adapters({QStringLiteral("00:11:22:aa:bb:cc")});
    EXPECT_EQ(GetAllowMyPC(), QString());
    open();
    EXPECT_EQ(ends, 1);
    ASSERT_FALSE(ui.tells().isEmpty());
    EXPECT_EQ(ui.tells().last(), kNotAllowed + QStringLiteral("\r\nMAC: 001122AABBCC"));
}

TEST_F(LoginTest, HostileAndKoreanTextsAreCheckedExactly)
{
    addUser(QStringLiteral("o'neil\\x"), kHardPassword);
    addUser(QStringLiteral("ghost"), QStringLiteral("secret"), 1);
    allow(QStringLiteral("o'neil\\x"), QStringLiteral("A45E60010203"));
    allow(QStringLiteral("ghost"), QStringLiteral("A45E600102FF"));

    EXPECT_EQ(EscapeSqlText(QStringLiteral("a'b\\c")), QStringLiteral("a''b\\\\c"));
    EXPECT_EQ(EscapeSqlText(QStringLiteral("\\'")), QStringLiteral("\\\\''"));

    adapters({QStringLiteral("a4:5e:60:01:02:03")});
    open();
    EXPECT_EQ(login.txtUserName, QStringLiteral("o'neil\\x"));
    // Near misses and an injection attempt fail; nothing breaks the statement.
    for (const QString& wrong :
         {QString(kHardPassword).remove(QLatin1Char('\\')), kHardPassword + QLatin1Char(' '),
          QStringLiteral("' OR '1'='1"), QStringLiteral("x') OR ('1'='1"),
          QStringLiteral("\\') OR 1=1 -- ")}) {
        tryPassword(wrong);
        EXPECT_FALSE(login.LoginSucceeded) << s(wrong);
    }
    EXPECT_EQ(ui.tells(), QStringList(5, kWrong));

    // Saved with the box ticked, read back and checked byte for byte.
    login.chkpwdSave_Click(true);
    login.txtPassword_GotFocus();
    tryPassword(kHardPassword + QChar(0) + QStringLiteral("ignored after NUL"));
    login.txtPassword_LostFocus();
    EXPECT_TRUE(login.LoginSucceeded);
    Login next;
    int hidden = 0;
    QObject::connect(&next, &Login::hideRequested, [&] { ++hidden; });
    next.Form_Load();
    EXPECT_EQ(next.txtPassword, kHardPassword + QChar(0) + QStringLiteral("ignored after NUL"));
    next.visible = true;
    next.Form_Activate();
    EXPECT_TRUE(next.LoginSucceeded);
    EXPECT_EQ(hidden, 1);

    // Hidden accounts cannot log in even from their own machine.
    Login hiddenAccount;
    save(keyIsSavePasswd(), QStringLiteral("0"));
    save(keyPasswd(), QString());
    adapters({QStringLiteral("a4:5e:60:01:02:ff")});
    hiddenAccount.Form_Load();
    hiddenAccount.visible = true;
    hiddenAccount.Form_Activate();
    EXPECT_EQ(hiddenAccount.txtUserName, QStringLiteral("ghost"));
    hiddenAccount.txtPassword_Change(QStringLiteral("secret"));
    hiddenAccount.cmdOK_Click();
    EXPECT_FALSE(hiddenAccount.LoginSucceeded);
}

TEST_F(LoginTest, SavedPasswordLogsInAtOnceAndUncheckingForgetsIt)
{
    // Values set while loading store nothing.
    login.chkpwdSave_Click(true);
    EXPECT_EQ(saved(keyIsSavePasswd()), QStringLiteral("<none>"));
    login.chkpwdSave = false;

    save(keyIsSavePasswd(), QStringLiteral("1"));
    save(keyPasswd(), QStringLiteral("secret"));
    open();
    EXPECT_TRUE(login.chkpwdSave);
    EXPECT_TRUE(login.LoginSucceeded) << "a saved password logs in without a click";
    EXPECT_FALSE(login.visible);
    EXPECT_TRUE(ui.messages.isEmpty());

    // A saved password that is now wrong says so as soon as the dialog is up.
    root(QStringLiteral("UPDATE tv_inhouse.user SET password2 = SHA1('changed') WHERE id = 'kim'"));
    Login stale;
    stale.Form_Load();
    stale.visible = true;
    stale.Form_Activate();
    EXPECT_FALSE(stale.LoginSucceeded);
    EXPECT_TRUE(stale.visible);
    EXPECT_EQ(ui.tells(), QStringList{kWrong});

    // Typing a new password saves it when the box is left, only if changed.
    stale.txtPassword_GotFocus();
    stale.txtPassword_LostFocus();
    EXPECT_EQ(saved(keyPasswd()), QStringLiteral("secret"));
    stale.txtPassword_GotFocus();
    stale.txtPassword_Change(QStringLiteral("changed"));
    stale.txtPassword_LostFocus();
    EXPECT_EQ(saved(keyPasswd()), QStringLiteral("changed"));

    // Unchecking stores the empty text, so the next start asks again.
    stale.chkpwdSave_Click(false);
    EXPECT_EQ(saved(keyIsSavePasswd()), QStringLiteral("0"));
    EXPECT_EQ(saved(keyPasswd()), QString());
    stale.txtPassword_GotFocus();
    stale.txtPassword_Change(QStringLiteral("other"));
    stale.txtPassword_LostFocus();
    EXPECT_EQ(saved(keyPasswd()), QString()) << "not saved while the box is clear";

    Login fresh;
    fresh.Form_Load();
    fresh.visible = true;
    fresh.Form_Activate();
    EXPECT_FALSE(fresh.chkpwdSave);
    EXPECT_TRUE(fresh.txtPassword.isEmpty());
    EXPECT_TRUE(fresh.visible);
    EXPECT_EQ(ui.tells().size(), 1);
}

TEST_F(LoginTest, FailedCheckShowsTheErrorWithoutThePassword)
{
    open();
    root(QStringLiteral("RENAME TABLE tv_inhouse.user TO tv_inhouse.user_away"));
    tryPassword(QStringLiteral("p4ss-한글"));
    root(QStringLiteral("RENAME TABLE tv_inhouse.user_away TO tv_inhouse.user"));

    ASSERT_EQ(ui.tells().size(), 1) << s(ui.tells().join(u'|'));
    const QString shown = ui.tells()[0];
    EXPECT_TRUE(shown.startsWith(QStringLiteral("Error 1146 ("))) << s(shown);
    EXPECT_TRUE(shown.endsWith(QStringLiteral(") in procedure query of Module cMySQL"))) << s(shown);
    EXPECT_FALSE(shown.contains(QStringLiteral("p4ss"))) << s(shown);
    EXPECT_FALSE(login.LoginSucceeded);
    EXPECT_TRUE(login.visible);
    EXPECT_EQ(selects, 1);

    tryPassword(QStringLiteral("secret"));
    EXPECT_TRUE(login.LoginSucceeded);
}

} // namespace
