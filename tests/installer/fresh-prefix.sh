#!/usr/bin/env bash
# Runs one installer test program under Wine in a fresh prefix: a copy of a pristine prefix
# (created once), served by a wineserver of its own, so no test sees what another installed.
#   fresh-prefix.sh PRISTINE PREFIX STANDIN_POWRPROF PROGRAM [ARGS...]
set -uo pipefail
pristine=$1 prefix=$2 standin=$3
shift 3
export WINEARCH=win32 WINEDEBUG=-all

if [ ! -f "$standin" ]; then
  echo "missing stand-in power profile library: $standin" >&2
  exit 1
fi
if [ ! -f "$pristine/system.reg" ]; then
  WINEPREFIX=$pristine WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i </dev/null >/dev/null 2>&1
  WINEPREFIX=$pristine wineserver -w
fi

export WINEPREFIX=$prefix
[ -d "$prefix" ] && wineserver -k 2>/dev/null
rm -rf "$prefix"
cp -a "$pristine" "$prefix" || exit 1
# In system32 the stand-in is found by every process of the prefix: this program, the setup
# program (which loads KalnixCA.dll from its temporary folder), Kalnix.exe and the
# uninstaller's temporary copy.
cp "$standin" "$prefix/drive_c/windows/system32/powrprof.dll" || exit 1
export WINEDLLOVERRIDES="powrprof=n,b;mscoree,mshtml="
# The server and what it starts must not hold ctest's pipes open.
wineserver -p </dev/null >/dev/null 2>&1

wine "$@"
rc=$?
wineserver -k
exit $rc
