#!/usr/bin/env bash
# Idle cost of the protection service with one face against today's single Kalnix.exe, both in
# the lid alarm (mode 2, AlarmTime 60, RestAfter 10) with the simulated lid-sensor driver, lid
# open, under Wine: wake-ups while idle (voluntary context switches), threads and private
# memory, beside a bare window program (what Wine charges for a process) and the same program
# with four more threads that only wait (what it charges for a thread). Then the time from the
# service's start to protection applied (automatic protection: the stand-in power library's
# lid-close flags read forced) and from a face's start to its icon in a Wine desktop's
# notification area.
#   bench/idle/run-service-bench.sh [ARCH]   (x64 by default; IDLE_SECONDS=60 ROUNDS=5)
# Measures the build tree build/ARCH (BUILD_DIR=... another) in its own prefix
# build/ARCH/bench-service-prefix. Starts its own Xvfb when DISPLAY is unset.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/scripts/wine-env.sh"
arch=${1:-x64}
build=${BUILD_DIR:-$root/build/$arch}
idle=${IDLE_SECONDS:-60}
rounds=${ROUNDS:-5}
export WINEDLLOVERRIDES="powrprof=n,b;mscoree,mshtml="
kalnix_wine_env "$arch" "$build/bench-service-prefix"
wine() { kalnix_wine "$@"; }

cmake --build "$build" --target Kalnix KalnixCA_standard lidsim lidctl powrprof_standin protection_service_tool \
  bench_baseline bench_launch bench_service_start >/dev/null

kalnix_start_xvfb
kalnix_prefix_ready
kalnix_power_standin "$build/tests/bin/powrprof.dll"
kalnix_server_start
dir=$WINEPREFIX/drive_c/kalnixservicebench
service() {
  wine "$build/tests/bin/protection_service_tool.exe" "$(wine winepath -w "$build/bin/standard/KalnixCA.dll")" "$@" \
    </dev/null | tr -d '\r'
}
trap 'service remove >/dev/null 2>&1 || true; kalnix_server_stop; [ -n "$KALNIX_XVFB_PID" ] && kill "$KALNIX_XVFB_PID" 2>/dev/null || true' EXIT
service remove >/dev/null || true

mkdir -p "$dir"
cp "$build/bin/Kalnix.exe" "$dir/Kalnix.exe"
cp "$build/bench/bench_baseline.exe" "$dir/BenchBaseline.exe"
kalnix=C:\\kalnixservicebench\\Kalnix.exe
launch() {
  wine "$build/bench/bench_launch.exe" "$@" </dev/null >"$dir/launch.out" 2>/dev/null || true
  tr -d '\r' <"$dir/launch.out"
}
kalnix_seed_settings Action=2 AlarmTime=60 RestAfter=10 PowerSettings1=1 PowerSettings2=3
# The service does not inherit this environment: the stand-in power library is the prefix's choice.
wine reg add 'HKCU\Software\Wine\DllOverrides' /v powrprof /t REG_SZ /d native,builtin /f >/dev/null
wine "$build/tests/bin/lidctl.exe" install "$(wine winepath -w "$build/tests/bin/lidsim.sys")" </dev/null
wine "$build/tests/bin/lidctl.exe" open </dev/null

# Linux pid of a Wine process by the end of its command line.
linux_pid() { pgrep -n -f "kalnixservicebench.$1\$" || true; }
. "$root/bench/idle/process_figures.sh"
# Threads, private KiB and wake-ups over the idle time, of each pid given, measured side by side.
measure() {
  local pid
  for pid in "$@"; do eval "thr_$pid=\$(threads $pid) mem_$pid=\$(private_kib $pid) v0_$pid=\$(voluntary $pid)"; done
  sleep "$idle"
  for pid in "$@"; do eval "wake_$pid=\$((\$(voluntary $pid) - v0_$pid))"; done
}
settle() { sleep "${SETTLE_SECONDS:-8}"; }

# What Wine charges: a bare window program, and the same with four more threads.
launch start "C:\\kalnixservicebench\\BenchBaseline.exe" BaselineWndClass BaselineWnd >/dev/null
settle
pb=$(linux_pid BenchBaseline.exe)
mem_base=$(private_kib "$pb"); thr_base=$(threads "$pb")
launch end BaselineWndClass BaselineWnd >/dev/null
launch start "C:\\kalnixservicebench\\BenchBaseline.exe" BaselineWndClass BaselineWnd 4 >/dev/null
settle
pb=$(linux_pid 'BenchBaseline.exe 4')
mem_base4=$(private_kib "$pb"); thr_base4=$(threads "$pb")
launch end BaselineWndClass BaselineWnd >/dev/null

# Today's Kalnix, alone (no service registered).
launch start "$kalnix" KalnixWndClass KalnixWnd >/dev/null
settle
ps=$(linux_pid Kalnix.exe)
[ -n "$ps" ] || { echo "cannot find the standalone Kalnix" >&2; exit 1; }
measure "$ps"
eval "s_thr=\$thr_$ps s_mem=\$mem_$ps s_wake=\$wake_$ps"
launch end KalnixWndClass KalnixWnd >/dev/null

# The service and one face.
service install "$kalnix"
service start
launch start "$kalnix" KalnixWndClass KalnixWnd >/dev/null
settle
pv=$(linux_pid 'Kalnix.exe -service'); pf=$(linux_pid Kalnix.exe)
[ -n "$pv" ] && [ -n "$pf" ] || { echo "cannot find the service and its face" >&2; exit 1; }
measure "$pv" "$pf"
eval "v_thr=\$thr_$pv v_mem=\$mem_$pv v_wake=\$wake_$pv f_thr=\$thr_$pf f_mem=\$mem_$pf f_wake=\$wake_$pf"
launch end KalnixWndClass KalnixWnd >/dev/null

# A face's start to its icon, in a Wine desktop (its notification area), one round at a time.
: >"$dir/icon"
for round in $(seq "$rounds"); do
  wine explorer /desktop=KalnixBench,800x600 "$build/bench/bench_launch.exe" icon "$kalnix" \
    "C:\\kalnixservicebench\\icon" </dev/null >/dev/null 2>&1 &
  for _ in $(seq 300); do [ "$(wc -l <"$dir/icon")" -ge "$round" ] && break; sleep 0.1; done
done
icon_ms=$(median <"$dir/icon")

# The service's start to protection applied, in automatic protection.
service stop
kalnix_seed_settings Action=1
wine "$build/bench/bench_service_start.exe" "$rounds" </dev/null 2>/dev/null | tr -d '\r' >"$dir/applied" || true
applied_ms=$(median <"$dir/applied")

echo
echo "architecture: $arch (Wine $(kalnix_wine --version)), lid driver: simulated, mode 2, ${idle} s idle"
printf '%-36s %10s %10s %10s %12s  %s\n' "figure" "service" "face" "together" "standalone" "goal"
printf '%-36s %10s %10s %10s %12s  %s\n' "voluntary context switches" "$v_wake" "$f_wake" "$((v_wake + f_wake))" \
  "$s_wake" "0 for each"
printf '%-36s %10s %10s %10s %12s\n' "threads" "$v_thr" "$f_thr" "$((v_thr + f_thr))" "$s_thr"
printf '%-36s %10s %10s %10s %12s  %s\n' "private memory, KiB" "$v_mem" "$f_mem" "$((v_mem + f_mem))" "$s_mem" \
  "together within 1024 KiB of standalone"
echo "  together minus standalone: $((v_mem + f_mem - s_mem)) KiB"
echo "  what Wine charges: a bare window program $mem_base KiB private ($thr_base threads);" \
  "each more thread $(((mem_base4 - mem_base) / (thr_base4 - thr_base))) KiB"
echo "service start to protection applied: $applied_ms ms (median of $rounds: $(tr '\n' ' ' <"$dir/applied"))"
echo "face start to its icon: $icon_ms ms (median of $rounds: $(tr '\n' ' ' <"$dir/icon"))"
