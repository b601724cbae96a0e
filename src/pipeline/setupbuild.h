#pragma once
// The setup build step: full setups and the patch setup of every ticked
// project, built by InstallShield's or Inno Setup's command-line builder.
#include <QString>

namespace rh {

class Desk;

// STEP2. True when every ticked project's builds produced their outputs;
// false at the first failure, which ends the step.
bool STEP2(Desk& desk);

// The patch project of a setup project: "D:\setup\ledger.ism" ->
// "D:\setup\ledger_patch.ism" (".iss" for Inno Setup, kind 1). Empty when the
// project name is too short to carry an extension.
QString patchProjectFile(const QString& project1, int kind);

// Where an InstallShield patch build leaves its Update.exe: under
// resultFolder, or beside the patch project when that is empty.
QString installShieldUpdateFile(const QString& patchProject, const QString& resultFolder);

} // namespace rh
