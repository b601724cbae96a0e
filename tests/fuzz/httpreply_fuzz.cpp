// The web server's replies over arbitrary bytes. The first byte picks what:
// - a version file read through OpenUrlText: at most 20 characters, the bytes
//   again when they are valid in the code page, and a latest revision that
//   writes out and reads back as the same number;
// - a "<file>.minisig" body: checked against a key nobody holds, it is never
//   a good signature, whatever it says;
// - (bit 2) a body handed to the GET's sink in pieces cut as the input says:
//   whether it fails, and what a success keeps, is what one whole piece
//   gives; the kept bytes are the body's first bytes and within the limit.
#include "app/autoupdate.h"
#include "config/vbtext.h"
#include "net/minisign.h"
#include "net/httpsink.h"
#include "platform/codepage.h"

#include <QTemporaryFile>

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

void signatureFile(const QByteArray& body)
{
    static const QString file = [] {
        static QTemporaryFile f;
        f.open();
        f.write("published file");
        f.flush();
        return f.fileName();
    }();
    // The key id the body names, so the check goes on to the signatures.
    rh::MinisignKey key{QByteArray::fromBase64(body.split('\n').value(1)).mid(2, 8), QByteArray(32, '\x5a')};
    if (rh::verifyMinisign(file, body, {key}, QStringLiteral("f")).ok)
        std::abort();
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
        signatureFile(body);
    return 0;
}
