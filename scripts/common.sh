# Shared by the start and test scripts: install what is missing, then build.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
PACKAGES=(build-essential cmake ninja-build qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgtest-dev
          libgl-dev fonts-liberation xvfb xauth
          # talvor-cli's station hears converters plugged in through udev
          libudev-dev
          # the Russian translation: Qt Linguist's CMake package, lupdate and lrelease
          qt6-tools-dev qt6-l10n-tools
          # the icon's bitmaps, the Debian package and its checks (ctest label "package")
          librsvg2-bin dpkg-dev file desktop-file-utils appstream man-db lintian
          # the documents' commands (ctest label "docs")
          jq
          # the service journal: Qt SQL's drivers, a PostgreSQL server for its tests, PDF tools for the report's
          libqt6sql6-sqlite libqt6sql6-psql postgresql poppler-utils
          # network ports: a real ser2net in their tests
          ser2net)
# CI only (scripts/hardening.sh): clang with libFuzzer and the sanitizer runtimes.
HARDENING_PACKAGES=(clang-14 libclang-rt-14-dev)

# install_missing_packages [package...]: PACKAGES when none are given.
install_missing_packages() {
    local wanted=("$@")
    [ ${#wanted[@]} -eq 0 ] && wanted=("${PACKAGES[@]}")
    local missing=()
    for package in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
            || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# build_preset PRESET [cmake args...]: configures and builds one of CMakePresets.json.
# TALVOR_WERROR=ON in the environment turns warnings into errors (CI does).
build_preset() {
    local preset=$1
    shift
    (cd "$ROOT" && cmake --preset "$preset" -DTALVOR_WERROR="${TALVOR_WERROR:-OFF}" "$@" >/dev/null \
        && cmake --build --preset "$preset")
}

# mark STEP: a line with the clock in seconds and how long the step before
# took, so a log shows where the time of a run goes.
mark() {
    local now
    now=$(date +%s)
    [ -n "${MARK_AT:-}" ] && echo "-- $MARK_STEP: $((now - MARK_AT)) s"
    echo "== $now $*"
    MARK_AT=$now MARK_STEP=$*
}

# Trees build beside running tests: build_in_background PRESET... builds them
# one after another in a background job at the idle scheduling class, which
# gets only the processor time no other process wants, so tests running
# meanwhile keep their timing. wait_for_tree PRESET returns once that tree is
# built; wait_for_background once the job has ended. Either shows the job's
# log and fails the script when a build failed. One job at a time.
BACKGROUND_PID=
BACKGROUND_DIR=
build_in_background() {
    [ $# -gt 0 ] || return 0
    BACKGROUND_DIR=$(mktemp -d)
    trap stop_background EXIT
    set -m  # the job gets a process group of its own, to stop it whole
    (
        chrt --idle -p 0 "$BASHPID" 2>/dev/null || renice -n 19 -p "$BASHPID" >/dev/null
        MARK_AT=
        for preset in "$@"; do
            mark "in the background: build $preset"
            build_preset "$preset" || exit 1
            touch "$BACKGROUND_DIR/$preset.built"
        done
        mark "in the background: done"
    ) >"$BACKGROUND_DIR/log" 2>&1 &
    BACKGROUND_PID=$!
    set +m
}

wait_for_tree() {
    while [ ! -e "$BACKGROUND_DIR/$1.built" ]; do
        kill -0 "$BACKGROUND_PID" 2>/dev/null || { wait_for_background; break; }
        sleep 1
    done
}

wait_for_background() {
    [ -n "$BACKGROUND_PID" ] || return 0
    local status=0
    wait "$BACKGROUND_PID" || status=$?
    BACKGROUND_PID=
    echo "== the background builds' output:"
    cat "$BACKGROUND_DIR/log"
    rm -rf "$BACKGROUND_DIR"
    if [ "$status" -ne 0 ]; then
        echo "a background build failed" >&2
        exit 1
    fi
}

# On the way out (a test failed, say), a build still running stops with it.
stop_background() {
    if [ -n "$BACKGROUND_PID" ]; then
        kill -- "-$BACKGROUND_PID" 2>/dev/null || true
        wait "$BACKGROUND_PID" 2>/dev/null || true
        rm -rf "$BACKGROUND_DIR"
    fi
}
