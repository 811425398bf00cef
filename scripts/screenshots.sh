#!/usr/bin/env bash
# Pictures of Kalnix for the README, at 100 % and 150 % display scale (Wine's LogPixels 96 and
# 144). The built x64 Kalnix.exe runs inside a Wine desktop on a private Xvfb, so its icon sits
# in the desktop's notification area and its dialogs have frames; each window is opened the
# way a user opens it. Output: docs/NAME-100.png and docs/NAME-150.png (committed).
# Usage: scripts/screenshots.sh   (after a build)
set -euo pipefail
cd "$(dirname "$0")/.."
# Without Wine's own fonts every caption's close box is the letter "r" and the dialogs' texts
# take other widths than on Windows ("MS Shell Dlg" is Tahoma).
wine_fonts=/usr/share/wine/fonts
for font in tahoma.ttf tahomabd.ttf marlett.ttf; do
  if [ ! -f "$wine_fonts/$font" ]; then
    echo "screenshots: Wine's font $wine_fonts/$font is missing: install fonts-wine (scripts/install-deps.sh)" >&2
    exit 1
  fi
done
. scripts/wine-env.sh
docs=$PWD/docs
work=$PWD/build/screenshots
desktop=KalnixScreenshots
mkdir -p "$docs" "$work"
kalnix_wine_env x64 "$PWD/build/x64/wineprefix-screenshots"
x86_64-w64-mingw32-gcc -O2 -o "$work/open-dialogs.exe" scripts/screenshots/open-dialogs.c
cp build/x64/bin/Kalnix.exe "$work/"

unset DISPLAY
kalnix_start_xvfb
trap 'kalnix_server_stop; kill "$KALNIX_XVFB_PID" 2>/dev/null || true' EXIT
kalnix_prefix_ready
# Debian's Wine 8 does not find the fonts in its own data folder: they go into the prefix's.
cp "$wine_fonts"/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"

# A program started in the Wine desktop (where Kalnix's windows are), in the background: the
# first one creates the desktop and keeps it.
in_desktop() {
  kalnix_wine explorer "/desktop=$desktop,1024x768" "$(kalnix_wine winepath -w "$1")" "${@:2}" \
    </dev/null >/dev/null 2>&1 &
}

# Opens a window with open-dialogs.exe STEP and saves it as docs/NAME-SCALE.png, cut from the
# Wine desktop's X window at the rectangle the helper reports.
capture() {
  local name=$1 step=$2 geometry=$work/geometry
  rm -f "$geometry"
  in_desktop "$work/open-dialogs.exe" "$step" "$(kalnix_wine winepath -w "$geometry")"
  for _ in $(seq 100); do [ -s "$geometry" ] && break; sleep 0.2; done
  [ -s "$geometry" ] || { echo "screenshots: no window for \"$step\"" >&2; return 1; }
  sleep 2  # painted, logo included
  import -display "$DISPLAY" -window "$(xdotool search --name "$desktop" | head -n 1)" \
    -crop "$(tr -d '\r' <"$geometry")" +repage "$docs/$name-$scale.png"
  echo "screenshots: docs/$name-$scale.png"
}

# More settings, then the tray menu (left open for its picture).
capture_menu_windows() {
  capture more-settings more
  capture tray-menu menu
}

for dpi in 96 144; do
  scale=$((dpi * 100 / 96))
  kalnix_server_stop
  kalnix_server_start
  kalnix_wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null
  kalnix_server_stop  # Wine reads the DPI when its server starts
  kalnix_server_start
  kalnix_seed_settings Action=2 AlarmTime=15 RestAfter=60 HibernateAfter=60 StandbyDrainAlert=5
  # A few closures for More settings' list, newest first, as Kalnix records them.
  kalnix_wine reg add 'HKLM\Software\Kalnix' /v LidClosures /t REG_MULTI_SZ /f /d "$(printf '%s\\0' \
    '2025-03-04 22:40  Put to rest by Kalnix (hibernation) after 75 s: Lid-close action on battery is Do nothing' \
    '2025-03-04 10:15  Slept after 8 s; the standby used 4% in 1 h 05 min' \
    '2025-03-03 18:02  The alarm rang for 12 s and was heard')" >/dev/null
  in_desktop "$work/Kalnix.exe"
  for _ in $(seq 50); do xdotool search --name "$desktop" >/dev/null 2>&1 && break; sleep 0.2; done
  capture status status
  capture settings settings
  capture_menu_windows
done
