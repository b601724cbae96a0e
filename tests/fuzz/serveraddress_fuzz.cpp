// The server-address checker's reply and its cache file over arbitrary bytes.
// The first byte picks which:
// - a reply (after HTTP 200): when it replaces the cache file, the file loads
//   back as exactly the reply's "data";
// - the cache file: it loads as an object or a list or not at all, and what
//   loads looks up hosts without fault.
#include "app/serveraddress.h"
#include "site/apphome.h"
#include "util/json.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static QTemporaryDir dir; // removed when the process ends
    const QString home = dir.path();
    QDir().mkpath(home);
    rh::setProgramFolder(home);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const QString cache = rh::serverAddressFilePath();
    QFile::remove(cache);
    rh::ClearServerAddressData();

    if ((data[0] & 1) == 0) {
        const bool taken = rh::TakeServerAddressReply(bytes);
        if (!QFile::exists(cache))
            return 0;
        if (!taken)
            std::abort(); // a reply that was not JSON wrote the file
        QByteArray body = bytes;
        if (body.startsWith("\xEF\xBB\xBF"))
            body.remove(0, 3);
        const rh::JsonValue reply = rh::JsonParse(QString::fromUtf8(body));
        rh::LoadServerAddress();
        if (!(rh::ServerAddressData() == reply[QStringLiteral("data")]))
            std::abort();
    } else {
        QFile f(cache);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            std::abort();
        f.close();
        rh::LoadServerAddress();
    }

    const rh::JsonValue& loaded = rh::ServerAddressData();
    if (!loaded.isEmpty() && !loaded.isMap() && !loaded.isList())
        std::abort();
    for (const rh::JsonValue& entry : loaded[QStringLiteral("servers")].toList())
        (void)rh::GetServerHost(entry[QStringLiteral("name")].toText());
    (void)rh::GetServerHost(rh::messengerDbServerName());
    (void)rh::GetServerHost(rh::autoUpdateLauncherName());
    return 0;
}
