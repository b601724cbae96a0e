#include "app/serveraddress.h"

#include "net/http.h"
#include "site/apphome.h"
#include "platform/interaction.h"
#include "platform/profile.h"
#include "site/sitecfg.h"
#include "util/json.h"

#include <QFile>
#include <QFileInfo>

namespace rh {

namespace {

const QByteArray kUtf8Bom("\xEF\xBB\xBF");

struct State {
    JsonValue data;
    HttpOptions http{10, 30, kServerAddressReplyMaxBytes};
    std::function<void(const QString&)> log;
};

State& state()
{
    static State s;
    return s;
}

// The text as a cache object: the parsed map or list, or the empty value when
// the text is not one or carries parse errors. A half-read file must not hand
// out the hosts or the version it happened to keep.
JsonValue parseIntact(const QString& text)
{
    QString errors;
    JsonValue v = JsonParse(text, &errors);
    if (!errors.isEmpty() || !(v.isMap() || v.isList()))
        return JsonValue();
    return v;
}

QString normalHost(const QString& host)
{
    QString h = host.trimmed().toLower();
    if (h.endsWith(QLatin1Char('.')))
        h.chop(1);
    return h;
}

} // namespace

bool ServerHostAllowed(const QString& host)
{
    const QString h = normalHost(host);
    if (h.isEmpty())
        return false;
    for (const QString& own : {site().dbServerAddress, site().webServerAddress, site().checkerHost}) {
        if (normalHost(own) == h)
            return true;
    }
    for (const QString& entry : site().allowedHosts) {
        const QString pattern = normalHost(entry);
        if (pattern.startsWith(QLatin1String("*."))) {
            if (h.size() > pattern.size() - 1 && h.endsWith(pattern.mid(1)))
                return true;
        } else if (!pattern.isEmpty() && pattern == h) {
            return true;
        }
    }
    return false;
}

void setServerAddressLog(std::function<void(const QString&)> log)
{
    state().log = std::move(log);
}

namespace {

void note(const QString& line)
{
    if (state().log)
        state().log(line);
}

} // namespace

QString messengerDbServerName()
{
    return QStringLiteral("사내메신저DB서버");
}

QString autoUpdateLauncherName()
{
    return QStringLiteral("자동업데이트_런처");
}

QString serverAddressFilePath()
{
    return programFolder() + QLatin1Char('/') + QLatin1String(kServerAddressFileName);
}

QString ServerAddressCheckerUrl(const QString& version, const QString& userName)
{
    QList<QPair<QString, QString>> query;
    if (!version.isEmpty())
        query.append({QStringLiteral("ver"), version});
    if (!userName.isEmpty())
        query.append({QStringLiteral("user"), userName});
    return appendQuery(httpBaseUrl(site().checkerHost, site().checkerPort, site().https)
                           + QLatin1String(kServerAddressCheckerPath),
                       query);
}

bool CheckServerAddress(const QString& userName)
{
    const QString path = serverAddressFilePath();

    // A file that holds no intact object counts as missing: the checker is
    // asked without a version and its reply can repair the file.
    QString version;
    if (FileExists(path)) {
        bool readOk = false;
        const QString text = ReadTextFileUtf8(path, &readOk);
        if (!readOk)
            return false; // unreadable: the message is shown, nothing is asked
        version = parseIntact(text)[QStringLiteral("ver")].toText();
    }

    const HttpResult reply = httpGet(ServerAddressCheckerUrl(version, userName), state().http);
    if (!reply.answered() || reply.status != 200)
        return false;
    return TakeServerAddressReply(reply.body);
}

bool TakeServerAddressReply(const QByteArray& replyBody)
{
    const QString path = serverAddressFilePath();
    QByteArray body = replyBody;
    if (body.startsWith(kUtf8Bom))
        body.remove(0, kUtf8Bom.size());
    const JsonValue answer = parseIntact(QString::fromUtf8(body));
    if (answer.isEmpty())
        return false; // not JSON, or cut short

    if (answer[QStringLiteral("success")].isTrue()) {
        // Only a server list replaces the last good one; a success without an
        // object in "data" would otherwise leave an empty file behind.
        const JsonValue& data = answer[QStringLiteral("data")];
        bool allowed = true;
        for (const JsonValue& entry : data[QStringLiteral("servers")].toList()) {
            if (!entry.isMap())
                continue;
            const QString name = entry[QStringLiteral("name")].toText();
            const QString host = entry[QStringLiteral("host")].toText();
            if ((name == messengerDbServerName() || name == autoUpdateLauncherName()) && !host.isEmpty()
                && !ServerHostAllowed(host)) {
                note(QStringLiteral("servers: the checker names %1 for %2, which site.ini does not allow "
                                    "([Servers] AllowedHosts); its reply is ignored")
                         .arg(host, name));
                allowed = false;
            }
        }
        if (data.isMap() && allowed) {
            const QString text = JsonToString(data);
            // The writer leaves member names as they are; a name it cannot
            // write back faithfully would corrupt the file.
            if (JsonParse(text) == data)
                WriteTextFileUtf8(path, text);
        }
    }
    return true;
}

void LoadServerAddress()
{
    const QString path = serverAddressFilePath();
    if (!FileExists(path))
        return;
    bool readOk = false;
    const QString text = ReadTextFileUtf8(path, &readOk);
    state().data = readOk ? parseIntact(text) : JsonValue();
}

QString GetServerHost(const QString& name)
{
    const JsonValue& data = state().data;
    // An entry without a name is not the server "".
    if (data.isEmpty() || name.isEmpty())
        return QString();
    for (const JsonValue& entry : data[QStringLiteral("servers")].toList()) {
        if (entry.isMap() && entry[QStringLiteral("name")].toText() == name)
            return entry[QStringLiteral("host")].toText();
    }
    return QString();
}

const JsonValue& ServerAddressData()
{
    return state().data;
}

void ClearServerAddressData()
{
    state().data = JsonValue();
}

void setServerAddressCheckerTimeouts(int connectSec, int totalSec)
{
    state().http.connectTimeoutSec = connectSec;
    state().http.timeoutSec = totalSec;
}

bool FileExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.exists() && info.isFile();
}

QString ReadTextFileUtf8(const QString& path, bool* ok)
{
    if (ok)
        *ok = false;
    QFile f(path);
    QByteArray bytes;
    QString error;
    if (!f.open(QIODevice::ReadOnly)) {
        error = f.errorString();
    } else {
        bytes = f.readAll();
        if (f.error() != QFileDevice::NoError)
            error = f.errorString();
    }
    if (!error.isEmpty()) {
        tell(QStringLiteral("파일 읽기 중 오류 발생: ") + error);
        return QString();
    }
    if (bytes.startsWith(kUtf8Bom))
        bytes.remove(0, kUtf8Bom.size());
    if (ok)
        *ok = true;
    return QString::fromUtf8(bytes);
}

bool WriteTextFileUtf8(const QString& path, const QString& text)
{
    QString error;
    if (writeFileAtomically(path, kUtf8Bom + text.toUtf8(), &error))
        return true;
    tell(QStringLiteral("파일 저장 중 오류 발생: ") + error);
    return false;
}

} // namespace rh
