#pragma once
// Downloads of the update folder: bounded in size and in time (a deadline for
// the whole transfer besides the stall timeout), into a file that is replaced
// only when the transfer is complete.
#include <QString>

namespace rh {

struct DownloadResult {
    bool ok = false;
    QString error; // why not, for a log line; empty on success
};

// GET `url` into `path`: no more than `maxBytes` (0: no cap) and no longer than
// `deadlineSec` (0: none). On failure `path` is left as it was.
DownloadResult downloadBounded(const QString& url, const QString& path, qint64 maxBytes, int deadlineSec);

// Hex SHA-256 of a file's bytes; empty when it cannot be read.
QString fileSha256(const QString& path);

} // namespace rh
