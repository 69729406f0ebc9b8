#!/usr/bin/env bash
# Checks what a user gets from a built tree, as ctest tests (label "package"):
#   package-check.sh install BUILD VERSION APP_ID PROGRAM...
#       `cmake --install` into a scratch prefix: programs, man pages, desktop
#       entry, icons, AppStream metadata, the device rules and the bash
#       completion, with the validators.
#   package-check.sh deb BUILD VERSION APP_ID PROGRAM...
#       the Debian package from cpack: name, dependencies, changelog, and the
#       programs unpacked from it answering.
#   package-check.sh lintian BUILD VERSION APP_ID PROGRAM...
#       lintian on that package: any error or warning fails (the package's
#       overrides, each with its reason, apply).
# Everything goes to folders of its own, so parallel runs do not meet.
set -euo pipefail

mode=$1 build=$2 version=$3 app_id=$4
shift 4
programs=("$@")

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# The programs run as from a menu or a terminal without any display.
headless() {
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@"
}

# check_programs ROOT: the installed programs under ROOT/bin answer without a display.
check_programs() {
    local root=$1 out status
    for program in "${programs[@]}"; do
        [ -x "$root/bin/$program" ] || { fail "$program not installed in bin/"; continue; }
        status=0
        out=$(headless "$root/bin/$program" --help 2>&1) || status=$?
        [ "$status" -eq 0 ] || fail "$program --help: status $status: $out"
    done
    status=0
    out=$(headless "$root/bin/talvor" --version 2>&1) || status=$?
    [ "$status" -eq 0 ] && [ "$out" = "talvor $version" ] \
        || fail "talvor --version: status $status, said \"$out\", expected \"talvor $version\""
}

# check_completion ROOT: talvor-cli's bash completion under ROOT/share loads
# in a plain bash and completes a command name.
check_completion() {
    local script=$1/share/bash-completion/completions/talvor-cli out
    [ -f "$script" ] || { fail "no bash completion for talvor-cli"; return; }
    out=$(bash -c 'source "$1" && complete -p talvor-cli' bash "$script" 2>&1) \
        || fail "the bash completion does not load: $out"
    out=$(bash -c 'source "$1"; COMP_WORDS=(talvor-cli jour); COMP_CWORD=1; _talvor_cli; echo "${COMPREPLY[*]}"' \
        bash "$script" 2>&1)
    [ "$out" = journal ] || fail "the bash completion completes \"jour\" to \"$out\", not \"journal\""
}

check_install() {
    local prefix=$scratch/prefix share
    cmake --install "$build" --prefix "$prefix" >/dev/null
    share=$prefix/share
    check_programs "$prefix"

    # Man pages render without warnings, and name every option the program lists
    # (looked up in the source: the rendering may break a line inside an option).
    for program in "${programs[@]}"; do
        local page=$share/man/man1/$program.1.gz rendered warnings page_text
        [ -f "$page" ] || { fail "no man page for $program"; continue; }
        warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
        rendered=$(MANWIDTH=80 man -l "$page" 2>/dev/null)
        [ -z "$warnings" ] || fail "man -l $program.1: $warnings"
        grep -q '^NAME' <<<"$rendered" || fail "man -l $program.1 renders no NAME section"
        page_text=$(zcat "$page" | sed 's/\\-/-/g')
        # Each page points to the other programs' pages.
        for other in "${programs[@]}"; do
            [ "$other" = "$program" ] || grep -qF ".BR ${other//-/\\-} (1)" <<<"$(zcat "$page")" \
                || fail "$program.1 does not refer to $other(1)"
        done
        for option in $(headless "$prefix/bin/$program" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
            grep -qF -- "$option" <<<"$page_text" || fail "$program.1 does not describe $option"
        done
    done

    check_completion "$prefix"

    local desktop=$share/applications/$app_id.desktop
    if [ -f "$desktop" ]; then
        desktop-file-validate "$desktop" || fail "desktop-file-validate $app_id.desktop"
        grep -qx "Exec=talvor" "$desktop" || fail "the desktop entry does not start talvor"
        grep -qx "Icon=$app_id" "$desktop" || fail "the desktop entry's icon is not $app_id"
    else
        fail "no desktop entry $app_id.desktop"
    fi

    local metainfo=$share/metainfo/$app_id.metainfo.xml
    if [ -f "$metainfo" ]; then
        appstreamcli validate --no-net "$metainfo" >/dev/null \
            || fail "appstreamcli validate: $(appstreamcli validate --no-net "$metainfo" 2>&1)"
        grep -qF "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" \
            || fail "the metadata does not launch $app_id.desktop"
        for program in "${programs[@]}"; do
            grep -qF "<binary>$program</binary>" "$metainfo" || fail "the metadata does not provide $program"
        done
        local newest
        newest=$(grep -o '<release version="[^"]*"' "$metainfo" | head -1 | cut -d'"' -f2)
        [ "$newest" = "$version" ] || fail "newest release in the metadata is $newest, the project is $version"
    else
        fail "no AppStream metadata $app_id.metainfo.xml"
    fi

    local icons=$share/icons/hicolor
    [ -f "$icons/scalable/apps/$app_id.svg" ] || fail "no scalable icon"
    for size in 16 22 24 32 48 64 128 256; do
        file -b "$icons/${size}x${size}/apps/$app_id.png" 2>/dev/null | grep -q "PNG image data, $size x $size" \
            || fail "no ${size}x${size} PNG icon"
    done

    # The device rules where udev reads them, and the copy the tool's advice names.
    for rules in lib/udev/rules.d/60-talvor-serial.rules share/doc/talvor/60-talvor-serial.rules; do
        [ -f "$prefix/$rules" ] || fail "device rules not in $rules"
    done
    [ -f "$share/doc/talvor/copyright" ] || fail "no share/doc/talvor/copyright"
    [ "$(zcat "$share/doc/talvor/changelog.gz" 2>/dev/null | head -1 | cut -d' ' -f1-2)" = "talvor ($version)" ] \
        || fail "share/doc/talvor/changelog.gz does not begin with talvor ($version)"
}

# build_deb: the package from cpack, named in $deb; fails the check when missing.
build_deb() {
    local arch
    arch=$(dpkg --print-architecture)
    cpack --config "$build/CPackConfig.cmake" -B "$scratch/cpack" >/dev/null
    deb=$scratch/cpack/talvor_${version}_${arch}.deb
    [ -f "$deb" ] || { fail "no talvor_${version}_${arch}.deb: $(find "$scratch/cpack" -name '*.deb')"; return 1; }
}

check_deb() {
    local deb depends
    build_deb || return

    [ "$(dpkg-deb -f "$deb" Package)" = talvor ] || fail "package name $(dpkg-deb -f "$deb" Package)"
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version $(dpkg-deb -f "$deb" Version)"
    depends=$(dpkg-deb -f "$deb" Depends)
    grep -qE "(^|, )qt6-translations-l10n( |,|$)" <<<"$(dpkg-deb -f "$deb" Recommends)" \
        || fail "Recommends lacks qt6-translations-l10n"
    for needed in libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 libqt6printsupport6 fonts-liberation; do
        grep -qE "(^|, )$needed( |,|$)" <<<"$depends" || fail "Depends lacks $needed: $depends"
    done
    # Every dependency is a real package of this Debian release (the build needs them all).
    for name in $(tr ',|' '\n\n' <<<"$depends" | sed 's/(.*)//; s/ //g' | grep .); do
        dpkg-query -W "$name" >/dev/null 2>&1 || fail "dependency $name is no package here"
    done

    local root=$scratch/unpacked
    dpkg -x "$deb" "$root"
    check_programs "$root/usr"
    check_completion "$root/usr"
    for program in "${programs[@]}"; do
        file -b "$root/usr/bin/$program" | grep -q ', stripped' || fail "$program in the package is not stripped"
        [ -f "$root/usr/share/man/man1/$program.1.gz" ] || fail "the package lacks $program.1.gz"
    done
    for path in "usr/share/applications/$app_id.desktop" "usr/share/metainfo/$app_id.metainfo.xml" \
                "usr/share/icons/hicolor/scalable/apps/$app_id.svg" "usr/lib/udev/rules.d/60-talvor-serial.rules" \
                usr/share/doc/talvor/copyright usr/share/doc/talvor/changelog.gz \
                usr/share/bash-completion/completions/talvor-cli; do
        [ -f "$root/$path" ] || fail "the package lacks /$path"
    done
}

# lintian warns when it runs as root, so root runs it as nobody, on a copy of
# the package that nobody may read.
check_lintian() {
    local deb out status=0 as_user=()
    build_deb || return
    if [ "$(id -u)" -eq 0 ]; then
        chmod 755 "$scratch" "$scratch/cpack"
        chmod 644 "$deb"
        as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME="$scratch" TMPDIR=/tmp)
    fi
    out=$("${as_user[@]}" lintian --fail-on error,warning --show-overrides "$deb" 2>&1) || status=$?
    echo "$out"
    [ "$status" -eq 0 ] || fail "lintian: status $status (an error or a warning above)"
}

case $mode in
    install) check_install ;;
    deb) check_deb ;;
    lintian) check_lintian ;;
    *) echo "usage: $0 install|deb|lintian BUILD VERSION APP_ID PROGRAM..." >&2; exit 2 ;;
esac
if [ "$failures" -ne 0 ]; then
    echo "$mode: $failures check(s) failed" >&2
    exit 1
fi
echo "$mode: all checks passed"
