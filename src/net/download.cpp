#include "net/download.h"

#include "net/http.h"

#include <QCryptographicHash>
#include <QFile>

namespace rh {

QString fileSha256(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash h(QCryptographicHash::Sha256);
    if (!h.addData(&f))
        return QString();
    return QString::fromLatin1(h.result().toHex());
}

DownloadResult downloadBounded(const QString& url, const QString& path, qint64 maxBytes, int deadlineSec)
{
    HttpOptions o = HttpOptions::fromSite();
    o.timeoutSec = deadlineSec;
    o.maxBodyBytes = maxBytes;
    o.noCache = true;
    const HttpResult got = httpGetToFile(url, path, o);
    DownloadResult r;
    r.ok = got.ok();
    if (!r.ok)
        r.error = QStringLiteral("%1: %2").arg(url, got.describe());
    return r;
}

} // namespace rh
