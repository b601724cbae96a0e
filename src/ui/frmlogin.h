#pragma once
// frmLogin: the login dialog. It owns no behaviour: widget events call the
// Login object's handlers and the widgets are drawn from it. The dialog
// closes (exec returns) when the Login object hides itself.
#include <QDialog>

#include <array>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace rh {

class Login;

class frmLogin final : public QDialog {
    Q_OBJECT
public:
    // Runs login.Form_Load; the first show runs Form_Activate once the dialog
    // is on screen.
    explicit frmLogin(Login& login, QWidget* parent = nullptr);
    ~frmLogin() override;

    Login& login() { return m_login; }
    void refreshFromLogin();

public Q_SLOTS:
    void reject() override; // Esc and the window's close box cancel

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onHideRequested();

    Login& m_login;
    bool m_closing = false;

    std::array<QLabel*, 2> lblLabels{};
    QLineEdit* txtUserName = nullptr;
    QLineEdit* txtPassword = nullptr;
    QCheckBox* chkpwdSave = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdCancel = nullptr;
};

} // namespace rh
