#!/usr/bin/env bash
# Shows idagent at work: the stand-in appliance on a free loopback port, idagent.exe under
# Wine in session mode against it for about 20 seconds, then the agent is asked to quit.
# Prints what the appliance received and stops everything it started.
# usage: demo.sh [BUILD_DIR]   (the trees BUILD_DIR/native and BUILD_DIR/windows, built)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
appliance="$build/native/bin/appliance"
agent="$build/windows/bin/idagent.exe"
postmsg="$build/windows/bin/postmsg.exe"
prefix="$build/windows/wineprefix"
wine_run="$root/cmake/wine-run.sh"
run_seconds=20
heartbeat_ms=2000

for program in "$appliance" "$agent" "$postmsg"; do
  [ -x "$program" ] || [ -f "$program" ] || { echo "demo: $program is missing; run 'make build' first" >&2; exit 1; }
done

work=$(mktemp -d)
events="$work/appliance.out"
appliance_pid=""
agent_pid=""

cleanup() {
  if [ -n "$agent_pid" ] && kill -0 "$agent_pid" 2>/dev/null; then kill "$agent_pid" 2>/dev/null || true; fi
  if [ -n "$appliance_pid" ] && kill -0 "$appliance_pid" 2>/dev/null; then kill "$appliance_pid" 2>/dev/null || true; fi
  # Ends the Wine server of this prefix only, with whatever still runs in it.
  "$wine_run" "$prefix" --stop
  rm -rf "$work"
}
trap cleanup EXIT

# shellcheck source=scripts/appliance-events.sh
. "$root/scripts/appliance-events.sh"

echo "== starting the stand-in appliance on 127.0.0.1"
"$appliance" --port 0 --heartbeat "$heartbeat_ms" --exit-after $((run_seconds + 60)) >"$events" 2>&1 &
appliance_pid=$!
port=""
for _ in $(seq 1 50); do
  port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$events")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "demo: the appliance did not start" >&2; cat "$events" >&2; exit 1; }
echo "   listening on 127.0.0.1:$port"

config="RA[127.0.0.1:$port] RH[$heartbeat_ms] NP[1] LD[2]"
echo "== starting idagent.exe in session mode under Wine: $config"
[ -f "$prefix/.ready" ] || echo "   (the first start creates the Wine prefix $prefix, which takes a while)"
# shellcheck disable=SC2086  # the configuration entries are separate arguments
"$wine_run" "$prefix" "$agent" $config >"$work/agent.out" 2>&1 &
agent_pid=$!

# Prints the complete event lines that arrived since the last call.
shown=1  # the "listening" line
show_new() {
  local complete
  complete=$(wc -l <"$events")
  if [ "$complete" -gt "$shown" ]; then
    sed -n "$((shown + 1)),${complete}p" "$events" | readable
    shown=$complete
  fi
}

echo "== what the appliance receives (for about $run_seconds seconds):"
# The time starts once the agent connected (a new prefix takes longer to come up).
for _ in $(seq 1 600); do
  grep -q '"event":"connect"' "$events" && break
  kill -0 "$agent_pid" 2>/dev/null || break
  sleep 0.1
done
for _ in $(seq 1 $((run_seconds * 2))); do
  show_new
  sleep 0.5
done

echo "== asking the agent to quit (the quit handshake a second instance uses)"
"$wine_run" "$prefix" "$postmsg" TavoAuthClass send 0x8191 2 | sed 's/^/   postmsg: /'
status=""
for _ in $(seq 1 300); do
  if ! kill -0 "$agent_pid" 2>/dev/null; then
    wait "$agent_pid" && status=0 || status=$?
    break
  fi
  sleep 0.1
done
agent_pid=""
sleep 1
show_new

logons=$(grep -c '"command":"LGON"' "$events" || true)
beats=$(grep -c '"command":"BEAT"' "$events" || true)
logoffs=$(grep -c '"command":"LGOF"' "$events" || true)
last=$(grep '"command":' "$events" | tail -n 1 | sed -n 's/.*"command":"\([A-Z]*\)".*/\1/p')
echo "== summary: $logons LGON, $beats BEAT, $logoffs LGOF; last message $last; agent exit status ${status:-still running}"
log=$(find "$prefix/drive_c/users" -path '*QelIdentra/Log/qelidentra.log' 2>/dev/null | head -n 1)
[ -n "$log" ] && echo "   the agent's log: $log"

if [ "$logons" -ge 1 ] && [ "$beats" -ge 1 ] && [ "$last" = "LGOF" ] && [ "${status:-x}" = 0 ]; then
  echo "== demo finished: logon, heartbeats and logoff reached the appliance"
else
  echo "== demo FAILED: the agent's output follows" >&2
  cat "$work/agent.out" >&2
  exit 1
fi

bash "$root/scripts/demo-mac.sh" "$build"
bash "$root/scripts/demo-kitsmith.sh" "$build"
