#include "app/startup.h"

#include "app/login.h"
#include "app/serveraddress.h"
#include "site/apphome.h"
#include "platform/interaction.h"
#include "site/serveraddresses.h"
#include "site/sitecfg.h"

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
    setServerAddressLog([this](const QString& line) { note(line); });
    CheckServerAddress(QString());
    setServerAddressLog({});
    LoadServerAddress();
    // A cached host the site no longer allows is not used.
    const auto allowed = [this](const QString& name) {
        const QString host = GetServerHost(name);
        if (host.isEmpty() || ServerHostAllowed(host))
            return host;
        note(QStringLiteral("servers: %1 of %2 is not allowed by site.ini ([Servers] AllowedHosts); the default stays")
                 .arg(host, name));
        return QString();
    };
    const QString web = allowed(autoUpdateLauncherName());
    const QString db = allowed(messengerDbServerName());
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

    Outcome outcome = Outcome::NoLogin;
    {
        Login login;
        if (showLogin)
            showLogin(login);
        if (login.databaseUnreachable)
            outcome = Outcome::DatabaseUnreachable;
        else if (login.ended)
            outcome = Outcome::NotAllowed;
        else if (login.LoginSucceeded)
            outcome = Outcome::Proceed;
        if (outcome == Outcome::Proceed)
            note(QStringLiteral("login: %1 on %2").arg(login.txtUserName, DBServerAddress()));
    } // unloads the dialog's session
    return outcome;
}

} // namespace rh
