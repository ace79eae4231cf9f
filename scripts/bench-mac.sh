#!/usr/bin/env bash
# Footprint of QelIdentra logged on to the stand-in appliance and idle for 30 s, beside a
# trivial program that wakes once a second in poll() (Mac/bench/pollloop.cpp), measured in
# the same run: resident and private memory, CPU time used while idle, and wake-ups per
# second (context switches). As root both run as nobody in the sandbox of
# tools/sandbox/netns-sandbox.sh; otherwise as the current user with a temporary HOME, the
# appliance on 127.0.0.1 (the host's interfaces then decide whether the agent connects).
# usage: bench-mac.sh [BUILD_DIR]   (the tree BUILD_DIR/native, built)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
bin="$build/native/bin"
sandbox="$root/tools/sandbox/netns-sandbox.sh"
listing="$root/Mac/tests/fixtures/dscl-ad.txt"
idle_seconds=30

work=$(mktemp -d)
box=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  bash "$sandbox" down "$box" >/dev/null 2>&1 || rm -rf "$box"
  rm -rf "$work"
}
trap cleanup EXIT

in_sandbox=0
if [ "$(id -u)" -eq 0 ]; then
  SANDBOX_BUILD="$build/native" bash "$sandbox" up "$box" >/dev/null
  # shellcheck disable=SC1091
  . "$box/sandbox.env"
  in_sandbox=1
  events=$APPLIANCE_OUT
  home=$HOME_DIR
  start() {
    local name=$1
    shift
    bash "$sandbox" run "$box" --dscl "$listing" -- "$@" >"$work/$name.out" 2>&1 &
    pids+=($!)
  }
else
  events="$work/appliance.out"
  "$bin/appliance" --port 0 >"$events" 2>&1 &
  pids+=($!)
  for _ in $(seq 1 50); do
    PORT=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$events")
    [ -n "$PORT" ] && break
    sleep 0.1
  done
  home="$work/home"
  mkdir -p "$home/Library/Logs"
  start() {
    local name=$1
    shift
    HOME="$home" PATH="$root/tools/fakes:$PATH" FAKE_DSCL_OUTPUT="$listing" "$@" >"$work/$name.out" 2>&1 &
    pids+=($!)
  }
fi

start pollloop "$bin/pollloop"
baseline=${pids[-1]}
start agent "$bin/QelIdentra" "RA[127.0.0.1:$PORT]"
agent=${pids[-1]}
for _ in $(seq 1 200); do
  grep -q '"kind":"STAT"' "$events" && break
  sleep 0.1
done
grep -q '"kind":"STAT"' "$events" || echo "bench: the agent did not log on (measured all the same)" >&2
sleep 2

# Values of a process: rss_kb private_kb cpu_ticks context_switches
sample() {
  local pid=$1
  awk '/^VmRSS:/ { print $2 }' /proc/"$pid"/status | tr '\n' ' '
  awk '/^Private_(Clean|Dirty):/ { n += $2 } END { printf "%d ", n }' /proc/"$pid"/smaps_rollup
  awk '{ printf "%d ", $14 + $15 }' /proc/"$pid"/stat
  awk '/ctxt_switches/ { n += $2 } END { print n }' /proc/"$pid"/status
}
read -r _ _ agent_cpu0 agent_cs0 < <(sample "$agent")
read -r _ _ base_cpu0 base_cs0 < <(sample "$baseline")
sleep "$idle_seconds"
read -r agent_rss agent_private agent_cpu1 agent_cs1 < <(sample "$agent")
read -r base_rss base_private base_cpu1 base_cs1 < <(sample "$baseline")
hz=$(getconf CLK_TCK)
rate() { awk -v a="$1" -v b="$2" -v s="$idle_seconds" 'BEGIN { printf "%.1f", (b - a) / s }'; }

where="as nobody in a network namespace"
[ "$in_sandbox" = 1 ] || where="as $(id -un) on the host"
printf 'QelIdentra logged on and idle for %d s (%s)\n' "$idle_seconds" "$where"
printf '                                  resident KiB  private KiB  CPU ms  wake-ups/s\n'
printf '  QelIdentra                      %12d  %11d  %6d  %10.1f\n' "$agent_rss" "$agent_private" \
  $(( (agent_cpu1 - agent_cpu0) * 1000 / hz )) "$(rate "$agent_cs0" "$agent_cs1")"
printf '  pollloop (trivial poll() loop)  %12d  %11d  %6d  %10.1f\n' "$base_rss" "$base_private" \
  $(( (base_cpu1 - base_cpu0) * 1000 / hz )) "$(rate "$base_cs0" "$base_cs1")"
