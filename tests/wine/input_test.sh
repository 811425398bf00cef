#!/usr/bin/env bash
# A person at the keyboard or mouse stops a ringing alarm, with the input as Windows delivers
# it: the X server's pointer, moved by xdotool inside a Wine desktop window, reaches Kalnix.exe
# as raw input from a device. Kalnix runs with the simulated lid-sensor driver in the test
# prefix that ctest's environment names. Argument: the build tree.
set -euo pipefail
build=$1
run=$build/tests/input-run
desktop=KalnixInput$$

wine() { "$WINELOADER" "$@"; }
lidctl() { wine "$build/tests/bin/lidctl.exe" "$@" >/dev/null; }
log_lines() { grep -cF "$1" "$run/Kalnix.log" 2>/dev/null || true; }
# Kalnix opens its log exclusively, and a line it writes while a reader holds the file is lost:
# the file is read only once its size has stood still for a moment.
wait_for_lines() {
  local line=$1 count=$2 size=-1 now
  for _ in $(seq 100); do
    now=$(stat -c %s "$run/Kalnix.log" 2>/dev/null || echo -1)
    if [ "$now" = "$size" ] && [ "$(log_lines "$line")" -ge "$count" ]; then return 0; fi
    size=$now
    sleep 0.3
  done
  echo "Kalnix.log never held \"$line\" $count times:" >&2
  cat "$run/Kalnix.log" >&2 || true
  return 1
}

rm -rf "$run"
mkdir -p "$run"
cp "$build/bin/Kalnix.exe" "$run/"
# As the setup program leaves them; Wine's one display counts as external, and RestAfter 0
# keeps the rest out of this test.
for setting in Action=2 AlarmTime=1 EnableLogging=1 AlarmWithExternalDisplay=1 RestAfter=0; do
  wine reg add 'HKLM\Software\Kalnix' /v "${setting%%=*}" /t REG_DWORD /d "${setting#*=}" /f >/dev/null
done
lidctl install "$(wine winepath -w "$build/tests/bin/lidsim.sys")"
lidctl open
trap 'wine taskkill /F /IM Kalnix.exe >/dev/null 2>&1 || true' EXIT
wine explorer "/desktop=$desktop,640x480" "$(wine winepath -w "$run/Kalnix.exe")" </dev/null >/dev/null 2>&1 &

wait_for_lines "Hibernation: " 1
lidctl close
wait_for_lines "Still awake with the lid closed" 1
window=$(xdotool search --name "$desktop" | head -n 1)
xdotool mousemove --window "$window" 100 100 sleep 0.2 mousemove --window "$window" 300 200
wait_for_lines "Someone is at the laptop: the alarm stops and waits again" 1
# It waits the full delay again, and rings when nobody touches anything.
wait_for_lines "Still awake with the lid closed" 2
echo "a person's input stopped the ringing alarm"
