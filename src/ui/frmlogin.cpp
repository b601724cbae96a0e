#include "ui/frmlogin.h"

#include "app/login.h"

#include <QCheckBox>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

namespace rh {
namespace {

// Focus that moves to another window (a message box, another program) is not
// the user leaving the box.
bool isWindowSwitch(Qt::FocusReason reason)
{
    return reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason;
}

} // namespace

frmLogin::frmLogin(Login& login, QWidget* parent) : QDialog(parent), m_login(login)
{
    setObjectName(QStringLiteral("frmLogin"));
    setWindowTitle(QStringLiteral("로그인"));
    setModal(true);

    lblLabels[0] = new QLabel(QStringLiteral("아이디(&U):"));
    lblLabels[1] = new QLabel(QStringLiteral("암호(&P):"));
    lblLabels[0]->setObjectName(QStringLiteral("lblLabels_0"));
    lblLabels[1]->setObjectName(QStringLiteral("lblLabels_1"));
    txtUserName = new QLineEdit;
    txtUserName->setObjectName(QStringLiteral("txtUserName"));
    txtPassword = new QLineEdit;
    txtPassword->setObjectName(QStringLiteral("txtPassword"));
    txtPassword->setEchoMode(QLineEdit::Password);
    txtPassword->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
    lblLabels[0]->setBuddy(txtUserName);
    lblLabels[1]->setBuddy(txtPassword);
    chkpwdSave = new QCheckBox(QStringLiteral("저장"));
    chkpwdSave->setObjectName(QStringLiteral("chkpwdSave"));
    cmdOK = new QPushButton(QStringLiteral("확인"));
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("취소"));
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));

    auto* fields = new QGridLayout;
    fields->addWidget(lblLabels[0], 0, 0);
    fields->addWidget(txtUserName, 0, 1);
    fields->addWidget(lblLabels[1], 1, 0);
    fields->addWidget(txtPassword, 1, 1);
    fields->addWidget(chkpwdSave, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    auto* top = new QVBoxLayout(this);
    top->addLayout(fields);
    top->addLayout(buttons);
    setMinimumWidth(320);

    connect(txtUserName, &QLineEdit::textEdited, this,
            [this](const QString& t) { m_login.txtUserName_Change(t); });
    connect(txtPassword, &QLineEdit::textEdited, this,
            [this](const QString& t) { m_login.txtPassword_Change(t); });
    txtPassword->installEventFilter(this);
    connect(chkpwdSave, &QCheckBox::clicked, this,
            [this](bool checked) { m_login.chkpwdSave_Click(checked); });
    connect(cmdOK, &QPushButton::clicked, this, [this] { m_login.cmdOK_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { m_login.cmdCancel_Click(); });

    connect(&m_login, &Login::changed, this, &frmLogin::refreshFromLogin);
    connect(&m_login, &Login::hideRequested, this, &frmLogin::onHideRequested);
    connect(&m_login, &Login::selectPassword, this, [this] {
        txtPassword->setFocus(Qt::OtherFocusReason);
        txtPassword->selectAll();
    });

    m_login.Form_Load();
    refreshFromLogin();
}

frmLogin::~frmLogin()
{
    m_login.visible = false;
    m_login.Form_Unload();
}

void frmLogin::refreshFromLogin()
{
    const QSignalBlocker b1(txtUserName);
    const QSignalBlocker b2(txtPassword);
    const QSignalBlocker b3(chkpwdSave);
    if (txtUserName->text() != m_login.txtUserName)
        txtUserName->setText(m_login.txtUserName);
    txtUserName->setEnabled(m_login.userNameEnabled);
    if (txtPassword->text() != m_login.txtPassword)
        txtPassword->setText(m_login.txtPassword);
    chkpwdSave->setChecked(m_login.chkpwdSave);
}

void frmLogin::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    m_login.visible = true;
    m_closing = false;
    // Activation work (database, message boxes) starts once the dialog is up.
    QTimer::singleShot(0, this, [this] {
        if (isVisible())
            m_login.Form_Activate();
    });
}

void frmLogin::hideEvent(QHideEvent* event)
{
    m_login.visible = false;
    QDialog::hideEvent(event);
}

bool frmLogin::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == txtPassword) {
        if (event->type() == QEvent::FocusIn
            && !isWindowSwitch(static_cast<QFocusEvent*>(event)->reason()))
            m_login.txtPassword_GotFocus();
        else if (event->type() == QEvent::FocusOut
                 && !isWindowSwitch(static_cast<QFocusEvent*>(event)->reason()))
            m_login.txtPassword_LostFocus();
    }
    return QDialog::eventFilter(watched, event);
}

void frmLogin::reject()
{
    if (m_closing)
        return;
    m_login.cmdCancel_Click();
}

void frmLogin::onHideRequested()
{
    m_closing = true;
    done(m_login.LoginSucceeded ? QDialog::Accepted : QDialog::Rejected);
}

} // namespace rh
