#!/usr/bin/env bash
# The installer tests' Wine prefixes: one pristine prefix per build tree, made once, and a
# fresh copy of it for each test, served by a wineserver of its own, so that no test sees what
# another installed and tests can run side by side.
#   fresh-prefix.sh pristine ARCH PRISTINE
#       create the pristine prefix (a ctest fixture does, before any test copies it)
#   fresh-prefix.sh run ARCH PRISTINE PREFIX STANDIN_POWRPROF PROGRAM [ARGS...]
#       copy it to PREFIX (a folder per test), run PROGRAM there (a Windows program through Wine,
#       a script as it is, with WINEPREFIX and WINELOADER set), stop the server; the copy is
#       removed when PROGRAM succeeds (unless KALNIX_KEEP_PREFIX=1, for a caller that looks at
#       what was installed) and kept for a look when it fails
set -uo pipefail
. "$(dirname "$0")/../../scripts/wine-env.sh"
mode=$1 arch=$2 pristine=$3

# Set when the pristine prefix is complete: no file of it may change after this.
made=$pristine/.made
system_libraries=(\( \( -path "*/drive_c/windows/system32/*" -o -path "*/drive_c/windows/syswow64/*" \)
                  -iname '*.dll' \))

if [ "$mode" = pristine ]; then
  kalnix_wine_env "$arch" "$pristine"
  kalnix_prefix_ready
  [ -f "$made" ] || touch "$made"
  exit
fi
[ "$mode" = run ] || { echo "usage: $0 pristine|run ARCH PRISTINE ..." >&2; exit 2; }
prefix=$4 standin=$5
shift 5

if [ ! -f "$standin" ]; then
  echo "missing stand-in power profile library: $standin" >&2
  exit 1
fi
if [ ! -f "$made" ]; then
  echo "no pristine prefix at $pristine: run the test through ctest, which makes it first" >&2
  exit 1
fi

# Nine tenths of a prefix are Wine's libraries in the system folders (about 650 MB), which no
# test writes into: they are linked, not copied. Every other file, the registry and the
# programs included, is a copy of its own.
copy_prefix() {
  cp -al "$pristine" "$prefix" &&
    (cd "$pristine" && find . -type f ! "${system_libraries[@]}" -print0 |
      xargs -0 cp -p --parents --remove-destination -t "$prefix")
}

# A linked library written into in place would change the pristine prefix for every later test:
# that fails the test, and keeps failing until the pristine prefix is made anew.
libraries_untouched() {
  local changed
  changed=$(find "$pristine" -type f "${system_libraries[@]}" -newer "$made")
  [ -z "$changed" ] && return 0
  echo "fresh-prefix.sh: a test wrote into these linked libraries of the pristine prefix; remove" >&2
  echo "$pristine to make it anew, and replace such a file (delete, then create) in the test:" >&2
  echo "$changed" >&2
  return 1
}

# Its programs' windows (a console, the notification area) go to a display of the test's own:
# none lands on the display where other tests click, type and look for the focus.
unset DISPLAY
kalnix_start_xvfb
trap 'kill "$KALNIX_XVFB_PID" 2>/dev/null' EXIT

kalnix_wine_env "$arch" "$prefix"
[ -d "$prefix" ] && kalnix_server_stop
rm -rf "$prefix"
mkdir -p "$(dirname "$prefix")"
copy_prefix || exit 1
# In system32 the stand-in is found by every process of the prefix: this program, the setup
# program (which loads KalnixCA.dll from its temporary folder), Kalnix.exe and the
# uninstaller's temporary copy.
kalnix_power_standin "$standin" || exit 1
# winemenubuilder would turn the Start menu entry into a menu entry of this machine's own desktop.
export WINEDLLOVERRIDES="powrprof=n,b;mscoree,mshtml=;winemenubuilder.exe=d"
# Tests that need a 32-bit program started in the 64-bit prefix look for this.
kalnix_x86_runs && export KALNIX_X86_RUNS=1
kalnix_server_start

case "$1" in
  *.exe) kalnix_wine "$@" ;;
  *) "$@" ;;
esac
rc=$?
wineserver -k
# The server is gone once its lock is free; only then is nothing left writing the copy.
wineserver -w
libraries_untouched || rc=1
[ $rc -eq 0 ] && [ "${KALNIX_KEEP_PREFIX:-}" != 1 ] && rm -rf "$prefix"
exit $rc
