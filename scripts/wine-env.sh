# Wine environment of Kalnix's scripts, sourced by each of them (not run):
#   . scripts/wine-env.sh
#   kalnix_wine_env ARCH PREFIX   export the environment for x86 (win32) or x64 (win64) in PREFIX
#   kalnix_wine PROGRAM [ARGS]    run a Windows program with this architecture's loader
#   kalnix_prefix_ready           create the prefix once and wait for wineboot's services
#   kalnix_server_start / _stop   one persistent wineserver for PREFIX
#   kalnix_power_standin DLL      the stand-in power library as the prefix's own powrprof.dll
#   kalnix_x86_runs               true when this machine can start 32-bit programs
#   kalnix_start_xvfb             a private Xvfb when DISPLAY is unset (KALNIX_XVFB_PID)
#   kalnix_seed_settings N=V ...  REG_DWORD values under HKLM\Software\Kalnix, as setup writes them

# Debian's `wine` wrapper takes the 32-bit loader whenever wine32 is installed, so each
# architecture names its loader itself. KALNIX_WINE32=/bin/false shows what a machine that
# runs 64-bit code only does.
KALNIX_WINE32=${KALNIX_WINE32:-/usr/lib/wine/wine}
KALNIX_WINE64=/usr/lib/wine/wine64

kalnix_wine_env() {
  case "$1" in
    x86) export WINEARCH=win32 WINELOADER=$KALNIX_WINE32 ;;
    x64) export WINEARCH=win64 WINELOADER=$KALNIX_WINE64 ;;
    *) echo "unknown architecture: $1 (x86 or x64)" >&2; return 2 ;;
  esac
  export WINEPREFIX=$2 WINEDEBUG=${WINEDEBUG:--all}
  # No Mono or Gecko: nothing of Kalnix's needs them, and their installers would ask.
  export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
}

kalnix_wine() { "$WINELOADER" "$@"; }

kalnix_prefix_ready() {
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  mkdir -p "$WINEPREFIX"
  kalnix_wine wineboot -i </dev/null >/dev/null 2>&1 || true
  # wineboot returns before its services have settled; a kernel driver started earlier
  # fails (1053 after about 40 s under 64-bit Wine).
  wineserver -w
}

# The server and what it starts must not hold the caller's output open (ctest waits for
# its pipes to close): the first process after a server start also starts the prefix's
# services and explorer, so run a silent one. It also makes the next process start fast.
kalnix_server_start() {
  wineserver -p </dev/null >/dev/null 2>&1 || true   # fails harmlessly when one already runs
  kalnix_wine cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
}
kalnix_server_stop() { wineserver -k 2>/dev/null || true; }

# Kalnix takes powrprof.dll from System32 only, never from beside itself: the stand-in goes
# where the prefix's own library is (the program's architecture's system32), and
# powrprof=n,b (in WINEDLLOVERRIDES) has Wine load it instead of its builtin one. The file
# there is replaced, never written into: it may be a link to another prefix's.
kalnix_power_standin() {
  local target=$WINEPREFIX/drive_c/windows/system32/powrprof.dll
  rm -f "$target" && cp "$1" "$target"
}

# Asked of the loader itself: a 64-bit-only kernel refuses to start it (Exec format error).
kalnix_x86_runs() { "$KALNIX_WINE32" --version >/dev/null 2>&1; }

kalnix_start_xvfb() {
  KALNIX_XVFB_PID=
  [ -n "${DISPLAY:-}" ] && return 0
  local number_file
  number_file=$(mktemp)
  # Xvfb picks a free display and writes its number once it accepts clients.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$number_file" >/dev/null 2>&1 &
  KALNIX_XVFB_PID=$!
  local _
  for _ in $(seq 200); do [ -s "$number_file" ] && break; sleep 0.05; done
  export DISPLAY=:$(head -n 1 "$number_file")
  rm -f "$number_file"
}

kalnix_seed_settings() {
  local pair
  for pair in "$@"; do
    kalnix_wine reg add 'HKLM\Software\Kalnix' /v "${pair%%=*}" /t REG_DWORD /d "${pair#*=}" /f >/dev/null
  done
}
