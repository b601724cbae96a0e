#pragma once
// Start-up (Main): the one sequence both front ends go through before the
// window or the headless run. Strictly in order: single instance; the two
// server addresses (site defaults, the checker, its cache file, the hosts of
// "자동업데이트_런처" and "사내메신저DB서버"), fixed for the run; the update
// launcher, which may hand over to the file changer; the login. The front
// end supplies how the login dialog is shown and where start-up lines go.
#include "app/autoupdate.h"
#include "site/instancelock.h"

#include <QString>

#include <functional>

namespace rh {

class Login;

class StartUp {
public:
    enum class Outcome {
        Proceed,        // logged in: open the window or run
        AlreadyRunning, // "이미 프로그램이 실행중입니다." was shown
        HandedOver,     // the file changer replaces the program
        UpdateEnded,    // the file changer is missing: the update launcher ended the program
        NotAllowed,     // the machine is not on the allow-list
        NoLogin,        // login cancelled or refused
        DatabaseUnreachable, // the login could not reach the in-house database
    };

    StartUp();

    // Shows the dialog over `login` modally (Form_Load, Form_Activate, the
    // user) and returns once it has hidden itself.
    std::function<void(Login& login)> showLogin;
    // Start-up lines (addresses, update); quiet when empty.
    std::function<void(const QString&)> log;

    // Connect and total timeouts of the server-address checker, seconds.
    int checkerConnectTimeoutSec = 3;
    int checkerTotalTimeoutSec = 3;

    Outcome Main();

    AutoUpdater& updater() { return m_updater; }
    const InstanceLock& lock() const { return m_lock; }

private:
    void note(const QString& line) const;
    void resolveServerAddresses();

    InstanceLock m_lock;
    AutoUpdater m_updater;
};

} // namespace rh
