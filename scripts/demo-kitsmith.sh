#!/usr/bin/env bash
# Shows Kitsmith at work: under Xvfb, the real Kitsmith.exe is driven through its menu
# (tools/wintest/uidrive) to create a new package from the stand-in prototype (choose the
# version, change a value in the property grid, save), then to edit that package. Prints
# the main window's log and the saved package's files; stops everything it started.
# usage: demo-kitsmith.sh [BUILD_DIR]   (the tree BUILD_DIR/windows, built)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
if [ -z "${KITSMITH_DEMO_DISPLAY:-}" ]; then
  exec env KITSMITH_DEMO_DISPLAY=1 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$build"
fi
bin="$build/windows/bin"
for program in "$bin/Kitsmith.exe" "$bin/uidrive.exe" "$bin/PackagePrototypes"; do
  [ -e "$program" ] || { echo "demo: $program is missing; run 'make build' first" >&2; exit 1; }
done

. "$root/scripts/x11-prefix.sh" "$build/windows"

work=$(mktemp -d /tmp/kitsmith-demo.XXXXXX)
data="$work/data"
mkdir -p "$data"
tool_pid=""
cleanup() {
  if [ -n "$tool_pid" ] && kill -0 "$tool_pid" 2>/dev/null; then kill "$tool_pid" 2>/dev/null || true; fi
  wine reg delete 'HKLM\SOFTWARE\IdentraHack' /v KitsmithDataRoot /f >/dev/null 2>&1 || true
  # Only this prefix's server, before the X server goes.
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The data folder of this run, and no browser for the package views the tool opens.
wine reg add 'HKLM\SOFTWARE\IdentraHack' /v KitsmithDataRoot /d "$(winepath -w "$data")" /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /d "" /f >/dev/null 2>&1

main="Identra_Deployment_Tool"
editor="Identra_Package_Configuration"
info="Qel_Identra_Deployment_Kit_Information"
cat >"$work/new-and-edit.txt" <<SCRIPT
wait $main
# File > New package...: the first prototype version, a server, a value in the grid, Save and Quit
command $main 32777
wait Choose_Package_Version
command Choose_Package_Version 1
wait $editor
settext $editor 1037 127.0.0.1;10.0.0.7:8080
cell $editor 1069 90 135 30000
command $editor 32789
wait Save_Package
command Save_Package 1
wait $info
click $info 6
gone $editor
# File > Edit package...: the package just saved, another value, Save and Quit
command $main 32781
wait Select_Package
select Select_Package 1064 New Package 1
command Select_Package 1
wait $editor
cell $editor 1069 90 135 45000
command $editor 32789
gone $editor
print $main 1035
command $main 32776
gone $main
SCRIPT

echo "== starting Kitsmith.exe under Wine on Xvfb; data folder $data"
wine "$bin/Kitsmith.exe" >"$work/tool.out" 2>&1 &
tool_pid=$!
echo "== driving it: new package, then edit package; the main window's log:"
if ! wine "$bin/uidrive.exe" "$(winepath -w "$work/new-and-edit.txt")" 2>"$work/drive.err" | tr -d '\r' | sed 's/^/   | /'; then
  echo "== demo FAILED while driving the tool:" >&2
  cat "$work/drive.err" >&2
  exit 1
fi
grep . "$work/drive.err" >&2 || true
wait "$tool_pid" || true
tool_pid=""

package="$data/Packages/New Package 1"
if ! grep -q 'RH\[45000\]' "$package/Idagent.cfg" 2>/dev/null; then
  echo "== demo FAILED: no package with the edited value was saved in $data/Packages" >&2
  exit 1
fi
echo "== the saved package ($package):"
(cd "$package" && find . -type f | sort | sed 's/^\.\//   /')
echo "== its Idagent.cfg:"
tr -d '\r' <"$package/Idagent.cfg" | sed 's/^/   /'
echo
echo "== its package-version.cmd:"
tr -d '\r' <"$package/package-version.cmd" | sed 's/^/   /'
echo "== Kitsmith demo finished"
