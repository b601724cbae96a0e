#pragma once
// Hand-off to the code-signing station over the shared drive S:: files go to
// the unsigned folder, come back under the same name in the signed folder and
// replace the project's files.
#include <QString>

namespace rh {

class Desk;

QString signingUnsignedFolder(); // "S:\Codesigning\unsigned"
QString signingSignedFolder();   // "S:\Codesigning\signed"

// Milliseconds between looks at the signed folder unless the site says otherwise.
constexpr int kSigningPollMs = 10000;

// The poll interval from the program folder's site.ini ([Signing] PollMs),
// for sites whose station answers faster; kSigningPollMs when not set.
int signingPollMsFromSite();

// Signs the files named by two ProjectRow columns of every ticked row
// (secondCol 0: none). Waits without limit until every file has come back.
// True when every file was handed over, came back and was put in place.
bool CodeSigning(Desk& desk, int firstCol, int secondCol);

} // namespace rh
