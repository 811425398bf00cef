#!/usr/bin/env bash
# Takes screenshots of the status and settings dialogs of the built Kalnix.exe under Xvfb,
# opened through the real path (tray double-click, then the "Configure Kalnix" link). Xvfb
# has no window manager, so the dialogs show without frames. Output: build/screenshots/*.png
# Usage: scripts/screenshots.sh   (after a build)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build/screenshots
mkdir -p "$out"
export WINEPREFIX=$root/build/wineprefix-screenshots WINEARCH=win32 WINEDEBUG=-all

i686-w64-mingw32-gcc -O2 -o "$out/open-dialogs.exe" scripts/screenshots/open-dialogs.c

display=:$((300 + RANDOM % 100))
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
trap 'wineserver -k 2>/dev/null || true; kill $xvfb 2>/dev/null || true' EXIT
sleep 1
scripts/wine-prefix.sh up "$WINEPREFIX"
wine reg add 'HKLM\Software\Kalnix' /v Action /t REG_DWORD /d 2 /f >/dev/null
wine reg add 'HKLM\Software\Kalnix' /v AlarmTime /t REG_DWORD /d 15 /f >/dev/null

cp build/bin/Kalnix.exe "$out/"
wine "$out/Kalnix.exe" </dev/null >/dev/null 2>&1 &
for _ in $(seq 50); do wine "$out/open-dialogs.exe" status >/dev/null 2>&1 && break; sleep 0.2; done
sleep 3
import -display "$display" -window root "$out/status.png"
wine "$out/open-dialogs.exe" settings
sleep 2
import -display "$display" -window root "$out/settings.png"
wine taskkill /IM Kalnix.exe >/dev/null 2>&1 || true
echo "screenshots: $out/status.png $out/settings.png"
