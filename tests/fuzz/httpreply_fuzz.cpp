// The web server's small text replies over arbitrary bytes. The first byte
// picks which:
// - a version file read through OpenUrlText: at most 20 characters, the bytes
//   again when they are valid in the code page, and a latest revision that
//   writes out and reads back as the same number;
// - a "<file>.sha256" body: the digest taken from it holds no blank or capital
//   and reads back the same from the line sha256sum would write for it.
#include "app/autoupdate.h"
#include "net/download.h"
#include "platform/codepage.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

void versionFile(const QByteArray& body)
{
    const QString text = rh::urlTextOfBody(body);
    const QByteArray first = body.left(rh::kOpenUrlTextBytes);
    if (text.size() > first.size())
        std::abort();
    if (rh::isValidAnsi(first) && rh::toAnsi(text) != first)
        std::abort();
    const double latest = std::nearbyint(rh::leadingNumber(text));
    if (!std::isfinite(latest) || rh::leadingNumber(QString::number(latest, 'f', 0)) != latest)
        std::abort();
}

void digestFile(const QByteArray& body)
{
    const QString digest = rh::publishedSha256(body);
    if (digest != digest.toLower())
        std::abort();
    for (QChar c : digest)
        if (QStringView(u" \t\n\v\f\r").contains(c))
            std::abort();
    if (!digest.isEmpty() && rh::publishedSha256(digest.toLatin1() + "  file.exe\n") != digest)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray body(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    if ((data[0] & 1) == 0)
        versionFile(body);
    else
        digestFile(body);
    return 0;
}
