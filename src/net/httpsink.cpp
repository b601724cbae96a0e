#include "net/httpsink.h"

#include <QSaveFile>

namespace rh {

size_t HttpSink::take(const char* data, size_t n)
{
    if (!memory) {
        if (limit > 0 && received + qint64(n) > limit) {
            error = QStringLiteral("reply larger than %1 bytes").arg(limit);
            return 0;
        }
        received += qint64(n);
        if (file->write(data, qint64(n)) != qint64(n)) {
            error = QStringLiteral("writing %1 failed: %2").arg(file->fileName(), file->errorString());
            return 0;
        }
        return n;
    }
    qint64 keep = qint64(n);
    const bool enough = firstBytes > 0 && received + keep >= firstBytes;
    if (enough)
        keep = firstBytes - received;
    // The limit is on what is kept: a version text cut at its first bytes
    // never fails for the size of the rest.
    if (limit > 0 && received + keep > limit) {
        error = QStringLiteral("reply larger than %1 bytes").arg(limit);
        return 0; // makes curl fail with CURLE_WRITE_ERROR
    }
    memory->append(data, qsizetype(keep));
    received += keep;
    if (enough) {
        cutShort = true;
        return 0; // enough: ends the transfer, not an error
    }
    return n;
}

} // namespace rh
