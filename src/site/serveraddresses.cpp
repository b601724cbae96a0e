#include "site/serveraddresses.h"

#include "site/sitecfg.h"

namespace rh {
namespace {

struct Resolved {
    QString db;
    QString web;
};

Resolved& resolved()
{
    static Resolved r;
    return r;
}

} // namespace

QString DBServerAddress()
{
    const QString& h = resolved().db;
    return h.isEmpty() ? site().dbServerAddress : h;
}

QString WebServerAddress()
{
    const QString& h = resolved().web;
    return h.isEmpty() ? site().webServerAddress : h;
}

void setServerAddresses(const QString& dbHost, const QString& webHost)
{
    resolved() = {dbHost, webHost};
}

void resetServerAddresses()
{
    resolved() = {};
}

} // namespace rh
