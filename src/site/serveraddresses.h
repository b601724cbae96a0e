#pragma once
// DBServerAddress (in-house MySQL host) and WebServerAddress (update downloads
// and the web-host database): the one place that holds them. They start as the
// site configuration's defaults; start-up replaces them from the server list
// before anything connects and they stay fixed for the run. Everything that
// connects reads them here, never the site defaults directly.
#include <QString>

namespace rh {

QString DBServerAddress();
QString WebServerAddress();

// Start-up's result. An empty text keeps the site default.
void setServerAddresses(const QString& dbHost, const QString& webHost);
// Back to the site defaults (a fresh start, for tests).
void resetServerAddresses();

} // namespace rh
