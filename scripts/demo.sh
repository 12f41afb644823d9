#!/usr/bin/env bash
# Builds the plug-in and the stand-in host, loads the plug-in as X-Plane would, shows
# the menu, starts the bridge from it, lets it run, stops it and quits.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "${CORVANE_JOBS:-2}" --target corvane_plugin corvane-sim

plugin=build/plugins/Corvane/lin_x64/Corvane.xpl
build/tools/sim/corvane-sim --no-stdin \
  -c "menus" \
  -c "menu Start Corvane bridge" \
  -c "sleep 2" \
  -c "get sim/flightmodel/position/latitude" \
  -c "menu Stop Corvane bridge" \
  -c "quit" \
  "$plugin"
