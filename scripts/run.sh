#!/usr/bin/env bash
# Builds what Kalnix needs to run under Wine (Kalnix.exe, the simulated lid-sensor driver
# lidsim.sys, its control tool lidctl.exe and the stand-in power library) and starts Kalnix in
# the prefix build/ARCH/wineprefix-run, so the virtual lid can be closed and opened. The x64
# Kalnix by default; KALNIX_ARCH=x86 runs the 32-bit one (where this machine starts 32-bit
# programs). Installs what is missing first.
#   bash scripts/run.sh          build, then start Kalnix (lid alarm after 10 s, rest after 60 s more)
#   bash scripts/run.sh close    close the virtual lid      bash scripts/run.sh open   open it
#   bash scripts/run.sh counts   control requests 1, 2 and 3 the driver has seen
#   bash scripts/run.sh stop     end Kalnix the way Windows would (WM_CLOSE), then Wine
# The lid commands and stop act on the architecture last started, unless KALNIX_ARCH says.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/wine-env.sh
command=${1:-start}
last_arch_file=build/run-arch
if [ -n "${KALNIX_ARCH:-}" ]; then
  arch=$KALNIX_ARCH
elif [ "$command" != start ] && [ -f "$last_arch_file" ]; then
  arch=$(cat "$last_arch_file")
else
  arch=x64
fi
build=$PWD/build/$arch
run_dir=$build/run
kalnix_wine_env "$arch" "$build/wineprefix-run"
export WINEDLLOVERRIDES="powrprof=n,b;mscoree,mshtml="
[ -f "$run_dir/display" ] && export DISPLAY=$(cat "$run_dir/display")

lidctl() { kalnix_wine "$build/tests/bin/lidctl.exe" "$@"; }
# This run's Kalnix: Wine shows a program started by its Linux path under that path.
kalnix_runs() { pgrep -f "^$run_dir/Kalnix\.exe" >/dev/null; }

case "$command" in
  close|open|counts)
    [ -f "$WINEPREFIX/system.reg" ] || { echo "no Kalnix ($arch) was started: bash scripts/run.sh" >&2; exit 1; }
    lidctl "$command"
    exit ;;
  stop)
    if [ -f "$WINEPREFIX/system.reg" ]; then
      kalnix_wine taskkill.exe /IM Kalnix.exe >/dev/null 2>&1 || true
      for _ in $(seq 50); do kalnix_runs || break; sleep 0.2; done
      kalnix_server_stop
    fi
    [ -f "$run_dir/xvfb.pid" ] && kill "$(cat "$run_dir/xvfb.pid")" 2>/dev/null || true
    rm -f "$run_dir/xvfb.pid" "$run_dir/display"
    exit ;;
  start) ;;
  *) echo "usage: $0 [start|close|open|counts|stop]" >&2; exit 2 ;;
esac

if [ "$arch" = x86 ] && ! kalnix_x86_runs; then
  echo "this machine runs 64-bit code only: run the x64 Kalnix (KALNIX_ARCH=x64)" >&2
  exit 1
fi
bash scripts/install-deps.sh
# Only what runs: no tests, no packages.
cmake --preset "$arch" >/dev/null
cmake --build --preset "$arch" -j "$(nproc)" --target Kalnix lidsim lidctl powrprof_standin

mkdir -p "$run_dir"
if [ -z "${DISPLAY:-}" ]; then
  kalnix_start_xvfb
  echo "$KALNIX_XVFB_PID" > "$run_dir/xvfb.pid"
  echo "$DISPLAY" > "$run_dir/display"
fi
kalnix_prefix_ready
# Wine's power profile library is a stub: the stand-in that keeps a policy takes its place in
# system32, where Kalnix loads it from.
kalnix_power_standin "$build/tests/bin/powrprof.dll"
kalnix_server_start
if kalnix_runs; then
  echo "Kalnix ($arch) is running already: bash scripts/run.sh stop first" >&2
  exit 1
fi
echo "$arch" > "$last_arch_file"

# Kalnix never creates its settings key; the setup program does. Stand in for it here. Wine
# reports its display as an external one, which would keep the alarm quiet and the laptop
# from being rested: AlarmWithExternalDisplay=1 lets both happen.
kalnix_seed_settings Action=2 AlarmTime=10 RestAfter=60 EnableLogging=1 AlarmWithExternalDisplay=1

cp "$build/bin/Kalnix.exe" "$run_dir/"
rm -f "$run_dir/Kalnix.log"  # this run's lines only
lidctl install "$(kalnix_wine winepath -w "$build/tests/bin/lidsim.sys")" >/dev/null
kalnix_wine "$run_dir/Kalnix.exe" -fresh </dev/null >/dev/null 2>&1 &

cat <<MSG
Kalnix ($arch) is running under Wine (display $DISPLAY), in the lid alarm with AlarmTime 10 and
RestAfter 60. Its log: $run_dir/Kalnix.log
  bash scripts/run.sh close    closes the virtual lid. 10 s later the log says "Still awake with
                               the lid closed": the alarm rings, silently under Wine ("The alarm
                               is silent: no sound device"; "CP Failed: 2" is powercfg.exe, which
                               Wine lacks). A silent alarm waits AlarmTime, not RestAfter: 10 s
                               later Kalnix puts the laptop to rest, "Putting the laptop to sleep:
                               it stayed awake with the lid closed", and "SSS Failed: 127" says
                               the request reached the stand-in power library, which cannot sleep.
  bash scripts/run.sh open     opens it again
  bash scripts/run.sh counts   control requests 1, 2 and 3 the driver has received
  bash scripts/run.sh stop     ends Kalnix through its window (WM_CLOSE), then Wine
Without the script: WINEPREFIX=$WINEPREFIX $WINELOADER $build/tests/bin/lidctl.exe close
MSG
