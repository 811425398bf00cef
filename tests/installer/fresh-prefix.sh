#!/usr/bin/env bash
# Runs one installer test program under Wine in a fresh prefix: a copy of a pristine prefix
# (created once), served by a wineserver of its own, so no test sees what another installed.
#   fresh-prefix.sh ARCH PRISTINE PREFIX STANDIN_POWRPROF PROGRAM [ARGS...]
set -uo pipefail
. "$(dirname "$0")/../../scripts/wine-env.sh"
arch=$1 pristine=$2 prefix=$3 standin=$4
shift 4

if [ ! -f "$standin" ]; then
  echo "missing stand-in power profile library: $standin" >&2
  exit 1
fi
kalnix_wine_env "$arch" "$pristine"
kalnix_prefix_ready

kalnix_wine_env "$arch" "$prefix"
[ -d "$prefix" ] && kalnix_server_stop
rm -rf "$prefix"
cp -a "$pristine" "$prefix" || exit 1
# In system32 the stand-in is found by every process of the prefix: this program, the setup
# program (which loads KalnixCA.dll from its temporary folder), Kalnix.exe and the
# uninstaller's temporary copy.
cp "$standin" "$prefix/drive_c/windows/system32/powrprof.dll" || exit 1
export WINEDLLOVERRIDES="powrprof=n,b;mscoree,mshtml="
# Tests that need a 32-bit program started in the 64-bit prefix look for this.
kalnix_x86_runs && export KALNIX_X86_RUNS=1
kalnix_server_start

kalnix_wine "$@"
rc=$?
wineserver -k
exit $rc
