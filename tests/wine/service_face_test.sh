#!/usr/bin/env bash
# Kalnix.exe as the face of its session beside the real protection service: the service
# registered through KalnixCA.dll and run by Wine's service manager with the simulated lid-sensor
# driver, the face started in a Wine desktop, where the X server's pointer reaches it as a
# person's input (xdotool). The lid closes and the alarm rings; a person's input in the face's
# desktop stops it; a second Kalnix in the session ends at once; the face's Exit shows its note
# and ends with 0 while the service keeps protecting. Each step waits for what it shows (the
# service's log, desktop_probe.exe inside the desktop), never for a fixed time. Runs in a fresh
# prefix that ctest's environment names. Argument: the build tree.
set -euo pipefail
build=$1
run=$build/tests/service-face-run
desktop=KalnixFace$$
width=640
height=480

wine() { "$WINELOADER" "$@"; }
winpath() { wine winepath -w "$1"; }
lidctl() { wine "$build/tests/bin/lidctl.exe" "$@" </dev/null >/dev/null; }
service() {
  wine "$build/tests/bin/protection_service_tool.exe" "$(winpath "$build/bin/standard/KalnixCA.dll")" "$@" \
    </dev/null | tr -d '\r'
}
fail() { echo "$1" >&2; cat "$run/Kalnix.log" >&2 || true; exit 1; }
log_lines() { grep -cF "$1" "$run/Kalnix.log" 2>/dev/null || true; }
# Kalnix opens its log exclusively, and a line it writes while a reader holds the file is lost:
# the file is read only once its size has stood still for a moment.
log_holds() {
  local line=$1 count=$2 size=-1 now
  for _ in $(seq "${3:-100}"); do
    now=$(stat -c %s "$run/Kalnix.log" 2>/dev/null || echo -1)
    if [ "$now" = "$size" ] && [ "$(log_lines "$line")" -ge "$count" ]; then return 0; fi
    size=$now
    sleep 0.3
  done
  return 1
}
wait_for_lines() { log_holds "$1" "$2" || fail "Kalnix.log never held \"$1\" $2 times"; }
. "$(dirname "$0")/probe_steps.sh"

rm -rf "$run"
mkdir -p "$run"
cp "$build/bin/Kalnix.exe" "$run/"
kalnix=$(winpath "$run/Kalnix.exe")
# Wine's one display counts as external; RestAfter 0 keeps the rest out of this test.
for setting in Action=2 AlarmTime=1 EnableLogging=1 AlarmWithExternalDisplay=1 RestAfter=0; do
  wine reg add 'HKLM\Software\Kalnix' /v "${setting%%=*}" /t REG_DWORD /d "${setting#*=}" /f >/dev/null
done
# The service does not inherit this environment: the stand-in power library is the prefix's choice.
wine reg add 'HKCU\Software\Wine\DllOverrides' /v powrprof /t REG_SZ /d native,builtin /f >/dev/null
lidctl install "$(winpath "$build/tests/bin/lidsim.sys")"
lidctl open
trap 'service remove >/dev/null 2>&1 || true; wine taskkill /F /IM Kalnix.exe /IM desktop_probe.exe >/dev/null 2>&1 || true' EXIT
service install "$kalnix" || fail "the service was not installed"
service start || fail "the service did not start"
wait_for_lines "Hibernation: " 1

# The probe starts the face, then a second Kalnix in the same session.
states=("run:$kalnix" icon "run:$kalnix" exited menu note exited)
wine explorer "/desktop=$desktop,${width}x$height" "$(winpath "$build/tests/bin/desktop_probe.exe")" \
  "$(winpath "$answer")" "${states[@]}" </dev/null >/dev/null 2>&1 &
seen "run:$kalnix" || fail "the face did not start"
seen icon || fail "the face shows no icon"
seen "run:$kalnix" || fail "the second Kalnix did not start"
seen exited && [ "$x" = 0 ] || fail "a second Kalnix in the session did not end at once with 0: $x"
wait_for_lines "Kalnix in session 1 is connected: the console's" 1
window=$(xdotool search --name "$desktop" | head -n 1)

lidctl close
wait_for_lines "Still awake with the lid closed" 1
# The face watches for a person from the moment the lid closed; the pointer moves until the
# service hears of it.
heard=
for _ in $(seq 10); do
  xdotool mousemove --window "$window" 100 100 sleep 0.2 mousemove --window "$window" 300 200
  if log_holds "Someone is at the laptop: the alarm stops and waits again" 1 10; then heard=1; break; fi
done
[ -n "$heard" ] || fail "a person's input in the face's desktop did not stop the alarm"
lidctl open

# Exit, the menu's last item: the note, then the end, with 0.
click_icon 3
seen menu || fail "a right-click opened no menu"
xdotool mousemove --window "$window" "$x" "$y" click 1
seen note || fail "Exit showed no note"
xdotool mousemove --window "$window" "$x" "$y" click 1
seen exited && [ "$x" = 0 ] || fail "the face did not end with 0 after its note: $x"
[ "$(service state)" = RUNNING ] || fail "the service stopped with its face: $(service state)"
[ "$(log_lines "Kalnix in session 1 is connected")" = 1 ] || fail "the second Kalnix reached the service"
echo "the face rang, heard a person and ended with 0 at its Exit; a second one ended at once; the service runs on"
