#include "standins.h"

#include "platform/drivemap.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace rh::test {
namespace {

// Links a stand-in at the native path of a Windows path; the link keeps the
// script beside mkpe.py for the compiler.
void place(const QString& tool, const QString& windowsPath)
{
    const QString target = nativeOf(windowsPath);
    QDir().mkpath(QFileInfo(target).absolutePath());
    QFile::remove(target);
    QFile::link(standInTool(tool), target);
}

} // namespace

QString standInTool(const QString& name)
{
    return QStringLiteral(RH_SUPPORT_DIR "/tools/") + name;
}

QString nativeOf(const QString& windowsPath)
{
    return nativePath(windowsPath);
}

void installCompiler(const Sandbox& box)
{
    (void)box; // the sandbox's drive map is installed; the path is fixed
    place(QStringLiteral("vb6_standin.py"),
          QStringLiteral("C:\\Program Files\\Microsoft Visual Studio\\VB98\\vb6.exe"));
}

void installPacker(const Sandbox& box, const QString& windowsPath)
{
    (void)box;
    place(QStringLiteral("upx_standin.sh"), windowsPath);
}

void installStandInTools(const Sandbox& box, const QString& packerPath)
{
    installCompiler(box);
    installPacker(box, packerPath);
}

void writeVbp(const QString& nativePath, const VbpSpec& spec)
{
    QStringList lines{QStringLiteral("Type=Exe"), QStringLiteral("Form=frmMain.frm"),
                      QStringLiteral("Startup=\"frmMain\""),
                      QStringLiteral("MajorVer=%1").arg(spec.major),
                      QStringLiteral("MinorVer=%1").arg(spec.minor),
                      QStringLiteral("RevisionVer=%1").arg(spec.revision),
                      QStringLiteral("AutoIncrementVer=0")};
    if (!spec.exeName.isEmpty())
        lines << QStringLiteral("ExeName32=\"%1\"").arg(spec.exeName);
    if (!spec.path32.isEmpty())
        lines << QStringLiteral("Path32=\"%1\"").arg(spec.path32);
    if (!spec.description.isEmpty())
        lines << QStringLiteral("VersionFileDescription=\"%1\"").arg(spec.description);
    lines << QStringLiteral("VersionCompanyName=\"TarvelSoft\"") << spec.extraLines;
    Sandbox::writeAnsi(nativePath, lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
}

StandInLog::StandInLog(const QString& path) : m_path(path)
{
    clear();
    qputenv("RH_STANDIN_LOG", QFile::encodeName(path));
}

StandInLog::~StandInLog()
{
    qunsetenv("RH_STANDIN_LOG");
}

QStringList StandInLog::lines() const
{
    QFile f(m_path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void StandInLog::clear() const
{
    QFile::remove(m_path);
}

QByteArray signatureMarker()
{
    return QByteArrayLiteral("Rollhaven2 stand-in signature");
}

SignatureCheck markerSignatureCheck(const QString& nativeFile, const QStringList&)
{
    QFile f(nativeFile);
    SignatureCheck r;
    r.ok = f.open(QIODevice::ReadOnly) && f.readAll().contains(signatureMarker());
    r.found = r.ok ? QStringLiteral("서명 확인됨") : QStringLiteral("서명 없음");
    return r;
}

SigningStation::SigningStation(const Sandbox& box, double delaySeconds, double pollSeconds)
    : m_unsigned(box.drive(QStringLiteral("S")) + QStringLiteral("/Codesigning/unsigned")),
      m_signed(box.drive(QStringLiteral("S")) + QStringLiteral("/Codesigning/signed")),
      m_delay(delaySeconds), m_poll(pollSeconds)
{
    QDir().mkpath(m_unsigned);
    QDir().mkpath(m_signed);
}

SigningStation::~SigningStation()
{
    stop();
}

bool SigningStation::start(QString* error)
{
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList args{standInTool(QStringLiteral("signstation.py")), QStringLiteral("--unsigned"), m_unsigned,
                     QStringLiteral("--signed"), m_signed, QStringLiteral("--delay"),
                     QString::number(m_delay), QStringLiteral("--poll"), QString::number(m_poll)};
    if (!m_cert.isEmpty())
        args << QStringLiteral("--cert") << m_cert << QStringLiteral("--key") << m_key;
    if (m_time > 0)
        args << QStringLiteral("--time") << QString::number(m_time);
    if (!m_hold.isEmpty())
        args << QStringLiteral("--hold-until") << m_hold;
    if (!m_log.isEmpty())
        args << QStringLiteral("--log") << m_log;
    m_process->start(QStringLiteral("python3"), args);
    if (!m_process->waitForStarted(10000)) {
        *error = QStringLiteral("signing station did not start: ") + m_process->errorString();
        return false;
    }
    while (!m_process->canReadLine()) {
        if (!m_process->waitForReadyRead(10000)) {
            *error = QStringLiteral("signing station did not report ready");
            return false;
        }
    }
    if (m_process->readLine().trimmed() != "ready") {
        *error = QStringLiteral("signing station: unexpected first line");
        return false;
    }
    return true;
}

void SigningStation::stop()
{
    if (!m_process || m_process->state() == QProcess::NotRunning)
        return;
    m_process->terminate();
    if (!m_process->waitForFinished(5000)) {
        m_process->kill();
        m_process->waitForFinished(60000);
    }
}

} // namespace rh::test
