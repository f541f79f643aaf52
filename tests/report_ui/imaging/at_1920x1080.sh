#!/usr/bin/env bash
# Runs a command under a 1920x1080 screen of its own: its own Xvfb and its
# own wineserver, on a copy of the test prefix (made once), so that the
# test run's server and display at 1280x1024 are left alone.
#   at_1920x1080.sh <wine prefix> <command...>
set -euo pipefail
source_prefix="$1"
shift
prefix="${source_prefix}-1920x1080"
if [ ! -f "$prefix/system.reg" ]; then
  rm -rf "$prefix"
  cp -a --reflink=auto "$source_prefix" "$prefix"
fi
export WINEPREFIX="$prefix" WINEDEBUG=-all
exec xvfb-run -a -s "-screen 0 1920x1080x24" bash -c '
  wineserver -p >/dev/null 2>&1
  wine cmd /c exit >/dev/null 2>&1 || true
  trap "wineserver -k >/dev/null 2>&1 || true" EXIT
  "$@"
' bash "$@"
