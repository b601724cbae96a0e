#pragma once
// The outside tools of the run, compile and signing steps, played by small
// programs in tools/: the development environment (vb6_standin.py), the
// packer (upx_standin.sh) and the code-signing station (signstation.py).
// They are placed at the fixed Windows paths the steps start, inside a
// sandbox's drives.
#include "sandbox.h"

#include "pipeline/codesigning.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

namespace rh::test {

// tests/support/tools/<name>
QString standInTool(const QString& name);

// "C:\Program Files\Microsoft Visual Studio\VB98\vb6.exe" inside the sandbox.
void installCompiler(const Sandbox& box);
// The packer at a Windows path of the sandbox (the desk's default is D:\upx.exe).
void installPacker(const Sandbox& box, const QString& windowsPath = QStringLiteral("D:\\upx.exe"));
// Both.
void installStandInTools(const Sandbox& box,
                         const QString& packerPath = QStringLiteral("D:\\upx.exe"));

// The native path of a Windows path under the sandbox's drive map.
QString nativeOf(const QString& windowsPath);

// A project file (CP949) for the compiler stand-in: version numbers, the
// executable's name, a description, and extra lines such as
// "RollhavenStandIn=FailBuild".
struct VbpSpec {
    int major = 1;
    int minor = 0;
    int revision = 0;
    QString exeName;     // ExeName32; empty: the project file's name
    QString path32;      // Path32, relative; empty: the project's folder
    QString description; // VersionFileDescription
    QStringList extraLines;
};
void writeVbp(const QString& nativePath, const VbpSpec& spec);

// Calls of the stand-ins are logged to this file while the object lives
// (RH_STANDIN_LOG), one "vb6 /make PATH" / "upx ARGS" line each.
class StandInLog {
public:
    explicit StandInLog(const QString& path);
    ~StandInLog();
    QStringList lines() const;
    void clear() const;

private:
    QString m_path;
};

// The text the signing station writes into every file it signs.
QByteArray signatureMarker();
// What the take-back accepts of the station's marker signature (Desk::
// signatureCheck), for tests of the hand-off rather than of the signature.
SignatureCheck markerSignatureCheck(const QString& nativeFile, const QStringList& certificates);

// The signing station over the sandbox's S:\Codesigning folders, running
// while the object lives.
class SigningStation {
public:
    SigningStation(const Sandbox& box, double delaySeconds, double pollSeconds = 0.02);
    ~SigningStation();
    // False with the reason in *error when the station did not come up.
    bool start(QString* error);
    void stop();
    // Before start: sign for real (osslsigncode) with this certificate and
    // key; a fixed signing time (unix) makes equal files sign alike.
    void signWith(const QString& certificate, const QString& key, qint64 signingTime = 0)
    {
        m_cert = certificate;
        m_key = key;
        m_time = signingTime;
    }
    // Before start: sign nothing until `file` exists.
    void holdUntil(const QString& file) { m_hold = file; }
    // Before start: a "signed NAME" line per file signed goes to `file`.
    void logTo(const QString& file) { m_log = file; }
    QString unsignedFolder() const { return m_unsigned; }
    QString signedFolder() const { return m_signed; }

private:
    QString m_unsigned, m_signed;
    double m_delay, m_poll;
    QString m_cert, m_key, m_hold, m_log;
    qint64 m_time = 0;
    std::unique_ptr<QProcess> m_process;
};

} // namespace rh::test
