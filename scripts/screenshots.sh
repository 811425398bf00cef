#!/usr/bin/env bash
# Takes screenshots of the status and settings dialogs of the built x64 Kalnix.exe under
# Xvfb, opened through the real path (tray double-click, then the "Configure Kalnix" link).
# Xvfb has no window manager, so the dialogs show without frames. Output: build/screenshots/*.png
# Usage: scripts/screenshots.sh   (after a build)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/wine-env.sh
out=$PWD/build/screenshots
mkdir -p "$out"
kalnix_wine_env x64 "$PWD/build/x64/wineprefix-screenshots"

x86_64-w64-mingw32-gcc -O2 -o "$out/open-dialogs.exe" scripts/screenshots/open-dialogs.c

unset DISPLAY
kalnix_start_xvfb
trap 'kalnix_server_stop; kill "$KALNIX_XVFB_PID" 2>/dev/null || true' EXIT
kalnix_prefix_ready
kalnix_server_start
kalnix_seed_settings Action=2 AlarmTime=15

cp build/x64/bin/Kalnix.exe "$out/"
kalnix_wine "$out/Kalnix.exe" </dev/null >/dev/null 2>&1 &
for _ in $(seq 50); do kalnix_wine "$out/open-dialogs.exe" status >/dev/null 2>&1 && break; sleep 0.2; done
sleep 3
import -display "$DISPLAY" -window root "$out/status.png"
kalnix_wine "$out/open-dialogs.exe" settings
sleep 2
import -display "$DISPLAY" -window root "$out/settings.png"
kalnix_wine taskkill /IM Kalnix.exe >/dev/null 2>&1 || true
echo "screenshots: $out/status.png $out/settings.png"
