// The web server's replies over arbitrary bytes. The first byte picks what:
// - a version file read through OpenUrlText: at most 20 characters, the bytes
//   again when they are valid in the code page, and a latest revision that
//   writes out and reads back as the same number;
// - a "<file>.sha256" body: the digest taken from it holds no blank or
//   capital, and the line sha256sum writes for the body's own digest gives
//   that digest back;
// - (bit 2) a body handed to the GET's sink in pieces cut as the input says:
//   whether it fails, and what a success keeps, is what one whole piece
//   gives; the kept bytes are the body's first bytes and within the limit.
#include "app/autoupdate.h"
#include "config/vbtext.h"
#include "net/download.h"
#include "net/httpsink.h"
#include "platform/codepage.h"

#include <QCryptographicHash>

#include <algorithm>
#include <cstdint>
#include <cstdio>
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
    const long long latest = rh::vbRound(rh::vbVal(text));
    if (rh::vbRound(rh::vbVal(QString::number(latest))) != latest)
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
    // The line sha256sum writes for the body's own digest, under a name from
    // the input: text ("  ") or binary (" *") mode, a CR LF from a Windows
    // server, capitals from another tool; the digest is what comes back.
    const QByteArray hex = QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex();
    QByteArray name = body.left(40);
    for (char& c : name)
        if (c == '\n' || c == '\r' || c == '\\') // sha256sum would escape the line
            c = '_';
    const uint8_t how = body.isEmpty() ? 0 : uint8_t(body[0]);
    const QByteArray line = (how & 1 ? hex.toUpper() : hex) + (how & 2 ? " *" : "  ")
        + (name.isEmpty() ? QByteArray("rollhaven2") : name) + (how & 4 ? "\r\n" : "\n");
    if (rh::publishedSha256(line) != QString::fromLatin1(hex)) {
        std::fprintf(stderr, "httpreply_fuzz: the digest of \"%s\" reads as \"%s\"\n", line.trimmed().constData(),
                     qPrintable(rh::publishedSha256(line)));
        std::abort();
    }
}

struct Kept {
    QByteArray bytes;
    bool stopped = false;
    QString error;
};

Kept feed(const QByteArray& body, qint64 firstBytes, qint64 limit, const QByteArray& cuts)
{
    QByteArray memory;
    rh::HttpSink sink;
    sink.memory = &memory;
    sink.firstBytes = firstBytes;
    sink.limit = limit;
    Kept k;
    qsizetype at = 0;
    for (qsizetype i = 0; at < body.size(); ++i) {
        const qsizetype n = cuts.isEmpty() ? body.size() : qsizetype(uint8_t(cuts[i % cuts.size()]) % 32 + 1);
        const qsizetype piece = std::min(n, body.size() - at);
        if (sink.take(body.constData() + at, size_t(piece)) != size_t(piece)) {
            k.stopped = true;
            break;
        }
        at += piece;
    }
    // Stopped: cut short or failed, never both; went through: neither.
    if (k.stopped ? sink.cutShort == !sink.error.isEmpty() : sink.cutShort || !sink.error.isEmpty())
        std::abort();
    k.bytes = memory;
    k.error = sink.error;
    return k;
}

void sinkPieces(const QByteArray& input)
{
    if (input.size() < 3)
        return;
    const qint64 firstBytes = uint8_t(input[0]) % 41;
    const qint64 limit = uint8_t(input[1]) % 41;
    const qsizetype cutCount = uint8_t(input[2]) % 8;
    const QByteArray cuts = input.mid(3, cutCount);
    const QByteArray body = input.mid(3 + cutCount);
    const Kept pieces = feed(body, firstBytes, limit, cuts);
    const Kept whole = feed(body, firstBytes, limit, {});
    // A failed GET's body is thrown away, so only a success's bytes must agree.
    if (pieces.error != whole.error || (pieces.error.isEmpty() && pieces.bytes != whole.bytes))
        std::abort();
    const QByteArray wanted = firstBytes > 0 ? body.left(firstBytes) : body;
    if (limit > 0 && wanted.size() > limit) {
        if (pieces.error.isEmpty())
            std::abort();
    } else if (pieces.bytes != wanted || !pieces.error.isEmpty()) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray body(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    if (data[0] & 2)
        sinkPieces(body);
    else if ((data[0] & 1) == 0)
        versionFile(body);
    else
        digestFile(body);
    return 0;
}
