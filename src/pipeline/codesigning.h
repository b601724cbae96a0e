#pragma once
// Hand-off to the code-signing station over the shared drive S:: files go to
// the unsigned folder, come back under the same name in the signed folder and
// replace the project's files.
#include <QString>
#include <QStringList>

namespace rh {

class Desk;

QString signingUnsignedFolder(); // "S:\Codesigning\unsigned"
QString signingSignedFolder();   // "S:\Codesigning\signed"

// Milliseconds between looks at the signed folder unless the site says otherwise.
constexpr int kSigningPollMs = 10000;

// The poll interval from the program folder's site.ini ([Signing] PollMs),
// for sites whose station answers faster; kSigningPollMs when not set.
int signingPollMsFromSite();

// The certificates ([Signing] Certificate= of site.ini: PEM files separated by
// ";", relative ones from the program folder) a signed file must chain to:
// the issuing CA, or the signing certificate itself. Empty: the system's
// certificate authorities stand in for them.
QStringList signingCertificatesFromSite();

// The Authenticode check of one file (osslsigncode verify) against the
// certificates, or the system's authorities when there are none.
struct SignatureCheck {
    bool ok = false;
    QString signer; // subject of the signing certificate, when there is one
    QString found;  // what was found, for messages: "서명 없음", the error
};
SignatureCheck checkAuthenticode(const QString& nativeFile, const QStringList& certificates);

// Signs the files named by two ProjectRow columns of every ticked row
// (secondCol 0: none). Waits without limit until every file has come back.
// True when every file was handed over, came back and was put in place. A
// file that comes back unsigned, or with a signature that does not chain to
// the configured certificates (none configured: the system's authorities), is
// not put in place: its row is unticked, so that product goes no further,
// with an "[오류] " line naming the file.
bool CodeSigning(Desk& desk, int firstCol, int secondCol);

} // namespace rh
