#pragma once
// Downloads of the update folder: into a temporary file beside the target,
// checked against the folder's "<file>.sha256" when one is published (or
// required), and only then renamed over the target. A failed or rejected
// download leaves the target as it was.
#include <QByteArray>
#include <QString>

namespace rh {

struct DownloadResult {
    bool ok = false;
    QString error; // why not, for a log line; empty on success
    QString digest; // SHA-256 (hex) of what was kept
    bool digestChecked = false;
};

// `executable` gives the file mode 0755 (companions, new builds), else 0644.
DownloadResult downloadVerified(const QString& url, const QString& path, bool requireDigest,
                                bool executable);

// The digest a "<file>.sha256" body publishes, as sha256sum writes it (the
// digest first, a name after), in lower case; empty when there is none.
QString publishedSha256(const QByteArray& body);

// Hex SHA-256 of a file's bytes; empty when it cannot be read.
QString fileSha256(const QString& path);

} // namespace rh
