#!/usr/bin/env bash
# What Kalnix sizes itself, at 100, 150 and 200 % display scale. Wine takes its DPI from
# HKCU\Control Panel\Desktop\LogPixels when its server starts, so the scales run one after the
# other in a prefix of this test's own, its server started anew for each.
#   dpi_test.sh ARCH BUILD_DIR
set -euo pipefail
arch=$1
build=$2
. "$(dirname "$0")/../../../scripts/wine-env.sh"
unset WINEDLLOVERRIDES  # the helper's own: no Mono or Gecko installers in the new prefix
kalnix_wine_env "$arch" "$build/wineprefix-dpi"
trap kalnix_server_stop EXIT
kalnix_prefix_ready

status=0
for dpi in 96 144 192; do
  kalnix_wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null
  kalnix_server_stop
  echo "== $dpi DPI"
  KALNIX_TEST_DPI=$dpi kalnix_wine "$build/tests/bin/app_dpi_tests.exe" || status=1
done
exit $status
