#!/usr/bin/env bash
# Builds the plug-in, the stand-in host and the app emulator; loads the plug-in as X-Plane
# would, shows its menu and starts the bridge from it; meanwhile corvane-client finds the
# bridge, logs in as the Corvane app and prints the simulated flight's positions for a few
# seconds. Then the host stops the bridge from the menu and quits: nothing is left running.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "${CORVANE_JOBS:-2}" --target corvane_plugin corvane-sim corvane-client

plugin=build/plugins/Corvane/lin_x64/Corvane.xpl
sim=build/tools/sim/corvane-sim
client=build/tools/client/corvane-client
poll_seconds=4
# The bridge runs longer than the client polls: finding it takes up to a second or two.
bridge_seconds=$((poll_seconds + 4))

# Both run in one shell so that, in the sandbox, they share its network namespace and its
# daemon. The host in the background, the client in front; the host's status counts too.
# shellcheck disable=SC2016  # expanded by the inner shell
run_both='
  sim=$1 plugin=$2 seconds=$3 client=$4
  shift 4
  "$sim" --no-stdin -c "menus" -c "menu Start Corvane bridge" -c "sleep $seconds" \
    -c "menu Stop Corvane bridge" -c "quit" "$plugin" &
  sim_pid=$!
  status=0
  "$client" "$@" || status=$?
  sim_status=0
  wait "$sim_pid" || sim_status=$?
  [ "$status" != 0 ] || status=$sim_status
  exit "$status"
'

if [ "$(id -u)" = 0 ]; then
  # Beside a private DNS-SD daemon in a loopback-only namespace: the bridge's publication is
  # real, the client finds it by DNS-SD as the app does, and nothing leaves this machine.
  bash scripts/dnssd-sandbox.sh run bash -c "$run_both" demo \
    "$sim" "$plugin" "$bridge_seconds" "$client" --wait 5 --seconds "$poll_seconds"
else
  # No sandbox without root: the bridge reaches no DNS-SD daemon (its system bus is a socket
  # that does not exist), so it is not advertised, and the client connects to it directly.
  DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/corvane-no-bus AVAHI_COMPAT_NOWARN=1 \
    bash -c "$run_both" demo \
    "$sim" "$plugin" "$bridge_seconds" "$client" --host 127.0.0.1 --wait 5 --seconds "$poll_seconds"
fi
