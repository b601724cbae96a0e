#pragma once
// The one door to the databases. Every MySQL session of the program (login,
// allow-list, work diary, catalogue, end-of-run verification, kept records)
// is opened here, so each one reaches the host start-up resolved with the
// site's port, socket, account and connection flags. Nothing else builds a
// connection: a record kept for later must reach the server the run itself
// would have used, not the site default.
#include "db/cmysql.h"

#include <QString>

#include <memory>

namespace rh {

enum class DatabaseKind {
    InHouse, // work diary, login, allow-list (DBServerAddress)
    WebHost, // download catalogue (WebServerAddress)
};

struct DatabaseEndpoint {
    QString host;
    int port = 0;
    QString socket;
    QString user;
    QString password;
    QString name;
    qint32 clientFlags = 0;
};

class DatabaseDoor {
public:
    // Where a session of this kind goes: the resolved host, the rest from site.ini.
    static DatabaseEndpoint endpoint(DatabaseKind kind);
    // Connects `db` (character set and timeouts come from the site inside
    // cMySQL); false after the connect's message box, or silently when quiet.
    static bool connect(cMySQL& db, DatabaseKind kind, bool quiet);
    // A new connected session, or null (the failed one's error in *error).
    static std::unique_ptr<cMySQL> open(DatabaseKind kind, bool quiet, QString* error = nullptr);
};

} // namespace rh
