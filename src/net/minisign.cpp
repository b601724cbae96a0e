#include "net/minisign.h"

#include <QFile>
#include <QRegularExpression>

#include <sodium.h>

#include <algorithm>
#include <mutex>

namespace rh {
namespace {

constexpr int kIdBytes = 8;
constexpr int kPublicKeyBytes = 2 + kIdBytes + crypto_sign_PUBLICKEYBYTES;
constexpr int kSignatureBytes = 2 + kIdBytes + crypto_sign_BYTES;
const QByteArray kUntrusted("untrusted comment: ");
const QByteArray kTrusted("trusted comment: ");

bool sodiumReady()
{
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = sodium_init() >= 0; });
    return ready;
}

QByteArray fromBase64(const QByteArray& text)
{
    auto r = QByteArray::fromBase64Encoding(text.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    return r ? *r : QByteArray();
}

bool verifyDetached(const QByteArray& sig, const unsigned char* message, qint64 size, const QByteArray& key)
{
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(sig.constData()), message,
                                       static_cast<unsigned long long>(size),
                                       reinterpret_cast<const unsigned char*>(key.constData()))
        == 0;
}

// "Ed": the file itself; "ED": its BLAKE2b-512, read in pieces.
bool verifyFile(const QString& path, bool prehashed, const QByteArray& sig, const QByteArray& key, QString* error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
        return false;
    }
    if (!prehashed) {
        const qint64 size = f.size();
        const uchar* data = size > 0 ? f.map(0, size) : nullptr;
        static const unsigned char empty = 0;
        if (size > 0 && !data) {
            *error = QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
            return false;
        }
        return verifyDetached(sig, data ? data : &empty, size, key);
    }
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, crypto_generichash_BYTES_MAX);
    QByteArray piece(1 << 16, Qt::Uninitialized);
    for (;;) {
        const qint64 n = f.read(piece.data(), piece.size());
        if (n < 0) {
            *error = QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
            return false;
        }
        if (n == 0)
            break;
        crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(piece.constData()),
                                  static_cast<unsigned long long>(n));
    }
    unsigned char hash[crypto_generichash_BYTES_MAX];
    crypto_generichash_final(&state, hash, sizeof hash);
    return verifyDetached(sig, hash, sizeof hash, key);
}

} // namespace

QString MinisignKey::idText() const
{
    QByteArray reversed(id);
    std::reverse(reversed.begin(), reversed.end());
    // minisign prints the id as a plain hexadecimal number: no leading zeros.
    QString hex = QString::fromLatin1(reversed.toHex().toUpper());
    while (hex.size() > 1 && hex.startsWith(QLatin1Char('0')))
        hex.remove(0, 1);
    return hex;
}

bool parseMinisignKey(const QString& text, MinisignKey* key, QString* error)
{
    const QByteArray raw = fromBase64(text.toLatin1());
    if (raw.size() != kPublicKeyBytes || !raw.startsWith("Ed")) {
        *error = QStringLiteral("\"%1\" is no minisign public key").arg(text);
        return false;
    }
    key->id = raw.mid(2, kIdBytes);
    key->key = raw.mid(2 + kIdBytes);
    return true;
}

QList<MinisignKey> parseMinisignKeys(const QString& text, QStringList* errors)
{
    static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
    QList<MinisignKey> keys;
    for (const QString& part : text.split(separators, Qt::SkipEmptyParts)) {
        MinisignKey k;
        QString error;
        if (parseMinisignKey(part, &k, &error))
            keys.append(k);
        else if (errors)
            errors->append(error);
    }
    return keys;
}

MinisignCheck verifyMinisign(const QString& file, const QByteArray& signature, const QList<MinisignKey>& keys,
                             const QString& publishedName)
{
    MinisignCheck r;
    if (!sodiumReady()) {
        r.error = QStringLiteral("libsodium could not be initialised");
        return r;
    }
    QList<QByteArray> lines = signature.split('\n');
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty())
        lines.removeLast();
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    if (lines.size() != 4 || !lines[0].startsWith(kUntrusted) || !lines[2].startsWith(kTrusted)) {
        r.error = QStringLiteral("not a minisign signature file");
        return r;
    }
    const QByteArray sig = fromBase64(lines[1]);
    const QByteArray global = fromBase64(lines[3]);
    const QByteArray algorithm = sig.left(2);
    if (sig.size() != kSignatureBytes || global.size() != crypto_sign_BYTES
        || (algorithm != "Ed" && algorithm != "ED")) {
        r.error = QStringLiteral("not a minisign signature file");
        return r;
    }
    const QByteArray id = sig.mid(2, kIdBytes);
    const QByteArray fileSig = sig.mid(2 + kIdBytes);
    const MinisignKey* key = nullptr;
    for (const MinisignKey& k : keys) {
        if (k.id == id)
            key = &k;
    }
    if (!key) {
        MinisignKey unknown{id, {}};
        r.error = QStringLiteral("signed with key %1, which site.ini does not name").arg(unknown.idText());
        return r;
    }
    r.keyId = key->idText();
    if (!verifyFile(file, algorithm == "ED", fileSig, key->key, &r.error)) {
        if (r.error.isEmpty())
            r.error = QStringLiteral("the signature of key %1 does not match the file").arg(r.keyId);
        return r;
    }
    const QByteArray comment = lines[2].mid(kTrusted.size());
    const QByteArray signedComment = fileSig + comment;
    if (!verifyDetached(global, reinterpret_cast<const unsigned char*>(signedComment.constData()),
                        signedComment.size(), key->key)) {
        r.error = QStringLiteral("the trusted comment's signature does not match");
        return r;
    }
    r.trustedComment = QString::fromUtf8(comment);
    QString named;
    for (const QByteArray& field : comment.split('\t')) {
        if (field.startsWith("file:"))
            named = QString::fromUtf8(field.mid(5));
    }
    if (named != publishedName) {
        r.error = named.isEmpty()
            ? QStringLiteral("the trusted comment names no file (\"%1\")").arg(r.trustedComment)
            : QStringLiteral("signed as %1, published as %2").arg(named, publishedName);
        return r;
    }
    r.ok = true;
    return r;
}

} // namespace rh
