#!/usr/bin/env bash
# The demo's setup builders: the InstallShield and Inno Setup stand-ins at their
# fixed places on drive C, and the setup projects of inis/demo.ini (full and
# patch) so that the setup step builds every demo project. The stand-ins read
# the [Drives] section of $SANDBOX/site.ini and record their runs in
# $SANDBOX/setupbuilders.log.
set -euo pipefail
: "${ROOT:?}" "${SANDBOX:?}"

tools=$ROOT/tests/support/tools
C=$SANDBOX/drives/C

install_tool() { # <folder under C> <exe name>
  mkdir -p "$C/$1"
  install -m 0755 "$tools/setupbuilder.py" "$C/$1/$2"
  install -m 0644 "$tools/mkpe.py" "$C/$1/mkpe.py"
}
install_tool "Program Files/Macrovision/IS12/System" IsCmdBld.exe
install_tool "Program Files/Inno Setup 5" compil32.exe

# Setup outputs and the InstallShield result folder (ISResultFolder=C:\ISResult).
mkdir -p "$C/Setup/Output" "$C/ISResult" "$C/2TarvelInstalls"

# Project files are ANSI (CP949) text, as the builders on the workstations read them.
write_ansi() { # <native path>; text on stdin
  mkdir -p "$(dirname "$1")"
  iconv -f UTF-8 -t CP949 | sed 's/$/\r/' > "$1"
}

inno() { # <Name> <lower name> <product name> <version> [<output folder>]
  local out=${5:-C:\\Setup\\Output}
  write_ansi "$C/Setup/$1/$1.iss" <<ISS
; $3 setup
[Setup]
AppName=$3
AppVersion=$4
OutputDir=$out
OutputBaseFilename=$2_setup_2

[Files]
Source: "C:\\Src\\$1\\$1.exe"; DestDir: "{app}"
ISS
  write_ansi "$C/Setup/$1/$1_patch.iss" <<ISS
; $3 patch
[Setup]
AppName=$3
AppVersion=$4
OutputDir=$out
OutputBaseFilename=$2_setup_patch_2

[Files]
Source: "C:\\Src\\$1\\$1.exe"; DestDir: "{app}"; Flags: ignoreversion
ISS
}

installshield() { # <Name> <lower name> <product name> <version>
  write_ansi "$C/Setup/$1/$1.ism" <<ISM
RollhavenProduct=$3
RollhavenVersion=$4
RollhavenOutput=C:\\Setup\\Output\\$2_setup_2.exe
ISM
  write_ansi "$C/Setup/$1/$1_patch.ism" <<ISM
RollhavenProduct=$3
RollhavenVersion=$4
RollhavenPatchFolder=C:\\ISResult
ISM
}

# Ledger is a product of the download catalogue: its setup lives in C:\2TarvelInstalls.
# Each setup carries its program's version, as the end-of-run verification expects.
inno Ledger TVledger2 원장관리 1.612.31 'C:\2TarvelInstalls'
installshield Tax tax 세금계산서 2.612.7
inno Pay pay 급여관리 1.611.120
inno Stock stock 재고관리 3.612.2

echo "setup builders: IsCmdBld.exe and compil32.exe on C:, projects of Ledger, Tax, Pay, Stock under C:\\Setup"
