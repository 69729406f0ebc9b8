#!/usr/bin/env bash
# Screenshot of the tool's main window under a virtual 1920x1080 display.
# Usage: scripts/screenshot.sh OUTPUT.png   (needs xvfb, x11-apps/imagemagick)
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
out=${1:-main-window.png}
PACKAGES+=(imagemagick x11-utils)
install_missing_packages
build_tree "$ROOT/build" Release -DBUILD_TESTING=OFF
xvfb-run -a -s '-screen 0 1920x1080x24' bash -c "
    '$ROOT/build/talvor' & pid=\$!
    for i in \$(seq 50); do xwininfo -root -tree 2>/dev/null | grep -q 'Veltrane' && break; sleep 0.1; done
    sleep 1.5
    import -window root '$out'
    kill \$pid; wait \$pid 2>/dev/null
"
echo "written: $out"
