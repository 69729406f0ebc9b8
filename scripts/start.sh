#!/usr/bin/env bash
# Installs what is missing, builds, and starts the tool. When no serial
# converter is plugged in, a simulated reader is started beside it.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing_packages
build_preset default

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found. Start the tool inside a virtual display, for example:"
    echo "  xvfb-run -s '-screen 0 1920x1080x24' bash scripts/start.sh"
    exit 1
fi

if [ -x "$ROOT/build/sim/talvor-sim" ] && ! ls /dev/ttyUSB* /dev/ttyACM* >/dev/null 2>&1; then
    # The reader enters its boot loader after three boot requests, so the
    # countdown shows; after an update it reports firmware 6.5.
    demo_image="$ROOT/build/demo-firmware.rom"
    [ -f "$demo_image" ] || "$ROOT/build/sim/talvor-sim" --make-image "$demo_image"
    coproc SIM { exec "$ROOT/build/sim/talvor-sim" --baud 19200 --boot-after 3 --image "$demo_image" \
                      --new-firmware 6.5 --output "$ROOT/build/received-firmware.bin"; }
    trap 'kill "$SIM_PID" 2>/dev/null; wait 2>/dev/null' EXIT
    # The simulator prints its port name once the port is ready.
    if ! read -r -t 10 sim_port <&"${SIM[0]}"; then
        echo "The simulated reader did not start." >&2
        exit 1
    fi
    echo "Simulated reader on port $sim_port: press \"Open\" and choose it."
    echo "A demo firmware image to load: $demo_image"
fi
"$ROOT/build/talvor"
