#!/usr/bin/env bash
# A sandbox for black-box runs of the Mac agent on Linux: a network namespace of its own
# holding a veth pair en0/en1 (en0 with an IPv4 address), the stand-in appliance listening
# on the namespace's loopback, and programs run there as the unprivileged user nobody with
# a temporary HOME and the fake dscl first on PATH. Needs root, network namespaces and
# veth pairs; without them `up` and `run` end with status 77 (the usual "skipped").
# DIR is an absolute path below the temporary folder ($TMPDIR when set, else /tmp); any
# other ends the script with status 1 before it touches anything.
#
#   netns-sandbox.sh up DIR [APPLIANCE ARGUMENTS...]
#       Makes the sandbox in DIR (missing or empty; marked as made here) and starts the
#       appliance with --port 0 and the arguments given. Writes DIR/sandbox.env (NS, PORT,
#       ADDRESS, HOME_DIR, APPLIANCE_OUT, RUN_UID) and prints it.
#   netns-sandbox.sh run DIR [--dscl LISTING] [--env NAME=VALUE]... -- PROGRAM [ARGS...]
#       Runs PROGRAM as nobody inside the namespace, in place of this script: the process
#       id and the exit status are the program's, so a caller that starts this in the
#       background can signal and wait for it. A PROGRAM given by path is copied into the
#       sandbox first (so nobody can run it wherever the build lives). LISTING is what the
#       fake dscl prints.
#   netns-sandbox.sh notify DIR NAME
#       Writes one notification name into the agent's FIFO HOME/.QelIdentra/notify
#       (fails after 5 seconds when nothing reads it).
#   netns-sandbox.sh down DIR
#       Stops the appliance and anything still running inside the namespace, by process
#       id, deletes the namespace and removes DIR. Safe to call more than once and after a
#       failed `up`. A DIR that `up` did not mark is only removed when it is empty;
#       otherwise it is left alone (status 1).
#
# SANDBOX_BUILD names the native build tree whose bin/appliance runs (default build/native).
# The namespace is named after the process that ran `up` (its parent); `up` deletes
# namespaces of this sandbox whose owner is gone (left by a run that was killed).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
prefix=qelid-sbx
address=10.213.0.2/24
marker=.netns-sandbox  # written by `up` first; `down` removes no folder without it

die() { echo "netns-sandbox: $*" >&2; exit 1; }
unsupported() { echo "netns-sandbox: $*; skipped" >&2; exit 77; }
need_root() {
  [ "$(id -u)" -eq 0 ] || unsupported "needs root (network namespace, veth, setpriv)"
}
# DIR made absolute and free of links and "..", if it lies below a temporary folder:
# this runs as root and `down` removes DIR.
sandbox_dir() {
  local dir=$1 real top
  [[ $dir == /* ]] || die "\"$dir\" is not an absolute path"
  real=$(realpath -m -- "$dir")
  top=$(realpath -m -- "${TMPDIR:-/tmp}")
  if [ "$top" != / ] && [[ $real == "$top"/?* ]]; then
    printf '%s\n' "$real"
    return 0
  fi
  die "$dir is not below the temporary folder $top"
}
# Running, as opposed to gone or ended and not yet reaped by its parent.
alive() {
  local state
  state=$(ps -o stat= -p "$1" 2>/dev/null || true)
  [ -n "$state" ] && [ "${state:0:1}" != Z ]
}
load() {
  [ -f "$1/sandbox.env" ] || die "$1 is not a sandbox"
  # shellcheck disable=SC1091
  . "$1/sandbox.env"
}

# Namespaces of ours whose owner process is gone: left by a run that was killed.
remove_stale() {
  local ns owner
  for ns in $(ip netns list 2>/dev/null | awk '{print $1}' | grep "^$prefix-" || true); do
    owner=${ns#"$prefix"-}
    owner=${owner%%-*}
    if ! alive "$owner"; then
      for pid in $(ip netns pids "$ns" 2>/dev/null || true); do kill -KILL "$pid" 2>/dev/null || true; done
      ip netns delete "$ns" 2>/dev/null || true
    fi
  done
}

cmd_up() {
  local dir=$1
  shift
  need_root
  [ -z "$(ls -A "$dir" 2>/dev/null)" ] || die "$dir is not empty"
  local appliance="${SANDBOX_BUILD:-$root/build/native}/bin/appliance"
  [ -x "$appliance" ] || die "$appliance is missing (SANDBOX_BUILD names the native build tree)"
  remove_stale

  mkdir -p "$dir"
  chmod 0755 "$dir"  # nobody passes through it to HOME and the programs
  : >"$dir/$marker"
  local ns="$prefix-$PPID-$RANDOM"
  # Written first, so that `down` finds the namespace even if a later step fails.
  printf 'NS=%s\n' "$ns" >"$dir/sandbox.env"
  : >"$dir/pids"

  ip netns add "$ns" 2>"$dir/setup.err" ||
    unsupported "this machine makes no network namespace: $(cat "$dir/setup.err")"
  # A container may allow the namespace but not the veth module or the address.
  { ip -n "$ns" link set lo up &&
    ip -n "$ns" link add en0 type veth peer name en1 &&
    ip -n "$ns" addr add "$address" dev en0 &&
    ip -n "$ns" link set en0 up &&
    ip -n "$ns" link set en1 up; } 2>"$dir/setup.err" ||
    unsupported "this machine sets up no veth pair with an address: $(cat "$dir/setup.err")"

  local run_uid run_gid
  run_uid=$(id -u nobody)
  run_gid=$(id -g nobody)
  mkdir -m 0755 "$dir/bin" "$dir/fakes"
  install -m 0755 "$root/tools/fakes/dscl" "$dir/fakes/"
  install -d -m 0700 -o "$run_uid" -g "$run_gid" "$dir/home" "$dir/home/Library" "$dir/home/Library/Logs" "$dir/tmp"

  : >"$dir/appliance.out"  # there before the background job opens it
  ip netns exec "$ns" "$appliance" --port 0 "$@" >>"$dir/appliance.out" 2>&1 &
  echo $! >>"$dir/pids"
  local port=""
  for _ in $(seq 1 100); do
    port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$dir/appliance.out")
    [ -n "$port" ] && break
    sleep 0.05
  done
  [ -n "$port" ] || die "the appliance did not start: $(cat "$dir/appliance.out")"

  cat >>"$dir/sandbox.env" <<EOF
PORT=$port
ADDRESS=${address%/*}
HOME_DIR=$dir/home
APPLIANCE_OUT=$dir/appliance.out
RUN_UID=$run_uid
RUN_GID=$run_gid
EOF
  cat "$dir/sandbox.env"
}

cmd_run() {
  local dir=$1
  shift
  need_root
  load "$dir"
  local listing="" extra=()
  while [ $# -gt 0 ]; do
    case $1 in
      --dscl) listing=$2; shift ;;
      --env) extra+=("$2"); shift ;;
      --) shift; break ;;
      *) die "unknown option $1" ;;
    esac
    shift
  done
  [ $# -gt 0 ] || die "no program given"
  local program=$1
  shift
  if [[ $program == */* ]]; then
    install -m 0755 "$program" "$dir/bin/"
    program="$dir/bin/$(basename "$program")"
  fi
  if [ -n "$listing" ]; then
    install -m 0644 "$listing" "$dir/dscl-listing.txt"
    listing="$dir/dscl-listing.txt"
  fi

  exec ip netns exec "$NS" setpriv --reuid="$RUN_UID" --regid="$RUN_GID" --clear-groups \
    env -i HOME="$HOME_DIR" USER=nobody LOGNAME=nobody TMPDIR="$dir/tmp" PATH="$dir/fakes:/usr/bin:/bin" \
    FAKE_DSCL_OUTPUT="$listing" "${extra[@]}" "$program" "$@"
}

cmd_notify() {
  local dir=$1 name=$2
  load "$dir"
  local fifo="$HOME_DIR/.QelIdentra/notify"
  [ -p "$fifo" ] || die "$fifo is not there (is the agent running?)"
  timeout 5 sh -c 'printf "%s\n" "$1" >"$2"' notify "$name" "$fifo" || die "nothing reads $fifo"
}

cmd_down() {
  local dir=$1
  [ -e "$dir" ] || return 0
  if [ ! -f "$dir/$marker" ]; then
    # An empty folder holds nothing to lose: the one a caller made for an `up` that failed early.
    rmdir -- "$dir" 2>/dev/null || die "$dir was not made by up; left alone"
    return 0
  fi
  if [ -f "$dir/sandbox.env" ]; then
    load "$dir"
    local pids pid
    pids="$(cat "$dir/pids" 2>/dev/null || true) $(ip netns pids "${NS:-}" 2>/dev/null || true)"
    for pid in $pids; do kill -TERM "$pid" 2>/dev/null || true; done
    for _ in $(seq 1 40); do
      local running=0
      for pid in $pids; do alive "$pid" && running=1; done
      [ "$running" = 0 ] && break
      sleep 0.05
    done
    for pid in $pids; do kill -KILL "$pid" 2>/dev/null || true; done
    [ -z "${NS:-}" ] || ip netns delete "$NS" 2>/dev/null || true
  fi
  rm -rf "$dir"
}

[ $# -ge 2 ] || die "usage: $0 up|run|notify|down DIR ..."
command=$1
sandbox=$(sandbox_dir "$2") || exit 1
shift 2
set -- "$sandbox" "$@"
case $command in
  up) cmd_up "$@" ;;
  run) cmd_run "$@" ;;
  notify) cmd_notify "$@" ;;
  down) cmd_down "$@" ;;
  *) die "unknown command $command" ;;
esac
