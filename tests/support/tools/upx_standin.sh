#!/bin/sh
# Stand-in for the UPX packer: "upx.exe FILE" packs, "upx.exe -d FILE"
# unpacks; both leave the executable in place. The call is appended to
# $RH_STANDIN_LOG when set ("upx ARGS"). Exits 1 when the file is missing.
[ -n "$RH_STANDIN_LOG" ] && printf 'upx %s\n' "$*" >> "$RH_STANDIN_LOG"
[ "$1" = "-d" ] && shift
if [ ! -f "$1" ]; then
  echo "upx stand-in: no such file: $1" >&2
  exit 1
fi
exit 0
