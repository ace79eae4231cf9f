#!/usr/bin/env bash
# Idle wake-ups and quit-to-exit time of idagent.exe, logged on to the stand-in appliance,
# beside a trivial idle Win32 program (idlewindow.exe) under the same Wine.
#   wake-ups: context switches of all the program's threads per second while it idles (under
#   Wine one timer tick costs several: each call into the Wine server is one)
#   quit to exit: from the answered quit request (postmsg returns) to the end of the process
# usage: bench-idle.sh [BUILD_DIR]   (the trees BUILD_DIR/native and BUILD_DIR/windows, built)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
appliance="$build/native/bin/appliance"
bin="$build/windows/bin"
prefix="$build/windows/wineprefix"
wine_run="$root/cmake/wine-run.sh"
idle_seconds=10

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  "$wine_run" "$prefix" --stop
  rm -rf "$work"
}
trap cleanup EXIT

# Context switches of every thread of a process.
switches() {
  cat /proc/"$1"/task/*/status 2>/dev/null | awk '/ctxt_switches/ { n += $2 } END { print n + 0 }'
}

# The Linux process that runs the program (its name, as the kernel shows it) started by
# wine-run.sh with the process id $1.
program_pid() {
  local launcher=$1 name=$2 pid
  for _ in $(seq 1 200); do
    for pid in $(cat /proc/"$launcher"/task/*/children 2>/dev/null); do
      [ "$(cat /proc/"$pid"/comm 2>/dev/null)" = "$name" ] && { echo "$pid"; return; }
    done
    sleep 0.05
  done
}

# Prints "<wake-ups per second> <quit-to-exit ms>" for the program whose launcher is $1.
measure() {
  local launcher=$1 name=$2 class=$3 pid before after start end
  pid=$(program_pid "$launcher" "$name")
  [ -n "$pid" ] || { echo "bench: $name did not start" >&2; exit 1; }
  sleep 2
  before=$(switches "$pid")
  sleep "$idle_seconds"
  after=$(switches "$pid")
  "$wine_run" "$prefix" "$bin/postmsg.exe" "$class" send 0x8191 2 >/dev/null
  start=$(date +%s%N)
  while kill -0 "$pid" 2>/dev/null; do sleep 0.002; done
  end=$(date +%s%N)
  wait "$launcher" 2>/dev/null || true
  echo "$(( (after - before) / idle_seconds )) $(( (end - start) / 1000000 ))"
}

"$wine_run" "$prefix" "$bin/postmsg.exe" >/dev/null 2>&1 || true  # the prefix and its server, up front

"$appliance" --port 0 >"$work/appliance.out" 2>&1 &
pids+=($!)
port=""
for _ in $(seq 1 50); do
  port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/appliance.out")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "bench: the appliance did not start" >&2; exit 1; }

"$wine_run" "$prefix" "$bin/idlewindow.exe" &
launcher=$!
pids+=("$launcher")
read -r idle_wakeups idle_quit < <(measure "$launcher" idlewindow.exe IdleWindowClass)

"$wine_run" "$prefix" "$bin/idagent.exe" "RA[127.0.0.1:$port]" NP[1] >/dev/null 2>&1 &
launcher=$!
pids+=("$launcher")
for _ in $(seq 1 300); do
  grep -q '"kind":"STAT"' "$work/appliance.out" && break
  sleep 0.1
done
grep -q '"kind":"STAT"' "$work/appliance.out" || { echo "bench: the agent did not log on" >&2; exit 1; }
read -r agent_wakeups agent_quit < <(measure "$launcher" idagent.exe TavoAuthClass)

printf 'idle for %d s under Wine       context switches/s  quit to exit (ms)\n' "$idle_seconds"
printf '  idagent.exe, logged on            %10d  %17d\n' "$agent_wakeups" "$agent_quit"
printf '  idlewindow.exe (trivial program)  %10d  %17d\n' "$idle_wakeups" "$idle_quit"
