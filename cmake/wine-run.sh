#!/usr/bin/env bash
# Runs one Windows program under the project's Wine prefix; ./dev test starts the
# wineserver and Xvfb that this relies on and exports WINEPREFIX and DISPLAY.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine-run: no Wine prefix at $WINEPREFIX; run the tests with ./dev test" >&2
  exit 125
fi
exec wine "$@"
