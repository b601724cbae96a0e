#pragma once
// Detached signatures in minisign's format, checked with libsodium: what the
// update launcher and its companions require of every file they keep or run.
//
// Public key (site.ini, "RW..."): base64 of "Ed", an 8-byte key id and the
// 32-byte Ed25519 key. Signature file ("<file>.minisig"), four lines:
//   untrusted comment: <anything>
//   base64 of "Ed" (over the file) or "ED" (over its BLAKE2b-512), key id, 64-byte signature
//   trusted comment: <text>
//   base64 of the 64-byte signature over signature || trusted comment
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace rh {

struct MinisignKey {
    QByteArray id; // 8 bytes, as the signature names it
    QByteArray key; // 32 bytes
    // The id as minisign prints it (hex of the little-endian number).
    QString idText() const;
};

// One public key: the base64 line of a minisign public key file. False with
// *error when it is not one.
bool parseMinisignKey(const QString& text, MinisignKey* key, QString* error);
// Keys separated by commas or blanks (several for a key rotation); every
// unusable one adds a message to *errors.
QList<MinisignKey> parseMinisignKeys(const QString& text, QStringList* errors = nullptr);

struct MinisignCheck {
    bool ok = false;
    QString error; // why not, for a log line
    QString keyId; // the signing key, when it is one of ours
    QString trustedComment;
};

// Checks `file` against the signature text `signature` with any of `keys`:
// the signature over the file (or its BLAKE2b-512 hash), then the one over the
// trusted comment. A trusted comment must name the file as minisign writes it
// ("file:<name>" among its tab-separated fields) and that name must be
// `publishedName`, so a signed file cannot be served under another name.
MinisignCheck verifyMinisign(const QString& file, const QByteArray& signature, const QList<MinisignKey>& keys,
                             const QString& publishedName);

} // namespace rh
