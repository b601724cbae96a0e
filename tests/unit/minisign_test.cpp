// Signatures as Debian's minisign makes them, checked by the program's own
// verifier: every way a signature file can lie is refused.
#include "minisign_fixture.h"

#include "net/minisign.h"

#include <QFile>
#include <QTemporaryDir>

#include <functional>

#include <gtest/gtest.h>

using namespace rh;
using rh::test::ReleaseKey;

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void write(const QString& path, const QByteArray& data)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

TEST(Minisign, OnlyAnIntactSignatureOfANamedKeyForThisFileUnderItsNamePasses)
{
    ReleaseKey release, other;
    ASSERT_TRUE(release.ok() && other.ok()) << release.diagnostics().toStdString();
    QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/rollhaven2");
    write(file, QByteArray(100000, 'x') + "build 7");
    const QString prehashed = dir.path() + QStringLiteral("/prehashed"), legacy = dir.path() + QStringLiteral("/legacy"),
                  foreign = dir.path() + QStringLiteral("/foreign"), custom = dir.path() + QStringLiteral("/custom");
    ASSERT_TRUE(release.sign(file, prehashed)) << release.diagnostics().toStdString();
    ASSERT_TRUE(release.sign(file, legacy, true));
    ASSERT_TRUE(other.sign(file, foreign));
    ASSERT_TRUE(release.sign(file, custom, false, QStringLiteral("release 7")));
    MinisignKey ours, theirs;
    QString error;
    ASSERT_TRUE(parseMinisignKey(release.publicKey(), &ours, &error)) << error.toStdString();
    ASSERT_TRUE(parseMinisignKey(other.publicKey(), &theirs, &error));
    const QByteArray good = readAll(prehashed);

    const auto replaced = [&](const QByteArray& from, const QByteArray& to) {
        QByteArray s = good;
        return s.replace(from, to);
    };
    const QList<QByteArray> lines = good.split('\n');
    QByteArray swapped = QByteArray::fromBase64(lines[1]);
    swapped[1] = 'd'; // "ED" (prehashed) claimed as "Ed" (the file itself)
    struct Case {
        const char* what;
        QByteArray signature;
        QList<MinisignKey> keys;
        QString name;
        const char* error; // empty: accepted
    };
    const QList<Case> cases{
        {"prehashed", good, {ours}, QStringLiteral("rollhaven2"), ""},
        {"legacy", readAll(legacy), {ours}, QStringLiteral("rollhaven2"), ""},
        {"CR LF lines", replaced("\n", "\r\n"), {ours}, QStringLiteral("rollhaven2"), ""},
        {"another key", readAll(foreign), {ours}, QStringLiteral("rollhaven2"), "which site.ini does not name"},
        {"key rotation", readAll(foreign), {ours, theirs}, QStringLiteral("rollhaven2"), ""},
        {"served under another name", good, {ours}, QStringLiteral("filechanger.exe"), "signed as rollhaven2"},
        {"trusted comment changed", replaced("file:rollhaven2", "file:rollhaven3"), {ours}, QStringLiteral("rollhaven3"),
         "trusted comment's signature"},
        {"no file in the trusted comment", readAll(custom), {ours}, QStringLiteral("rollhaven2"), "names no file"},
        {"algorithm swapped", lines[0] + '\n' + swapped.toBase64() + '\n' + lines[2] + '\n' + lines[3] + '\n', {ours},
         QStringLiteral("rollhaven2"), "does not match the file"},
        {"no untrusted comment", good.mid(good.indexOf('\n') + 1), {ours}, QStringLiteral("rollhaven2"),
         "not a minisign signature file"},
        {"empty", QByteArray(), {ours}, QStringLiteral("rollhaven2"), "not a minisign signature file"},
    };
    for (const Case& c : cases) {
        const MinisignCheck r = verifyMinisign(file, c.signature, c.keys, c.name);
        EXPECT_EQ(r.ok, !*c.error) << c.what << ": " << r.error.toStdString();
        EXPECT_TRUE(r.error.contains(QLatin1String(c.error))) << c.what << ": " << r.error.toStdString();
    }

    // One byte of the file changed, in either form.
    write(file, QByteArray(100000, 'x') + "build 8");
    for (const QString& sig : {prehashed, legacy})
        EXPECT_TRUE(verifyMinisign(file, readAll(sig), {ours}, QStringLiteral("rollhaven2"))
                        .error.contains(QStringLiteral("does not match the file")));
}

TEST(Minisign, KeysAreListedForARotationAndNamedAsMinisignNamesThem)
{
    ReleaseKey a, b;
    ASSERT_TRUE(a.ok() && b.ok()) << a.diagnostics().toStdString();
    QStringList errors;
    const QList<MinisignKey> keys =
        parseMinisignKeys(a.publicKey() + QStringLiteral(", ") + b.publicKey() + QStringLiteral(" RWQnotakey"), &errors);
    ASSERT_EQ(keys.size(), 2);
    EXPECT_EQ(errors.size(), 1);
    // Log lines name a key as minisign's own public key file does.
    QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/f");
    write(file, "x");
    ASSERT_TRUE(b.sign(file));
    const MinisignCheck r = verifyMinisign(file, readAll(file + QStringLiteral(".minisig")), keys, QStringLiteral("f"));
    EXPECT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.keyId, b.keyId());
}

} // namespace
