// The login and the machine allow-list against a real MariaDB server: which
// machines get in, the password check with hostile and Korean texts, the saved
// password and the automatic login.
#include "app/login.h"

#include "mariadb_fixture.h"
#include "sandbox.h"
#include "testinteraction.h"

#include "platform/codepage.h"
#include "platform/macaddress.h"
#include "site/sitecfg.h"
#include "platform/usersettings.h"

#include <gtest/gtest.h>

using namespace rh;
using rh::test::MariaDbEnvironment;

namespace {

auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new MariaDbEnvironment);

const QString kNotAllowed = QStringLiteral("허용되지 않은 컴퓨터입니다. 관리자에게 문의바랍니다.\r\nMAC: ");
const QString kWrong = QStringLiteral("암호가 잘못되었습니다.");
// Quotes, backslashes, Korean (a CP949 extension syllable too) and SQL.
const QString kHard = QStringLiteral("O'Re\\il'ly 한글똠 \\' -- \" OR 1=1");

class LoginTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server = MariaDbEnvironment::server();
        ASSERT_NE(server, nullptr) << "the MariaDB server did not start";
        box.site() = server->siteConfig(box.site());
        box.apply();
        root(QStringLiteral("DELETE FROM tv_inhouse.user; DELETE FROM tv_inhouse.user_mac;"));
        add(QStringLiteral("kim"), QStringLiteral("secret"), QStringLiteral("001122AABBCC"));
        adapters({QStringLiteral("00-11-22-aa-bb-cc")});
    }
    void TearDown() override { setMacAddressSource({}); }

    void root(const QString& sql)
    {
        QString err;
        EXPECT_TRUE(server->exec(sql, nullptr, &err)) << err.toStdString();
    }
    // Texts as hex literals: exact UTF-8, whatever the command-line client quotes.
    static QString lit(const QString& t)
    {
        return QStringLiteral("CONVERT(X'%1' USING utf8mb4)").arg(QLatin1String(t.toUtf8().toHex()));
    }
    void add(const QString& id, const QString& password, const QString& mac, int hidden = 0,
             int block = 0)
    {
        root(QStringLiteral("INSERT INTO tv_inhouse.user (id, password2, hidden) VALUES (%1, SHA1(%2), %3);"
                            "INSERT INTO tv_inhouse.user_mac (user_id, mac_addr, block) VALUES (%1, '%4', %5)")
                 .arg(lit(id), lit(password), QString::number(hidden), mac, QString::number(block)));
    }
    static void adapters(const QStringList& reported) { setMacAddressSource([reported] { return reported; }); }
    static QString saved(const QString& key)
    {
        return GetSetting(loginSettingsApp(), loginSettingsSection(), key, QStringLiteral("<none>"));
    }
    // Loads and shows a dialog as start-up does.
    std::unique_ptr<Login> open()
    {
        auto l = std::make_unique<Login>();
        l->Form_Load();
        l->visible = true;
        l->Form_Activate();
        return l;
    }
    static bool tryPassword(Login& l, const QString& password)
    {
        l.txtPassword_Change(password);
        l.cmdOK_Click();
        return l.LoginSucceeded;
    }

    rh::test::MariaDbServer* server = nullptr;
    rh::test::Sandbox box;
    rh::test::TestInteraction ui;
};

TEST_F(LoginTest, AllowedMachineLogsInAsItsAccountWithTheRightPasswordOnly)
{
    add(QStringLiteral("ghost"), QStringLiteral("secret"), QStringLiteral("A45E600102FF"), 1);
    auto l = open();
    EXPECT_EQ(l->txtUserName, QStringLiteral("kim"));
    EXPECT_FALSE(l->userNameEnabled);
    EXPECT_TRUE(l->visible) << "no saved password: the dialog waits";
    EXPECT_TRUE(ui.messages.isEmpty());

    int selects = 0;
    QObject::connect(l.get(), &Login::selectPassword, [&] { ++selects; });
    EXPECT_FALSE(tryPassword(*l, QStringLiteral("Secret")));
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_EQ(ui.messages[0].text, kWrong);
    EXPECT_EQ(ui.messages[0].title, QStringLiteral("로그인"));
    EXPECT_EQ(selects, 1);
    EXPECT_TRUE(l->visible);
    EXPECT_TRUE(tryPassword(*l, QStringLiteral("secret")));
    EXPECT_FALSE(l->visible);
    l->Form_Unload();
    EXPECT_EQ(l->session(), nullptr);

    // A hidden account cannot log in, even from its own machine.
    adapters({QStringLiteral("a4:5e:60:01:02:ff")});
    auto hidden = open();
    EXPECT_EQ(hidden->txtUserName, QStringLiteral("ghost"));
    EXPECT_FALSE(tryPassword(*hidden, QStringLiteral("secret")));
    EXPECT_FALSE(l->ended || hidden->ended);
}

TEST_F(LoginTest, UnlistedBlockedUnreadableOrUncheckableMachinesEndTheProgram)
{
    add(QStringLiteral("lee"), QStringLiteral("x"), QStringLiteral("0011223344FF"), 0, 1);
    add(QStringLiteral("park"), QStringLiteral("x"), QString()); // must not admit adapterless machines
    const QList<QPair<QStringList, QString>> cases = {
        {{QStringLiteral("aa:bb:cc:dd:ee:ff")}, QStringLiteral("AABBCCDDEEFF")},
        {{QStringLiteral("00:11:22:33:44:ff")}, QStringLiteral("0011223344FF")}, // blocked
        {{}, QString()},
        {{QStringLiteral("00:00:00:00:00:00")}, QString()},
    };
    for (const auto& [reported, shown] : cases) {
        SCOPED_TRACE(shown.toStdString());
        ui.messages.clear();
        adapters(reported);
        auto l = open();
        EXPECT_EQ(ui.tells(), QStringList{kNotAllowed + shown});
        EXPECT_TRUE(l->ended);
        EXPECT_FALSE(l->visible);
        EXPECT_FALSE(l->LoginSucceeded);
        EXPECT_EQ(l->session(), nullptr);
    }

    // A database that cannot be reached says so after the session's own
    // message; the machine is not called "not allowed".
    SiteConfig cfg = site();
    cfg.dbPort = 1;
    setSite(cfg);
    adapters({QStringLiteral("00:11:22:aa:bb:cc")});
    ui.messages.clear();
    auto down = open();
    const QStringList told = ui.tells();
    ASSERT_EQ(told.size(), 2) << told.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(told[0].startsWith(QStringLiteral("Error "))) << told[0].toStdString();
    EXPECT_EQ(told[1], QStringLiteral("데이터베이스에 접속할 수 없어 로그인할 수 없습니다."));
    EXPECT_TRUE(down->databaseUnreachable);
    EXPECT_FALSE(down->LoginSucceeded);
    EXPECT_FALSE(down->visible);
    EXPECT_FALSE(down->ended);
}

TEST_F(LoginTest, HostileAndKoreanTextsAreCheckedAndSavedExactly)
{
    add(QStringLiteral("o'neil\\x"), kHard, QStringLiteral("A45E60010203"));
    adapters({QStringLiteral("a4:5e:60:01:02:03")});
    auto l = open();
    EXPECT_EQ(l->txtUserName, QStringLiteral("o'neil\\x"));
    // Near misses and injection attempts fail; nothing breaks the statement.
    for (const QString& wrong :
         {QString(kHard).remove(QLatin1Char('\\')), kHard + QLatin1Char(' '),
          QStringLiteral("' OR '1'='1"), QStringLiteral("\\') OR 1=1 -- ")})
        EXPECT_FALSE(tryPassword(*l, wrong)) << wrong.toStdString();
    EXPECT_EQ(ui.tells(), QStringList(4, kWrong));

    // Ticking "저장" stores the text as typed; only the part before a NUL counts.
    const QString typed = kHard + QChar(0) + QStringLiteral("tail");
    l->txtPassword_Change(typed);
    l->chkpwdSave_Click(true);
    EXPECT_TRUE(tryPassword(*l, typed));
    EXPECT_EQ(saved(keyPasswd()), typed);
    auto next = open();
    EXPECT_EQ(next->txtPassword, typed);
    EXPECT_TRUE(next->LoginSucceeded) << "a saved password logs in without a click";
    EXPECT_FALSE(next->visible);
    EXPECT_EQ(ui.tells().size(), 4);
}

TEST_F(LoginTest, PasswordIsSavedOnlyWhileTicked)
{
    Login loading;
    loading.chkpwdSave_Click(true); // not visible yet: stores nothing
    EXPECT_EQ(saved(keyIsSavePasswd()), QStringLiteral("<none>"));
    SaveSetting(loginSettingsApp(), loginSettingsSection(), keyIsSavePasswd(), QStringLiteral("1"));
    SaveSetting(loginSettingsApp(), loginSettingsSection(), keyPasswd(), QStringLiteral("old"));
    auto l = open();
    EXPECT_EQ(ui.tells(), QStringList{kWrong}) << "a stale saved password is refused at once";
    for (const char* typed : {"", "new"}) { // leaving the box saves only a change
        l->txtPassword_GotFocus();
        if (*typed)
            l->txtPassword_Change(QString::fromLatin1(typed));
        l->txtPassword_LostFocus();
    }
    EXPECT_EQ(saved(keyPasswd()), QStringLiteral("new"));
    l->chkpwdSave_Click(false);
    l->txtPassword_Change(QStringLiteral("other"));
    l->txtPassword_LostFocus();
    EXPECT_EQ(saved(keyIsSavePasswd()) + saved(keyPasswd()), QStringLiteral("0"));
    EXPECT_TRUE(open()->visible) << "nothing saved: the next start asks";
}

TEST_F(LoginTest, FailedCheckShowsTheErrorWithoutThePassword)
{
    auto l = open();
    root(QStringLiteral("RENAME TABLE tv_inhouse.user TO tv_inhouse.user_away"));
    EXPECT_FALSE(tryPassword(*l, QStringLiteral("p4ss-한글")));
    root(QStringLiteral("RENAME TABLE tv_inhouse.user_away TO tv_inhouse.user"));
    ASSERT_EQ(ui.tells().size(), 1) << ui.tells().join(u'|').toStdString();
    const QString shown = ui.tells()[0];
    EXPECT_TRUE(shown.startsWith(QStringLiteral("Error 1146 ("))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QStringLiteral(") in procedure query of Module cMySQL")));
    EXPECT_FALSE(shown.contains(QStringLiteral("p4ss"))) << shown.toStdString();
    EXPECT_TRUE(l->visible);
    EXPECT_TRUE(tryPassword(*l, QStringLiteral("secret")));
}

// The password never leaves the program: the login compares its digest. And
// a code page whose trail byte is "\" (Shift-JIS, GBK) over the ansi-bytes
// connection cannot turn an escaped quote into a closing one.
TEST_F(LoginTest, NoPasswordReachesTheServerAndTrailBytesCannotBreakOut)
{
    const QString password = QStringLiteral("Pl41n-Secret-한글");
    root(QStringLiteral("UPDATE tv_inhouse.user SET password2 = SHA1(%1) WHERE id = 'kim'").arg(lit(password)));
    auto l = open();
    EXPECT_TRUE(tryPassword(*l, password));
    const QString log = server->generalLog();
    EXPECT_TRUE(log.contains(QStringLiteral("password2 = '")));
    EXPECT_FALSE(log.contains(QStringLiteral("Pl41n-Secret"))) << "the password reached the server";
    EXPECT_FALSE(log.contains(site().dbPassword));

    const struct {
        const char* codePage;
        QString user, password;
    } attacks[] = {
        {"CP932", QStringLiteral("ソ' OR 1=1 #"), QStringLiteral("x")},
        {"CP932", QStringLiteral("kim"), QStringLiteral("ソ') OR 1=1 #")},
        {"GBK", QStringLiteral("乗' OR 1=1 #"), QStringLiteral("x")},
    };
    for (const auto& a : attacks) {
        SCOPED_TRACE(a.codePage);
        box.site().dbCharSet = QStringLiteral("ansi-bytes");
        box.site().codePage = QLatin1String(a.codePage);
        box.apply();
        const QString lead = a.user == QLatin1String("kim") ? a.password : a.user;
        ASSERT_EQ(toAnsi(lead.left(1)).right(1), QByteArray("\\")) << "a trail byte 0x5C is the point";
        auto attacked = open();
        ASSERT_NE(attacked->session(), nullptr);
        attacked->txtUserName = a.user;
        EXPECT_FALSE(tryPassword(*attacked, a.password));
    }
}

} // namespace
