#!/usr/bin/env bash
# Runs a command next to a private Avahi daemon that can only talk to itself: both live in a
# fresh network namespace whose only interface is loopback, so multicast DNS never leaves it.
# The D-Bus system bus is one Unix socket shared by every namespace, and Avahi owns one name
# on it, so sandboxes take an exclusive lock and run one at a time. Needs root.
#
#   scripts/dnssd-sandbox.sh run CMD [ARGS...]    exits with CMD's status (77 without root)
#
# CMD finds the daemon's pid in DNSSD_SANDBOX_AVAHI_PID.
# The namespace, the daemon, anything CMD left running in the namespace and a bus this
# script started are all gone when it returns, also after a failure or an interrupt.
set -euo pipefail

LOCK_FILE=/run/corvane-dnssd-sandbox.lock
LOCK_WAIT=${DNSSD_SANDBOX_LOCK_WAIT:-120}  # seconds
READY_WAIT=100                             # tenths of a second for the daemon to come up
NS_PREFIX=corvane-dnssd-
AVAHI_PID_FILE=/run/avahi-daemon/pid
DBUS_PID_FILE=/run/dbus/pid

ns=""
workdir=""
avahi_pid=""
bus_pid=""
cmd_pid=""
lock_pid=""

say() { echo "dnssd-sandbox: $*" >&2; }
die() {
  say "$*"
  exit 1
}

usage() {
  echo "usage: $0 run CMD [ARGS...]" >&2
  exit 2
}

# A daemon that forked away is reaped by init, which may take its time: a zombie is gone.
alive() {
  [ -n "$1" ] && kill -0 "$1" 2>/dev/null || return 1
  [ "$(sed -n 's/.*) \([A-Za-z]\) .*/\1/p' "/proc/$1/stat" 2>/dev/null)" != Z ]
}

# TERM first so that Avahi withdraws its records and D-Bus clients see a clean exit; KILL
# after a bounded wait so that cleanup never hangs.
stop_pid() {
  local pid=$1 i
  alive "$pid" || return 0
  kill -TERM "$pid" 2>/dev/null || return 0
  for ((i = 0; i < 50; i++)); do
    alive "$pid" || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
}

empty_namespace() {
  local pid
  for pid in $(ip netns pids "$1" 2>/dev/null); do stop_pid "$pid"; done
}

bus_answers() {
  dbus-send --system --print-reply --reply-timeout=2000 --dest=org.freedesktop.DBus \
    /org/freedesktop/DBus org.freedesktop.DBus.GetId >/dev/null 2>&1
}

avahi_name_owned() {
  dbus-send --system --print-reply --reply-timeout=2000 --dest=org.freedesktop.DBus \
    /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner string:org.freedesktop.Avahi 2>/dev/null |
    grep -q 'boolean true'
}

# 2 is AVAHI_SERVER_RUNNING: the host name is probed and announced, so a registration
# made now is not queued behind the daemon's own start-up.
avahi_running() {
  dbus-send --system --print-reply --reply-timeout=2000 --dest=org.freedesktop.Avahi \
    / org.freedesktop.Avahi.Server.GetState 2>/dev/null | grep -q 'int32 2$'
}

# shellcheck disable=SC2317  # reached through the traps
cleanup() {
  local status=$?
  set +e
  # A second Ctrl-C must not cut the cleanup short.
  trap - EXIT
  trap '' INT TERM
  # A flock still waiting shares our lock descriptor and would take the lock for nobody.
  [ -n "$lock_pid" ] && stop_pid "$lock_pid"
  [ -n "$cmd_pid" ] && stop_pid "$cmd_pid"
  if [ -n "$ns" ]; then
    empty_namespace "$ns"
    ip netns delete "$ns" 2>/dev/null
  fi
  if [ -n "$avahi_pid" ]; then
    stop_pid "$avahi_pid"
    # A killed daemon leaves its pid file behind, which would make the next start refuse.
    alive "$avahi_pid" || rm -f "$AVAHI_PID_FILE"
  fi
  if [ -n "$bus_pid" ]; then
    stop_pid "$bus_pid"
    rm -f "$DBUS_PID_FILE"
  fi
  [ -n "$workdir" ] && rm -rf "$workdir"
  exit "$status"
}

# shellcheck disable=SC2317
on_signal() {
  say "interrupted by SIG$1, cleaning up"
  exit "$2"
}

# A sandbox killed with SIGKILL leaves its namespace and daemon behind. The lock proves
# their owner is gone when its pid no longer runs.
reap_orphans() {
  local name owner
  for name in $(ip netns list 2>/dev/null | awk '{print $1}'); do
    case "$name" in "$NS_PREFIX"*) ;; *) continue ;; esac
    owner=${name#"$NS_PREFIX"}
    # Our own pid can only name an orphan here: we have not made our namespace yet.
    [ "$owner" != $$ ] && alive "$owner" && continue
    say "removing namespace $name left by an earlier run"
    empty_namespace "$name"
    ip netns delete "$name" 2>/dev/null || true
  done
  rm -rf /tmp/corvane-dnssd.*
}

check_no_other_avahi() {
  local pid where
  if [ -f "$AVAHI_PID_FILE" ]; then
    pid=$(cat "$AVAHI_PID_FILE" 2>/dev/null || true)
    if alive "$pid" && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = avahi-daemon ]; then
      where=$(ip netns identify "$pid" 2>/dev/null || true)
      die "an avahi-daemon (pid $pid, network namespace ${where:-of the host}) is already running;" \
        "it owns Avahi's D-Bus name, so a sandbox cannot start: stop it first"
    fi
    rm -f "$AVAHI_PID_FILE"
  fi
  if avahi_name_owned; then
    die "another process owns org.freedesktop.Avahi on the system bus; stop it first"
  fi
}

ensure_bus() {
  local i pid
  if bus_answers; then
    # A bus started before avahi-daemon was installed has not read Avahi's policy and
    # would refuse the daemon its name.
    dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
      org.freedesktop.DBus.ReloadConfig >/dev/null 2>&1 || die "the system bus did not reload its configuration"
    return 0
  fi
  if [ -f "$DBUS_PID_FILE" ]; then
    pid=$(cat "$DBUS_PID_FILE" 2>/dev/null || true)
    alive "$pid" && die "dbus-daemon (pid $pid) runs but does not answer on the system bus"
    rm -f "$DBUS_PID_FILE"
  fi
  mkdir -p /run/dbus
  bus_pid=$(dbus-daemon --system --fork --print-pid 9>&-) || die "could not start the D-Bus system bus"
  for ((i = 0; i < 50; i++)); do
    bus_answers && return 0
    sleep 0.1
  done
  die "the D-Bus system bus started but does not answer"
}

make_namespace() {
  ns="$NS_PREFIX$$"
  ip netns add "$ns" || {
    ns=""
    die "could not create network namespace $NS_PREFIX$$"
  }
  ip netns exec "$ns" ip link set lo up
  ip netns exec "$ns" ip link set lo multicast on
}

start_avahi() {
  local i
  workdir=$(mktemp -d /tmp/corvane-dnssd.XXXXXX)
  # Wide-area, reflector and the host's own records stay off so that the daemon answers
  # only for what the command registers; no rate limit, so tests may re-announce quickly.
  cat >"$workdir/avahi-daemon.conf" <<'EOF'
[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
disallow-other-stacks=yes
ratelimit-interval-usec=0
ratelimit-burst=0

[wide-area]
enable-wide-area=no

[publish]
publish-hinfo=no
publish-workstation=no
publish-addresses=yes
publish-aaaa-on-ipv4=no
publish-a-on-ipv6=no

[reflector]
enable-reflector=no
EOF
  # Kept as our own child rather than daemonised, so that its pid is known without the pid
  # file and its complaints land in a log we can show.
  ip netns exec "$ns" avahi-daemon -f "$workdir/avahi-daemon.conf" --no-drop-root --no-chroot \
    --no-rlimits --no-proc-title </dev/null >"$workdir/avahi.log" 2>&1 9>&- &
  avahi_pid=$!
  for ((i = 0; i < READY_WAIT; i++)); do
    if ! alive "$avahi_pid"; then
      avahi_pid=""
      say "avahi-daemon exited during start-up:"
      sed 's/^/  /' "$workdir/avahi.log" >&2
      exit 1
    fi
    avahi_running && return 0
    sleep 0.1
  done
  say "avahi-daemon did not reach its running state within $((READY_WAIT / 10)) s:"
  sed 's/^/  /' "$workdir/avahi.log" >&2
  exit 1
}

run_command() {
  local status
  export AVAHI_COMPAT_NOWARN=1
  # Tests that stop and continue the daemon, to play one that does not answer.
  export DNSSD_SANDBOX_AVAHI_PID=$avahi_pid
  # In the background so that a signal to this script is handled at once rather than when
  # the command ends; fd 8 carries our standard input past bash's /dev/null for background
  # jobs, and the lock descriptor is closed so that a leftover child cannot hold it.
  exec 8<&0
  ip netns exec "$ns" "$@" <&8 8<&- 9>&- &
  cmd_pid=$!
  set +e
  wait "$cmd_pid"
  status=$?
  set -e
  cmd_pid=""
  return "$status"
}

[ $# -ge 1 ] || usage
case "$1" in
  run) shift ;;
  *) usage ;;
esac
[ $# -ge 1 ] || usage
if [ "$(id -u)" -ne 0 ]; then
  say "needs root (network namespaces, the system bus, avahi-daemon)"
  exit 77  # CTest's skip status for the sandboxed tests
fi
for tool in ip avahi-daemon dbus-daemon dbus-send flock; do
  command -v "$tool" >/dev/null || die "$tool not found: run scripts/install-deps.sh"
done

trap cleanup EXIT
trap 'on_signal INT 130' INT
trap 'on_signal TERM 143' TERM

exec 9>"$LOCK_FILE"
# flock in the background so that an interrupt during the wait is handled at once; the
# lock belongs to the shared open file, so this shell holds it after flock exits.
flock -w "$LOCK_WAIT" 9 &
lock_pid=$!
wait "$lock_pid" || die "another sandbox held $LOCK_FILE for more than $LOCK_WAIT s"
lock_pid=""

reap_orphans
ensure_bus
check_no_other_avahi
make_namespace
start_avahi
set +e
run_command "$@"
status=$?
set -e
exit "$status"
