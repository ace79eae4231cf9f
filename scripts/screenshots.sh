#!/usr/bin/env bash
# Pictures for the README: runs every screenshot program of the Windows build tree under
# one Xvfb server with Wine's X11 display driver and writes the PNGs to docs/screenshots/.
# usage: screenshots.sh WINDOWS-BUILD-TREE
set -eu
if [ -z "${SCREENSHOTS_DISPLAY:-}" ]; then
  exec env SCREENSHOTS_DISPLAY=1 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi
tree=$(realpath "$1")
out=$(realpath "$(dirname "$0")/..")/docs/screenshots
mkdir -p "$out"
. "$(dirname "$0")/x11-prefix.sh" "$tree"
status=0
for program in "$tree"/bin/*_screenshots.exe; do
  [ -e "$program" ] || continue
  wine "$program" "$(winepath -w "$out")" </dev/null || status=1
done
# Only this prefix's server, before its X server goes.
wineserver -k 2>/dev/null || true
exit $status
