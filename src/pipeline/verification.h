#pragma once
// The end-of-run verification of a distributing run: for every released row
// the artefacts must agree with each other and with what landed (the
// executable's version, the setups' version, the official copy on the file
// server, the ".ver" file on the FTP server, the work-diary row, the catalogue
// row) and every upload must have its local size on the server. Every
// artefact's SHA-256 is computed once and goes into the run report.
#include <QJsonArray>
#include <QString>

namespace rh {

class Desk;

struct VerificationResult {
    QJsonArray checks;    // {project, check, expected, found, ok}
    QJsonArray artefacts; // {project, path, version, size, sha256, landed}
    bool ok = true;
};

// Runs the checks after the run (the journal tells what was copied and
// uploaded where) and writes the table, and an "[오류] " line for every
// disagreement, to the run log.
VerificationResult VerifyRelease(Desk& desk);

} // namespace rh
