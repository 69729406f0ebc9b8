#!/usr/bin/env bash
# Every window in English and Russian on a 768-, 1080- and 2160-line screen and
# on a 1080-line screen under QT_SCALE_FACTOR=2, through scripts/screenshot.sh
# with ALL=1: FOLDER/LANGUAGE-SCREEN.png and its -chooser, -settings,
# -instruction, -history, -job-details and -failed companions.
# Usage: [BUILD=dir] scripts/screenshot-set.sh FOLDER
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
folder=$(realpath -m "${1:-screenshots}")
mkdir -p "$folder"
build=${BUILD:-}
if [ -z "$build" ]; then
    build="$ROOT/build"
    build_preset default
fi
for language in C.UTF-8 ru_RU.UTF-8; do
    for screen in 1366x768 1920x1080 3840x2160 1920x1080x2; do
        factor=1
        if [ "$screen" = 1920x1080x2 ]; then
            factor=2
        fi
        name="$folder/$([ "$language" = C.UTF-8 ] && echo en || echo ru)-$screen.png"
        LANG=$language LC_ALL=$language SCREEN=${screen%x2} QT_SCALE_FACTOR=$factor ALL=1 BUILD="$build" \
            bash "$ROOT/scripts/screenshot.sh" "$name"
    done
done
ls "$folder"
