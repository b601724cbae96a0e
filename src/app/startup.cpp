#include "app/startup.h"

#include "app/login.h"
#include "app/serveraddress.h"
#include "platform/apphome.h"
#include "platform/interaction.h"
#include "platform/serveraddresses.h"
#include "platform/sitecfg.h"

namespace rh {

StartUp::StartUp()
{
    m_updater.log = [this](const QString& line) { note(line); };
}

void StartUp::note(const QString& line) const
{
    if (log)
        log(line);
}

void StartUp::resolveServerAddresses()
{
    resetServerAddresses();
    setServerAddressCheckerTimeouts(checkerConnectTimeoutSec, checkerTotalTimeoutSec);
    // Neither result is looked at: a failed check leaves the cache file, and a
    // missing one leaves nothing loaded, so the defaults stay.
    CheckServerAddress(QString());
    LoadServerAddress();
    const QString web = GetServerHost(autoUpdateLauncherName());
    const QString db = GetServerHost(messengerDbServerName());
    setServerAddresses(db, web);
    note(QStringLiteral("servers: DBServerAddress %1%2, WebServerAddress %3%4")
             .arg(DBServerAddress(), db.isEmpty() ? QStringLiteral(" (default)") : QString(),
                  WebServerAddress(), web.isEmpty() ? QStringLiteral(" (default)") : QString()));
}

StartUp::Outcome StartUp::Main()
{
    // Nothing has happened before this point; above all no server was asked.
    QString lockError;
    if (!m_lock.tryAcquire(programFolder(), &lockError)) {
        if (lockError.isEmpty()) {
            interaction().tell(QStringLiteral("이미 프로그램이 실행중입니다."), appTitle(), MsgIcon::Information);
            return Outcome::AlreadyRunning;
        }
        // No lock file at all (no writable runtime folder) must not keep
        // every start out.
        note(QStringLiteral("instance lock unavailable, started without it: ") + lockError);
    }

    resolveServerAddresses();

    switch (m_updater.RunAutoUpdate(false)) {
    case AutoUpdater::Result::HandedOver:
        return Outcome::HandedOver;
    case AutoUpdater::Result::End:
        return Outcome::UpdateEnded;
    case AutoUpdater::Result::Continue:
        break;
    }

    bool refused = false;
    bool succeeded = false;
    bool unreachable = false;
    {
        Login login;
        login.endProgram = [&refused] { refused = true; };
        if (showLogin)
            showLogin(login);
        succeeded = login.LoginSucceeded && !refused;
        unreachable = login.databaseUnreachable;
        if (succeeded)
            note(QStringLiteral("login: %1 on %2").arg(login.txtUserName, DBServerAddress()));
    } // unloads the dialog's session
    if (unreachable)
        return Outcome::DatabaseUnreachable;
    if (refused)
        return Outcome::NotAllowed;
    return succeeded ? Outcome::Proceed : Outcome::NoLogin;
}

} // namespace rh
