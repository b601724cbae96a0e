#pragma once
// Server addresses handed out by the server-address checker, a small web
// service: ask it at start-up, keep the "data" of its last good reply in
// server_address_setting.json beside the program (UTF-8), load that file and
// answer which host a named server has. The file lets the program start with
// the last known addresses when the checker cannot be reached.
//
// Everything runs on the user-interface thread; the request is synchronous.
#include "util/jsonvalue.h"

#include <QString>

#include <functional>

namespace rh {

inline constexpr char kServerAddressFileName[] = "server_address_setting.json";
inline constexpr char kServerAddressCheckerPath[] = "/serverinfo/server-address-checker.php";

// Server names the program asks for.
QString messengerDbServerName();   // "사내메신저DB서버": becomes DBServerAddress
QString autoUpdateLauncherName();  // "자동업데이트_런처": becomes WebServerAddress

// <program folder>/server_address_setting.json
QString serverAddressFilePath();

// The checker URL for the site's checker host and port: no query, "?ver=V",
// "?user=U" or "?ver=V&user=U" with the values URL-encoded; empty values are
// left out.
QString ServerAddressCheckerUrl(const QString& version, const QString& userName);

// True when the checker may hand out `host`: one of site.ini's own hosts
// (DBServerAddress, WebServerAddress, CheckerHost), or a name [Servers]
// AllowedHosts names exactly or by "*.domain" (any name below domain); letter
// case and a final "." do not count.
bool ServerHostAllowed(const QString& host);
// Where the checker's refused replies are reported; quiet when empty.
void setServerAddressLog(std::function<void(const QString&)> log);

// The checker's reply is capped: a larger one is a failed check.
inline constexpr qint64 kServerAddressReplyMaxBytes = 64 * 1024;

// Asks the checker and refreshes the cache file. True when the checker
// answered with HTTP status 200, whether or not its reply was a success; false
// on any network or reply error, and then the cache file is untouched. Only a
// reply whose "success" is true and whose "data" is an object replaces the file.
bool CheckServerAddress(const QString& userName);
// The part of CheckServerAddress after a 200 reply: false when the body is not
// an intact JSON object or list; a success with an object in "data" replaces
// the cache file, unless it names a host the site does not allow for one of
// the servers the program asks for (then the reply is logged and ignored).
bool TakeServerAddressReply(const QByteArray& body);

// Reads the cache file, if there is one, into ServerAddressData(). A file that
// is damaged (no JSON object or array, or parse errors) leaves nothing loaded.
void LoadServerAddress();

// "host" of the first entry of "servers" whose "name" equals `name` exactly
// (case and blanks count); the empty text when nothing is loaded, there is no
// "servers" list, no entry matches, or `name` is empty.
QString GetServerHost(const QString& name);

// The loaded cache file; the empty value when none was loaded.
const JsonValue& ServerAddressData();
// Drops what LoadServerAddress() loaded (a fresh start, for tests).
void ClearServerAddressData();

// Timeouts of the checker request in seconds (connect, whole request).
void setServerAddressCheckerTimeouts(int connectSec, int totalSec);

// True when `path` names an existing regular file; any error counts as false.
bool FileExists(const QString& path);
// The file's text decoded as UTF-8, a leading byte-order mark dropped. On a
// read error shows "파일 읽기 중 오류 발생: " + the reason and returns the
// empty text (*ok false).
QString ReadTextFileUtf8(const QString& path, bool* ok = nullptr);
// Writes the text as UTF-8 with a byte-order mark, replacing the file through
// a temporary file and a rename. On failure shows "파일 저장 중 오류 발생: " +
// the reason, leaves the old file as it was and returns false.
bool WriteTextFileUtf8(const QString& path, const QString& text);

} // namespace rh
