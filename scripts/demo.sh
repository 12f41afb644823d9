#!/usr/bin/env bash
# Builds the plug-in and the stand-in host, loads the plug-in as X-Plane would, shows
# the menu, starts the bridge from it, lets it run, stops it and quits.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "${CORVANE_JOBS:-2}" --target corvane_plugin corvane-sim

plugin=build/plugins/Corvane/lin_x64/Corvane.xpl
# As root the host runs beside a private DNS-SD daemon, so that the bridge's publication
# is real and stays on this machine; otherwise it runs as it is.
sandbox=()
if [ "$(id -u)" = 0 ]; then sandbox=(bash scripts/dnssd-sandbox.sh run); fi
"${sandbox[@]}" build/tools/sim/corvane-sim --no-stdin \
  -c "menus" \
  -c "menu Start Corvane bridge" \
  -c "sleep 2" \
  -c "get sim/flightmodel/position/latitude" \
  -c "menu Stop Corvane bridge" \
  -c "quit" \
  "$plugin"
