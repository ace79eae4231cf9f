#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's private prefix.
# usage: wine-run.sh PREFIX_DIR PROGRAM [ARGS...]
# The prefix is created once; a persistent wineserver serves the whole test run
# and ends by itself shortly after the last program (or by `wine-run.sh PREFIX --stop`).
set -u
prefix=$1
shift
export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
# The null display driver gives windows and message boxes without an X server.
unset DISPLAY WAYLAND_DISPLAY

if [ "${1:-}" = "--stop" ]; then
  [ -d "$prefix" ] && wineserver -k 2>/dev/null
  exit 0
fi

init_prefix() {
  mkdir -p "$prefix"
  exec 9>"$prefix.lock"
  flock 9
  if [ ! -f "$prefix/.ready" ]; then
    wineboot -i >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    wineserver -w
    touch "$prefix/.ready"
  fi
  flock -u 9
}
[ -f "$prefix/.ready" ] || init_prefix

# One persistent server for the run; it ends 60 s after its last client.
wineserver -p60 >/dev/null 2>&1 </dev/null || true
# Wine's own helper processes outlive the program and inherit its output; a
# pipe held open by them would keep the caller (ctest) waiting until the server
# ends. They get a file instead, which is copied out when the program ends.
out=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
wine "$@" >"$out" 2>&1 </dev/null
status=$?
cat "$out"
rm -f "$out"
exit $status
