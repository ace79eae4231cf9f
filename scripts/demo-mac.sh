#!/usr/bin/env bash
# Shows QelIdentra at work: as the unprivileged user nobody with a temporary HOME and the
# fake dscl, inside a network namespace holding en0 and the stand-in appliance on its
# loopback (tools/sandbox/netns-sandbox.sh). The agent logs on and sends heartbeats, goes
# to sleep through its notification channel (which ends it, after a logoff, with status 1),
# is started again and finally asked to quit with SIGTERM. Everything it starts it stops by
# process id, and the namespace goes with the sandbox. Without root it says so and shows what
# can be shown here: the version banner and the refusal of a second instance.
# usage: demo-mac.sh [BUILD_DIR]   (the tree BUILD_DIR/native, built)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
agent="$build/native/bin/QelIdentra"
sandbox="$root/tools/sandbox/netns-sandbox.sh"
listing="$root/Mac/tests/fixtures/dscl-ad.txt"
heartbeat_ms=2000

for program in "$agent" "$build/native/bin/appliance"; do
  [ -x "$program" ] || { echo "demo: $program is missing; run 'make build' first" >&2; exit 1; }
done
# shellcheck source=scripts/appliance-events.sh
. "$root/scripts/appliance-events.sh"

work=$(mktemp -d)
box=$(mktemp -d)  # beside, not inside, work: nobody passes through the sandbox folder
agent_pid=""
cleanup() {
  if [ -n "$agent_pid" ] && kill -0 "$agent_pid" 2>/dev/null; then kill "$agent_pid" 2>/dev/null || true; fi
  [ -d "$box" ] && bash "$sandbox" down "$box" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

echo
echo "== QelIdentra, the Mac agent (native on Linux over its own platform layer)"
"$agent" --version | sed 's/^/   /'

if [ "$(id -u)" -ne 0 ]; then
  echo "== not root: no network namespace and no switch to the user nobody here; shown instead:"
  home="$work/home"
  mkdir -p "$home/Library/Logs"
  HOME="$home" PATH="$root/tools/fakes:$PATH" FAKE_DSCL_OUTPUT="$listing" "$agent" "RA[]" >"$work/first.out" 2>&1 &
  agent_pid=$!
  sleep 2
  echo "   a second instance for the same user:"
  HOME="$home" "$agent" "RA[]" >"$work/second.out" 2>&1 && status=0 || status=$?
  sed 's/^/     /' "$work/second.out"
  echo "     exit status $status (9242 seen through the low eight bits)"
  kill -TERM "$agent_pid"
  wait "$agent_pid" && status=0 || status=$?
  agent_pid=""
  echo "   the first instance, asked to quit with SIGTERM, ended with status $status"
  echo "== demo of QelIdentra finished (run 'make demo' as root for the appliance conversation)"
  exit 0
fi

set +e
up=$(SANDBOX_BUILD="$build/native" bash "$sandbox" up "$box" --exit-after 300 2>&1)
code=$?
set -e
if [ $code -eq 77 ]; then
  echo "== this machine makes no network namespace; the appliance conversation is not shown"
  echo "   ($up)"
  exit 0
fi
[ $code -eq 0 ] || { echo "demo: the sandbox did not come up: $up" >&2; exit 1; }
# shellcheck disable=SC1091
. "$box/sandbox.env"
echo "== sandbox: namespace $NS, en0 $ADDRESS, the appliance on 127.0.0.1:$PORT inside it"

shown=1  # the "listening" line
show_new() {
  local complete
  complete=$(wc -l <"$APPLIANCE_OUT")
  if [ "$complete" -gt "$shown" ]; then
    sed -n "$((shown + 1)),${complete}p" "$APPLIANCE_OUT" | readable
    shown=$complete
  fi
}
count() { grep -c "\"command\":\"$1\"" "$APPLIANCE_OUT" || true; }
# Waits until the appliance has seen n messages of a command.
await() {
  local command=$1 n=$2
  for _ in $(seq 1 200); do
    [ "$(count "$command")" -ge "$n" ] && return 0
    sleep 0.1
  done
  echo "demo: no $command reached the appliance" >&2
  return 1
}
start_agent() {
  bash "$sandbox" run "$box" --dscl "$listing" -- "$agent" "RA[127.0.0.1:$PORT]" "RH[$heartbeat_ms]" \
    >"$work/agent-$1.out" 2>&1 &
  agent_pid=$!
}
# Waits for the agent to end; its exit status in status.
finish_agent() {
  for _ in $(seq 1 200); do kill -0 "$agent_pid" 2>/dev/null || break; sleep 0.1; done
  wait "$agent_pid" && status=0 || status=$?
  agent_pid=""
}

echo "== QelIdentra RA[127.0.0.1:$PORT] RH[$heartbeat_ms], as nobody; what the appliance receives:"
start_agent 1
await BEAT 2
show_new
echo "== the system goes to sleep (a line into \$HOME/.QelIdentra/notify)"
bash "$sandbox" notify "$box" NSWorkspaceWillSleepNotification
finish_agent
sleep 0.5
show_new
echo "   the agent logged off and ended with status $status (a launcher would start it again on wake)"
grep -h "receiveSleepWakeNote" "$work/agent-1.out" | sed 's/^/   agent: /'

echo "== started again; then asked to quit with SIGTERM"
lgon_before=$(count LGON)
beats_before=$(count BEAT)
start_agent 2
await LGON $((lgon_before + 1))
await BEAT $((beats_before + 1))
show_new
kill -TERM "$agent_pid"
finish_agent
sleep 0.5
show_new
echo "   the agent logged off and ended with status $status"

echo "== the agent's log ($HOME_DIR/Library/Logs/qelidentra.log), its last lines:"
tail -n 6 "$HOME_DIR/Library/Logs/qelidentra.log" | sed 's/^/   /'
last=$(grep '"command":' "$APPLIANCE_OUT" | tail -n 1 | sed -n 's/.*"command":"\([A-Z]*\)".*/\1/p')
echo "== summary: $(count LGON) LGON, $(count BEAT) BEAT, $(count LGOF) LGOF; last message $last"
if [ "$(count LGON)" -ge 2 ] && [ "$(count BEAT)" -ge 2 ] && [ "$last" = LGOF ]; then
  echo "== demo of QelIdentra finished: logon, heartbeats, sleep and quit reached the appliance"
else
  echo "== demo of QelIdentra FAILED" >&2
  exit 1
fi
