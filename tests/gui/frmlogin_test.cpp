// The login dialog offscreen over a real login object and MariaDB: controls
// by name, typing and clicking reach the logic, the dialog ends as it says.
#include "app/login.h"
#include "mariadb_fixture.h"
#include "sandbox.h"
#include "testinteraction.h"
#include "ui/frmlogin.h"
#include "ui/guimain.h"

#include "platform/macaddress.h"
#include "platform/usersettings.h"

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

using namespace rh;
using rh::test::MariaDbEnvironment;
using rh::test::Sandbox;
using rh::test::TestInteraction;

namespace {

auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new MariaDbEnvironment);

template <typename W>
W* child(QWidget& parent, const char* name)
{
    W* w = parent.findChild<W*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

void type(QWidget* w, const QString& text)
{
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, text);
    QApplication::sendEvent(w, &press);
}

bool waitFor(const std::function<bool()>& done)
{
    QDeadlineTimer deadline(10000);
    while (!done() && !deadline.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

TEST(FrmLogin, ControlsTypingAndButtonsDriveTheLogin)
{
    auto* server = MariaDbEnvironment::server();
    ASSERT_NE(server, nullptr) << "the MariaDB server did not start";
    Sandbox box;
    box.site() = server->siteConfig(box.site());
    box.apply();
    ASSERT_TRUE(server->exec(QStringLiteral(
        "DELETE FROM tv_inhouse.user; DELETE FROM tv_inhouse.user_mac;"
        "INSERT INTO tv_inhouse.user (id, password2) VALUES ('kim', SHA1('secret'));"
        "INSERT INTO tv_inhouse.user_mac (user_id, mac_addr) VALUES ('kim', '001122AABBCC');")));
    setMacAddressSource([] { return QStringList{QStringLiteral("00:11:22:aa:bb:cc")}; });
    TestInteraction ui;

    {
        Login login;
        frmLogin dlg(login);
        EXPECT_EQ(dlg.windowTitle(), QStringLiteral("로그인"));
        const QStringList captions = {child<QLabel>(dlg, "lblLabels_0")->text(),
            child<QLabel>(dlg, "lblLabels_1")->text(), child<QCheckBox>(dlg, "chkpwdSave")->text(),
            child<QPushButton>(dlg, "cmdOK")->text(), child<QPushButton>(dlg, "cmdCancel")->text()};
        EXPECT_EQ(captions.join(u'|'), QStringLiteral("아이디(&U):|암호(&P):|저장|확인|취소"));
        auto* user = child<QLineEdit>(dlg, "txtUserName");
        auto* password = child<QLineEdit>(dlg, "txtPassword");
        EXPECT_EQ(password->echoMode(), QLineEdit::Password);

        dlg.open();
        ASSERT_TRUE(waitFor([&] { return user->text() == QLatin1String("kim"); }));
        EXPECT_FALSE(user->isEnabled());
        EXPECT_TRUE(dlg.isVisible());

        type(password, QStringLiteral("wrong"));
        EXPECT_EQ(login.txtPassword, QStringLiteral("wrong"));
        child<QPushButton>(dlg, "cmdOK")->click();
        EXPECT_EQ(ui.tells(), QStringList{QStringLiteral("암호가 잘못되었습니다.")});
        EXPECT_EQ(password->selectedText(), QStringLiteral("wrong"));
        EXPECT_TRUE(dlg.isVisible());

        child<QCheckBox>(dlg, "chkpwdSave")->click();
        EXPECT_EQ(GetSetting(loginSettingsApp(), loginSettingsSection(), keyIsSavePasswd()),
                  QStringLiteral("1"));
        EXPECT_EQ(GetSetting(loginSettingsApp(), loginSettingsSection(), keyPasswd()),
                  QStringLiteral("wrong"));

        type(password, QStringLiteral("secret")); // replaces the selection
        child<QPushButton>(dlg, "cmdOK")->click();
        EXPECT_TRUE(login.LoginSucceeded);
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
    }

    // Esc cancels without a login (the saved password is wrong now).
    Login login;
    frmLogin dlg(login);
    dlg.open();
    ASSERT_TRUE(waitFor([&] { return ui.tells().size() == 2; }));
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&dlg, &esc);
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_FALSE(dlg.isVisible() || login.LoginSucceeded);
    setMacAddressSource({});
}

} // namespace

// The window's start-up: frmLogin comes up modally after the update step,
// and cancelling it ends the program before FrmMain exists.
TEST(FrmLogin, WindowStartUpShowsTheLoginAndCancelEndsTheProgram)
{
    auto* server = MariaDbEnvironment::server();
    ASSERT_NE(server, nullptr) << "the MariaDB server did not start";
    Sandbox box;
    ASSERT_TRUE(server->exec(QStringLiteral(
        "DELETE FROM tv_inhouse.user; DELETE FROM tv_inhouse.user_mac;"
        "INSERT INTO tv_inhouse.user (id, password2) VALUES ('kim', SHA1('secret'));"
        "INSERT INTO tv_inhouse.user_mac (user_id, mac_addr) VALUES ('kim', '001122AABBCC');")));
    setMacAddressSource([] { return QStringList{QStringLiteral("00:11:22:aa:bb:cc")}; });
    QFile site(box.home() + QStringLiteral("/site.ini"));
    ASSERT_TRUE(site.open(QIODevice::WriteOnly));
    site.write(QStringLiteral("[Servers]\nDBServerAddress=127.0.0.1\nDBPort=%1\nCheckerHost=127.0.0.1\nCheckerPort=1\n"
                              "WebServerAddress=127.0.0.1\nWebHttpPort=1\n"
                              // A release key, so that the update step asks its folder.
                              "[Update]\nPublicKey=RWTBFPMAP4paIw2YLE1qNJ0KQulw9G3YAFYyG2tEGO9PGwabqkhl9Rz1\n")
                   .arg(server->port())
                   .toUtf8()
               + Sandbox::accountKeys());
    site.close();
    qputenv("ROLLHAVEN2_HOME", QFile::encodeName(box.home()));

    // Plays the user: acknowledges message boxes, cancels the login once it
    // has filled in the machine's account.
    QStringList boxes;
    bool sawLogin = false;
    bool sawMain = false;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            sawMain = sawMain || (w->isVisible() && w->inherits("rh::FrmMain"));
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxes << box->text();
            box->accept();
        } else if (auto* dlg = qobject_cast<frmLogin*>(QApplication::activeModalWidget())) {
            if (dlg->findChild<QLineEdit*>(QStringLiteral("txtUserName"))->text() == QLatin1String("kim")) {
                sawLogin = true;
                dlg->findChild<QPushButton*>(QStringLiteral("cmdCancel"))->click();
            }
        }
    });
    user.start(20);
    const int code = runWindowProgram(*qApp);
    user.stop();
    qunsetenv("ROLLHAVEN2_HOME");
    setMacAddressSource({});

    EXPECT_TRUE(sawLogin);
    EXPECT_EQ(code, 12);
    EXPECT_FALSE(sawMain);
    // The update folder is offline: its message came before the login.
    EXPECT_EQ(boxes, QStringList{QStringLiteral("AutoVersionCheckerV1.exe의 최신버전 정보를 읽어올 수 없습니다!")});
}
