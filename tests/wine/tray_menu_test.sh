#!/usr/bin/env bash
# The tray menu under a person's clicks: Kalnix.exe runs inside a Wine desktop, whose
# notification area is drawn at its bottom right, and xdotool clicks its icon there. A
# right-click or a single left click opens the menu, a click elsewhere closes it unused, and a
# double-click opens Status instead; "Exit Kalnix" (the last item) ends Kalnix with everything
# put back: the simulated lid-sensor driver is told the protection is released. Each step
# waits for what it shows (desktop_probe.exe, inside the desktop, reports it), never for a
# fixed time. Runs in the test prefix that ctest's environment names. Argument: the build tree.
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
# A program started in the Wine desktop, in the background.
in_desktop() {
  wine explorer "/desktop=$desktop,${width}x$height" "$(wine winepath -w "$1")" "${@:2}" </dev/null >/dev/null 2>&1 &
}
# The probe's steps; the icon, the only one in the notification area, sits in the bottom right corner.
. "$(dirname "$0")/probe_steps.sh"
# What the probe looks for, in turn.
states=(icon menu no-menu menu no-menu status no-status menu)

rm -rf "$run"
mkdir -p "$run"
cp "$build/bin/Kalnix.exe" "$run/"
for setting in Action=1 AlarmTime=15 EnableLogging=1; do
  wine reg add 'HKLM\Software\Kalnix' /v "${setting%%=*}" /t REG_DWORD /d "${setting#*=}" /f >/dev/null
done
lidctl install "$(wine winepath -w "$build/tests/bin/lidsim.sys")" >/dev/null
lidctl open >/dev/null
lidctl reset >/dev/null
trap 'wine taskkill /F /IM Kalnix.exe /IM desktop_probe.exe >/dev/null 2>&1 || true' EXIT
# The probe first: a program that starts in the desktop later takes the keyboard from menus.
in_desktop "$build/tests/bin/desktop_probe.exe" "$(wine winepath -w "$answer")" "${states[@]}"
in_desktop "$run/Kalnix.exe"

# Started, and the first protection tick has shown the icon and applied the protection.
for _ in $(seq 100); do
  [ "$(requests)" = "1=1 2=0" ] && break
  sleep 0.3
done
[ "$(requests)" = "1=1 2=0" ] || fail "Kalnix never applied its protection: $(requests)"
window=$(xdotool search --name "$desktop" | head -n 1)
seen icon || fail "no icon in the notification area"

click_icon 3
seen menu || fail "a right-click opened no menu"
xdotool mousemove --window "$window" 200 200 click 1
seen no-menu || fail "a click elsewhere left the menu open"

click_icon 1
seen menu || fail "a single left click opened no menu"
xdotool mousemove --window "$window" 200 200 click 1
seen no-menu || fail "a click elsewhere left the menu open"

click_icon --repeat 2 --delay 80 1
seen status || fail "a double-click opened no status dialog"
xdotool mousemove --window "$window" "$x" "$y" click 1
seen no-status || fail "its Close button left the status dialog open"

# A click on the menu's last item, "Exit Kalnix", ends Kalnix the orderly way. (Under Wine the
# keyboard does not reach a menu while another program runs in the desktop, as the probe does.)
click_icon 1
seen menu || fail "a single left click opened no menu"
xdotool mousemove --window "$window" "$x" "$y" click 1
for _ in $(seq 50); do running || break; sleep 0.2; done
running && fail "\"Exit Kalnix\" did not end Kalnix"
[ "$(requests)" = "1=1 2=1" ] || fail "Kalnix ended without releasing its protection: $(requests)"
echo "the menu opened on a right-click and a left click, closed unused, a double-click opened Status," \
  "and Exit Kalnix ended Kalnix"
