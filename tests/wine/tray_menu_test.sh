#!/usr/bin/env bash
# The tray menu under a person's clicks: Kalnix.exe runs inside a Wine desktop, whose
# notification area is drawn at its bottom right, and xdotool right-clicks its icon there.
# A click elsewhere closes the menu unused; chosen from the keyboard, "Exit Kalnix" (the last
# item) ends Kalnix with everything put back: the simulated lid-sensor driver is told the
# protection is released. Runs in the test prefix that ctest's environment names.
# Argument: the build tree.
set -euo pipefail
build=$1
run=$build/tests/tray-menu-run
desktop=KalnixMenu$$
width=640
height=480

wine() { "$WINELOADER" "$@"; }
lidctl() { wine "$build/tests/bin/lidctl.exe" "$@"; }
# Control requests 1 (protection applied) and 2 (released) the driver has received.
requests() { lidctl counts | tr -d '\r' | cut -d' ' -f1,2; }
# Kalnix.exe of this run only: other Kalnix programs may run on this display.
running() { pgrep -f "^Z:.*tray-menu-run.Kalnix\.exe" >/dev/null; }
fail() { echo "$1" >&2; cat "$run/Kalnix.log" >&2 || true; exit 1; }
# The icon, the only one in the notification area, sits in the desktop's bottom right corner.
right_click_icon() { xdotool mousemove --window "$window" $((width - 10)) $((height - 10)) click 3; sleep 1; }

rm -rf "$run"
mkdir -p "$run"
cp "$build/bin/Kalnix.exe" "$run/"
for setting in Action=1 AlarmTime=15 EnableLogging=1; do
  wine reg add 'HKLM\Software\Kalnix' /v "${setting%%=*}" /t REG_DWORD /d "${setting#*=}" /f >/dev/null
done
lidctl install "$(wine winepath -w "$build/tests/bin/lidsim.sys")" >/dev/null
lidctl open >/dev/null
lidctl reset >/dev/null
trap 'wine taskkill /F /IM Kalnix.exe >/dev/null 2>&1 || true' EXIT
wine explorer "/desktop=$desktop,${width}x$height" "$(wine winepath -w "$run/Kalnix.exe")" </dev/null >/dev/null 2>&1 &

# Started, and the first protection tick has shown the icon and applied the protection.
for _ in $(seq 100); do
  [ "$(requests)" = "1=1 2=0" ] && break
  sleep 0.3
done
[ "$(requests)" = "1=1 2=0" ] || fail "Kalnix never applied its protection: $(requests)"
window=$(xdotool search --name "$desktop" | head -n 1)
sleep 1

right_click_icon
xdotool mousemove --window "$window" 200 200 click 1
sleep 1
xdotool key Up Return
sleep 2
running || fail "a closed menu still took the keys: Kalnix ended"

right_click_icon
xdotool key Up Return
for _ in $(seq 50); do running || break; sleep 0.2; done
running && fail "\"Exit Kalnix\" did not end Kalnix"
[ "$(requests)" = "1=1 2=1" ] || fail "Kalnix ended without releasing its protection: $(requests)"
echo "the tray menu opened on a right-click, closed on a click elsewhere, and Exit Kalnix ended Kalnix"
