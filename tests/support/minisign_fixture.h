#pragma once
// A release key made for the test with Debian's minisign (no password), and
// signatures made with it as the release engineer's minisign makes them.
#include <QString>
#include <QTemporaryDir>

namespace rh::test {

class ReleaseKey {
public:
    ReleaseKey();
    // False with diagnostics() when minisign could not make the key; tests
    // must fail on that, never skip.
    bool ok() const { return !m_publicKey.isEmpty(); }
    QString diagnostics() const { return m_error; }
    // The base64 line of the public key, as site.ini's [Update] PublicKey takes it.
    QString publicKey() const { return m_publicKey; }
    // The key id as minisign's public key file names it in its comment.
    QString keyId() const { return m_keyId; }

    // Writes `signatureFile` (default: file + ".minisig") for `file`, prehashed
    // or in the legacy form, with minisign's trusted comment or the one given.
    bool sign(const QString& file, const QString& signatureFile = {}, bool legacy = false,
              const QString& trustedComment = {}) const;

private:
    QTemporaryDir m_dir;
    QString m_publicKey;
    QString m_keyId;
    mutable QString m_error;
};

} // namespace rh::test
