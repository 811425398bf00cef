#!/usr/bin/env bash
# Idle cost of Kalnix.exe (mode 2, simulated lid driver, lid open) against a program that
# only has a hidden window and a message loop, side by side under Wine; then the lid
# alarm's timing through the seam over Beep. A third column shows the same bare program
# with Kalnix's manifest and system libraries: what Wine charges for those, not Kalnix.
#   bench/idle/run-idle-bench.sh [ARCH]      (x64 by default; IDLE_SECONDS=60 ROUNDS=5)
# LID_DRIVER=none runs Kalnix without the simulated driver, as on a Windows without it (lid
# from Windows' notifications, no monitor thread). BUILD_DIR=... measures another tree.
# Measures the build tree build/ARCH. Starts its own Xvfb when DISPLAY is unset. Uses its own
# Wine prefix in build/ARCH/bench-prefix so a test run in the same tree is not disturbed.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/scripts/wine-env.sh"
arch=${1:-x64}
build=${BUILD_DIR:-$root/build/$arch}
lid_driver=${LID_DRIVER:-simulated}
idle=${IDLE_SECONDS:-60}
rounds=${ROUNDS:-5}
kalnix_wine_env "$arch" "$build/bench-prefix"
wine() { kalnix_wine "$@"; }

cmake --build "$build" --target Kalnix lidsim lidctl bench_baseline bench_baseline_imports bench_launch bench_alarm >/dev/null

kalnix_start_xvfb
kalnix_prefix_ready
kalnix_server_start   # one may already run
trap 'kalnix_server_stop; [ -n "$KALNIX_XVFB_PID" ] && kill "$KALNIX_XVFB_PID" 2>/dev/null || true' EXIT

dir=$WINEPREFIX/drive_c/kalnixidlebench
mkdir -p "$dir"
cp "$build/bin/Kalnix.exe" "$dir/Kalnix.exe"
cp "$build/bench/bench_baseline.exe" "$dir/BenchBaseline.exe"
cp "$build/bench/bench_baseline_imports.exe" "$dir/BenchImports.exe"
# Through a file, not a pipe: the started program inherits the output and would hold a pipe open.
launch() {
  wine "$build/bench/bench_launch.exe" "$@" </dev/null >"$dir/launch.out" 2>/dev/null || true
  tr -d '\r' <"$dir/launch.out"
}
wine reg add 'HKLM\Software\Kalnix' /v Action /t REG_DWORD /d 2 /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Kalnix' /v AlarmTime /t REG_DWORD /d 60 /f >/dev/null 2>&1
# As the setup program installs it: the rest's own code is in place while idle.
wine reg add 'HKLM\Software\Kalnix' /v RestAfter /t REG_DWORD /d 10 /f >/dev/null 2>&1
if [ "$lid_driver" = none ]; then
  wine "$build/tests/bin/lidctl.exe" uninstall </dev/null || true
else
  wine "$build/tests/bin/lidctl.exe" install "$(wine winepath -w "$build/tests/bin/lidsim.sys")" </dev/null
  wine "$build/tests/bin/lidctl.exe" open </dev/null
fi

KALNIX=("C:\\kalnixidlebench\\Kalnix.exe" KalnixWndClass KalnixWnd)
BASE=("C:\\kalnixidlebench\\BenchBaseline.exe" BaselineWndClass BaselineWnd)
IMPS=("C:\\kalnixidlebench\\BenchImports.exe" ImportsWndClass ImportsWnd)

# Linux pid of a Wine process by its executable name in the bench folder.
linux_pid() { pgrep -n -f "kalnixidlebench.$1" || true; }
. "$root/bench/idle/process_figures.sh"
# Anonymous memory only: the process's own commit, without file pages the kernel may map
# in large blocks depending on where Wine places a file.
anon_kib() { awk '/^Anonymous:/ {print $2}' /proc/"$1"/smaps_rollup; }

# Start-up: process start to window existing, alternating, median of the rounds.
: >"$dir/start-kalnix"; : >"$dir/start-base"; : >"$dir/start-imps"
for _ in $(seq "$rounds"); do
  launch start "${KALNIX[@]}" >>"$dir/start-kalnix"; sleep 1; launch end KalnixWndClass KalnixWnd
  launch start "${BASE[@]}" >>"$dir/start-base"; sleep 1; launch end BaselineWndClass BaselineWnd
  launch start "${IMPS[@]}" >>"$dir/start-imps"; sleep 1; launch end ImportsWndClass ImportsWnd
done
start_k=$(median <"$dir/start-kalnix")
start_b=$(median <"$dir/start-base")
start_i=$(median <"$dir/start-imps")

# Idle: both running side by side, lid open, no input.
launch start "${KALNIX[@]}" >/dev/null
launch start "${BASE[@]}" >/dev/null
launch start "${IMPS[@]}" >/dev/null
# Start-up work is over: the first protection tick, the icon and, without the driver, the
# wait for Windows' first lid report (5 s; on Wine it never comes and the log says so).
sleep "${SETTLE_SECONDS:-8}"
pk=$(linux_pid Kalnix.exe); pb=$(linux_pid BenchBaseline.exe); pi=$(linux_pid BenchImports.exe)
[ -n "$pk" ] && [ -n "$pb" ] && [ -n "$pi" ] || { echo "cannot find the processes" >&2; exit 1; }
mem_k=$(private_kib "$pk"); mem_b=$(private_kib "$pb"); mem_i=$(private_kib "$pi")
anon_k=$(anon_kib "$pk"); anon_b=$(anon_kib "$pb"); anon_i=$(anon_kib "$pi")
thr_k=$(threads "$pk"); thr_b=$(threads "$pb"); thr_i=$(threads "$pi")
v0k=$(voluntary "$pk"); v0b=$(voluntary "$pb"); v0i=$(voluntary "$pi")
sleep "$idle"
v1k=$(voluntary "$pk"); v1b=$(voluntary "$pb"); v1i=$(voluntary "$pi")
launch end KalnixWndClass KalnixWnd
launch end BaselineWndClass BaselineWnd
launch end ImportsWndClass ImportsWnd
wake_k=$((v1k - v0k)); wake_b=$((v1b - v0b)); wake_i=$((v1i - v0i))

row() { awk -v f="$1" -v k="$2" -v b="$3" -v i="$4" -v g="$5" \
  'BEGIN {r = (b > 0) ? sprintf("%.3f", k / b) : "-"; s = (i > 0) ? sprintf("%.3f", k / i) : "-";
          printf "%-40s %9s %9s %7s %12s %7s  %s\n", f, k, b, r, i, s, g}'; }
echo
echo "architecture: $arch (Wine $(kalnix_wine --version)), lid driver: $lid_driver"
printf '%-40s %9s %9s %7s %12s %7s  %s\n' "figure" "Kalnix" "baseline" "ratio" "+imports" "ratio" "goal"
row "voluntary context switches, ${idle} s idle" "$wake_k" "$wake_b" "$wake_i" "no more than baseline"
row "threads" "$thr_k" "$thr_b" "$thr_i" ""
row "private memory after start, KiB" "$mem_k" "$mem_b" "$mem_i" "within 1024 KiB of baseline"
row "  of it anonymous, KiB" "$anon_k" "$anon_b" "$anon_i" "(Wine writes ~964 KiB of every running thread's stack)"
row "start to window, ms (median of $rounds)" "$start_k" "$start_b" "$start_i" "ratio <= 1.2"
awk -v k="$mem_k" -v b="$mem_b" -v i="$mem_i" \
  'BEGIN {printf "  private memory difference: %+d KiB to baseline, %+d KiB to baseline+imports\n", k - b, k - i}'

echo
printf '%-34s %10s %10s %8s\n' "alarm (AlarmTime 5, RestAfter 10)" "measured" "goal" "ratio"
wine "$build/bench/bench_alarm.exe" 5 11 10 </dev/null 2>/dev/null | tr -d '\r'
