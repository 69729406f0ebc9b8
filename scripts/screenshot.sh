#!/usr/bin/env bash
# Screenshot of the tool's main window under a virtual 1920x1080 display, with
# the simulated reader on the line and the port opened.
# Usage: scripts/screenshot.sh OUTPUT.png
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
out=$(realpath -m "${1:-main-window.png}")
PACKAGES+=(imagemagick x11-utils xdotool)
install_missing_packages
build_preset default

# A copy of the tool in a scratch folder, so its com.ini (chosen port:
# the simulated reader) leaves the user's choice alone.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp "$ROOT/build/talvor" "$scratch/"
printf '[ComPort]\nCom=talvor-shot\n' > "$scratch/com.ini"

xvfb-run -a -s '-screen 0 1920x1080x24' bash -c "
    coproc SIM { exec '$ROOT/build/sim/talvor-sim' --link talvor-shot 2>/dev/null; }
    trap 'kill \$SIM_PID 2>/dev/null' EXIT
    read -r -t 10 port <&\${SIM[0]} || exit 1
    '$scratch/talvor' & pid=\$!
    for i in \$(seq 100); do xdotool search --name Veltrane >/dev/null 2>&1 && break; sleep 0.1; done
    window=\$(xdotool search --name Veltrane | head -1)
    eval \$(xdotool getwindowgeometry --shell \$window)
    xdotool mousemove \$((X + 100)) \$((Y + 72)) click 1       # Open
    for i in \$(seq 50); do xdotool search --name COM-port >/dev/null 2>&1 && break; sleep 0.1; done
    chooser=\$(xdotool search --name COM-port | head -1)
    eval \$(xdotool getwindowgeometry --shell \$chooser)
    xdotool mousemove \$((X + 50)) \$((Y + 52)) click 1       # OK
    sleep 2                                                   # a few polls
    import -window root '$out'
    kill \$pid
" || true
[ -s "$out" ] && echo "written: $out"
