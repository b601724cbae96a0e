#include "pipeline/databases.h"

#include "site/serveraddresses.h"
#include "site/sitecfg.h"

namespace rh {
namespace {
constexpr qint32 kClientFoundRows = 2; // matched rows count as changed: an unchanged name is no failure
}

DatabaseEndpoint DatabaseDoor::endpoint(DatabaseKind kind)
{
    const SiteConfig& cfg = site();
    DatabaseEndpoint e;
    if (kind == DatabaseKind::InHouse) {
        e = {DBServerAddress(), cfg.dbPort, cfg.dbSocket, cfg.dbUser, cfg.dbPassword, cfg.dbName, 0};
    } else {
        e = {WebServerAddress(), cfg.webDbPort,  cfg.webDbSocket, cfg.webDbUser,
             cfg.webDbPassword,  cfg.webDbName, kClientFoundRows};
    }
    return e;
}

bool DatabaseDoor::connect(cMySQL& db, DatabaseKind kind, bool quiet)
{
    const DatabaseEndpoint e = endpoint(kind);
    return db.real_connect(e.host, e.user, e.password, e.name, e.port, e.socket, e.clientFlags, quiet, QString());
}

std::unique_ptr<cMySQL> DatabaseDoor::open(DatabaseKind kind, bool quiet, QString* error)
{
    auto db = std::make_unique<cMySQL>();
    if (connect(*db, kind, quiet))
        return db;
    if (error)
        *error = QStringLiteral("Error ") + QString::number(db->err_no()) + QLatin1Char(' ') + db->err_description();
    return nullptr;
}

} // namespace rh
