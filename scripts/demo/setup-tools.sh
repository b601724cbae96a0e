#!/usr/bin/env bash
# The demo's development tools: the development environment and packer
# stand-ins at the paths the run and compile steps start, the project files of
# inis/demo.ini, and the code-signing station on S:, running in the background
# until the demo ends ($SANDBOX/pids/signing.stop). The station signs quickly,
# so the program looks at the signed folder every 200 ms ([Signing] PollMs in
# site.ini) instead of every 10 seconds.
set -euo pipefail
: "${ROOT:?}" "${SANDBOX:?}"

tools=$ROOT/tests/support/tools
C=$SANDBOX/drives/C
S=$SANDBOX/drives/S

vb98="$C/Program Files/Microsoft Visual Studio/VB98"
mkdir -p "$vb98" "$C/Tools"
install -m 0755 "$tools/vb6_standin.py" "$vb98/vb6.exe"
install -m 0644 "$tools/mkpe.py" "$vb98/mkpe.py"
install -m 0755 "$tools/upx_standin.sh" "$C/Tools/upx.exe" # UpxExePath=C:\Tools\upx.exe

# The web authentication-number updater beside the program: a stand-in that
# notes the product it was started for.
cat > "$SANDBOX/웹인증번호업데이터.exe" <<'UPDATER'
#!/bin/sh
echo "$(date '+%F %T') $*" >> "$(dirname "$0")/logs/updater.log"
UPDATER
chmod 0755 "$SANDBOX/웹인증번호업데이터.exe"

# Project files are ANSI (CP949) text with CR LF line ends.
vbp() { # <Name> <title> <major> <minor> <revision>
  mkdir -p "$C/Src/$1"
  iconv -f UTF-8 -t CP949 <<VBP | sed 's/$/\r/' > "$C/Src/$1/$1.vbp"
Type=Exe
Form=frmMain.frm
Startup="frmMain"
ExeName32="$1.exe"
Title="$2"
MajorVer=$3
MinorVer=$4
RevisionVer=$5
AutoIncrementVer=0
VersionCompanyName="TarvelSoft"
VersionFileDescription="$2"
VersionProductName="$2"
VBP
}
vbp Ledger 원장관리 1 612 31
vbp Tax 세금계산서 2 612 7
vbp Pay 급여관리 1 611 120
vbp Stock 재고관리 3 612 2

# The signing station, signing for real with a demo certificate made now;
# the program takes back only files signed with it. It also stops by itself
# when the demo has gone.
mkdir -p "$S/Codesigning/unsigned" "$S/Codesigning/signed" "$SANDBOX/pids" "$SANDBOX/logs" "$SANDBOX/signing"
openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=TarvelSoft Demo Code Signing" \
  -keyout "$SANDBOX/signing/demo-key.pem" -out "$SANDBOX/signing/demo-cert.pem" 2>/dev/null
chmod 600 "$SANDBOX/signing/demo-key.pem"
pidfile=$SANDBOX/pids/signstation.pid
nohup python3 "$tools/signstation.py" --unsigned "$S/Codesigning/unsigned" \
  --signed "$S/Codesigning/signed" --delay 0.3 --poll 0.05 --pidfile "$pidfile" \
  --cert "$SANDBOX/signing/demo-cert.pem" --key "$SANDBOX/signing/demo-key.pem" \
  --owner-pid "$PPID" > "$SANDBOX/logs/signstation.log" 2>&1 &
printf '[[ -f %q ]] && kill "$(cat %q)"\n' "$pidfile" "$pidfile" > "$SANDBOX/pids/signing.stop"
for _ in $(seq 50); do
  grep -q '^ready' "$SANDBOX/logs/signstation.log" 2>/dev/null && break
  sleep 0.1
done
grep -q '^ready' "$SANDBOX/logs/signstation.log" || { echo "signing station did not start" >&2; exit 1; }

printf '\n[Signing]\nPollMs=200\nCertificate=signing/demo-cert.pem\n' >> "$SANDBOX/site.ini"
echo "--steps=run,compile,buildsign,setup,setupsign,distribute" >> "$SANDBOX/run_flags"

echo "tools: vb6.exe and upx.exe on C:, the authentication-number updater, projects Ledger, Tax, Pay, Stock under C:\\Src, signing station on S: (log: logs/signstation.log)"
