#include "minisign_fixture.h"

#include <QFile>
#include <QProcess>

namespace rh::test {
namespace {

bool minisign(const QStringList& args, QString* error)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("minisign"), args);
    p.closeWriteChannel();
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *error = QStringLiteral("minisign %1 failed (%2): %3")
                     .arg(args.join(u' '), p.errorString(), QString::fromLocal8Bit(p.readAll()));
        return false;
    }
    return true;
}

} // namespace

ReleaseKey::ReleaseKey()
{
    const QString pub = m_dir.path() + QStringLiteral("/release.pub");
    if (!minisign({QStringLiteral("-G"), QStringLiteral("-W"), QStringLiteral("-p"), pub, QStringLiteral("-s"),
                   m_dir.path() + QStringLiteral("/release.key")},
                  &m_error))
        return;
    QFile f(pub);
    if (f.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = f.readAll().split('\n');
        m_keyId = QString::fromLatin1(lines.value(0).split(' ').last().trimmed());
        m_publicKey = QString::fromLatin1(lines.value(1).trimmed());
    }
    if (m_publicKey.isEmpty())
        m_error = QStringLiteral("minisign wrote no public key to %1").arg(pub);
}

bool ReleaseKey::sign(const QString& file, const QString& signatureFile, bool legacy,
                      const QString& trustedComment) const
{
    QStringList args{QStringLiteral("-S"), QStringLiteral("-s"), m_dir.path() + QStringLiteral("/release.key"),
                     QStringLiteral("-m"), file, QStringLiteral("-x"),
                     signatureFile.isEmpty() ? file + QStringLiteral(".minisig") : signatureFile};
    if (legacy)
        args << QStringLiteral("-l");
    if (!trustedComment.isEmpty())
        args << QStringLiteral("-t") << trustedComment;
    return minisign(args, &m_error);
}

} // namespace rh::test
