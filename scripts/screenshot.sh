#!/usr/bin/env bash
# Screenshots of the tool under a virtual display, with the simulated reader on
# the line and the port opened: the main window, and with ALL=1 also the
# chooser, the settings window (its file row and the status of its first
# read), the instruction window, the history with the newest entry's details,
# the job details and the window after a failed transfer with its list of
# errors (OUTPUT-chooser.png, OUTPUT-settings.png, OUTPUT-instruction.png,
# OUTPUT-history.png, OUTPUT-job-details.png, OUTPUT-failed.png).
# scripts/screenshot-set.sh draws them all in both languages on several screens.
# Usage: [SCREEN=1920x1080] [ALL=1] [BUILD=dir] [QT_SCALE_FACTOR=2] [LANG=ru_RU.UTF-8] [SIM_OPTIONS=...] scripts/screenshot.sh OUTPUT.png
# BUILD names a build tree that already holds talvor and talvor-sim. LANG (or
# LC_ALL, LC_MESSAGES) chooses the language of the windows, as for the tool.
# SIM_OPTIONS go to the simulated reader, e.g. --settings FF:FF:FF:FF:FF:FF:FF:FF:FF
# for a wiped reader whose settings values the window does not know.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
out=$(realpath -m "${1:-main-window.png}")
base=${out%.png}
screen=${SCREEN:-1920x1080}
height=${screen#*x}
scale=${QT_SCALE_FACTOR:-1}
PACKAGES+=(imagemagick x11-utils xdotool)
install_missing_packages
build=${BUILD:-}
if [ -z "$build" ]; then
    build="$ROOT/build"
    build_preset default
fi
build=$(realpath "$build")
# The windows are found by their titles, which follow the language.
case "${LC_ALL:-${LC_MESSAGES:-${LANG:-}}}" in
    ru*) chooser_title='COM-порт' settings_title='Настройки' instruction_title='Инструкция'
         history_title='История' errors_title='Информация' details_title='Данные работы' ;;
    *) chooser_title='COM-port' settings_title='Setting' instruction_title='Instruction'
       history_title='Reader history' errors_title='Information' details_title='Job details' ;;
esac

# A copy of the tool in a scratch folder, so its com.ini (chosen port:
# the simulated reader) leaves the user's choice alone.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp "$build/talvor" "$scratch/"
printf '[ComPort]\nCom=talvor-shot\n[Journal]\nDatabase=%s/journal.db\n' "$scratch" > "$scratch/com.ini"
# A firmware image whose section is the whole file (zeros, the description,
# its length and the section size); the simulated reader falls silent at its
# twelfth block, so the transfer fails with the bar part way.
description='TALVOR IV 7.1 (screenshot)'
image_size=$((1300 + ${#description} + 8))
hex() { printf '\\x%02x' "$@"; }
{
    head -c 1300 /dev/zero
    printf '%s' "$description"
    printf "$(hex ${#description} 0 0 0 $((image_size & 255)) $((image_size >> 8)) 0 0)"
} > "$scratch/firmware.rom"

# Controls are clicked at their design place times height/1080 (every window
# scales so), in device pixels whatever QT_SCALE_FACTOR says.
xvfb-run -a -s "-screen 0 ${screen}x24" bash -c "
    at() { echo \$(( \$1 * $height / 1080 )); }
    # The tool's window whose title starts with \$1; by comparing names, since
    # xdotool's own search misses titles that are not Latin-1.
    window_named() {
        for id in \$(xdotool search --onlyvisible --pid \$pid 2>/dev/null); do
            [[ \"\$(xdotool getwindowname \$id)\" == \"\$1\"* ]] && echo \$id && return
        done
        return 1
    }
    wait_for() { for i in \$(seq 100); do window_named \"\$1\" >/dev/null && return; sleep 0.1; done; }
    coproc SIM { exec '$build/sim/talvor-sim' --link talvor-shot --image '$scratch/firmware.rom' --silent-from 12 \
                      ${SIM_OPTIONS:-} 2>/dev/null; }
    trap 'kill \$SIM_PID 2>/dev/null' EXIT
    read -r -t 10 port <&\${SIM[0]} || exit 1
    '$scratch/talvor' & pid=\$!
    wait_for Veltrane
    window=\$(window_named Veltrane)
    eval \$(xdotool getwindowgeometry --shell \$window)
    mainX=\$X mainY=\$Y
    xdotool mousemove \$((mainX + \$(at 100))) \$((mainY + \$(at 72))) click 1       # Open
    wait_for $chooser_title
    sleep 0.5
    [ -n '${ALL:-}' ] && import -window root '$base-chooser.png'
    chooser=\$(window_named $chooser_title)
    eval \$(xdotool getwindowgeometry --shell \$chooser)
    xdotool mousemove \$((X + \$(at 50))) \$((Y + \$(at 52))) click 1            # OK
    sleep 2                                                                        # a few polls
    import -window root '$out'
    if [ -n '${ALL:-}' ]; then
        xdotool mousemove \$((mainX + \$(at 76))) \$((mainY + \$(at 484))) click 1   # Device Setting
        wait_for $settings_title
        sleep 1.5                                                                  # the first read
        import -window root '$base-settings.png'
        xdotool windowfocus --sync \$(window_named $settings_title) key Escape  # leaves through Close
        sleep 2
        xdotool mousemove \$((mainX + \$(at 444))) \$((mainY + \$(at 596))) sleep 0.3 click 1  # Job details...
        wait_for '$details_title'
        sleep 0.5
        import -window root '$base-job-details.png'
        xdotool windowfocus --sync \$(window_named '$details_title') key Escape
        sleep 1
        xdotool mousemove \$((mainX + \$(at 250))) \$((mainY + \$(at 296))) sleep 0.3 click 1   # the firmware file
        sleep 1.5                                                                  # the file dialog
        # The keys go to the window that has the focus: the dialog, the one window besides the main one.
        for id in \$(xdotool search --onlyvisible --pid \$pid); do
            [ \$id != \$window ] && xdotool windowfocus --sync \$id
        done
        xdotool type --delay 20 '$scratch/firmware.rom'
        xdotool key Return
        sleep 1
        xdotool mousemove \$((mainX + \$(at 260))) \$((mainY + \$(at 484))) sleep 0.3 click 1   # Load program
        wait_for $errors_title                                                     # the transfer fails
        sleep 0.5
        import -window root '$base-failed.png'
        xdotool windowfocus --sync \$(window_named $errors_title) key Escape
        sleep 1
        xdotool windowfocus --sync \$window                                       # back to the main window
        xdotool mousemove \$((mainX + \$(at 468))) \$((mainY + \$(at 68))) sleep 0.3 click 1   # instructions
        wait_for $instruction_title
        sleep 0.5
        import -window root '$base-instruction.png'
        xdotool mousemove \$((mainX + \$(at 76))) \$((mainY + \$(at 596))) sleep 0.3 click 1   # History...
        wait_for '$history_title'                          # the failed update, the settings reads
        sleep 0.5
        import -window root '$base-history.png'
    fi
    kill \$pid
" || true
[ -s "$out" ] && echo "written: $out"
