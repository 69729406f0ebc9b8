#!/usr/bin/env bash
# Installs what is missing, builds, and starts the tool. When no serial
# converter is plugged in, a simulated reader is started beside it.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing_packages
build_tree "$ROOT/build" Release -DBUILD_TESTING=OFF

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found. Start the tool inside a virtual display, for example:"
    echo "  xvfb-run -s '-screen 0 1920x1080x24' bash scripts/start.sh"
    exit 1
fi

sim_pid=""
if [ -x "$ROOT/build/sim/talvor-sim" ] && ! ls /dev/ttyUSB* /dev/ttyACM* >/dev/null 2>&1; then
    "$ROOT/build/sim/talvor-sim" &
    sim_pid=$!
    trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; wait 2>/dev/null' EXIT
    sleep 0.3
fi
"$ROOT/build/talvor"
