#!/usr/bin/env bash
# Runs the shell commands of the documents, as a ctest test (label "docs"):
#   docs-check.sh SOURCE BUILD
# Each fenced shell block in README.md and docs/*.md is marked "sh runnable" or
# "sh example"; an unmarked one fails. The runnable blocks of each document
# run in order, in one shell, in an empty folder with a home of its own, with
# the tree BUILD installed into a scratch prefix first on the PATH.
set -euo pipefail

source=$1 build=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null

# extract FILE: writes the runnable blocks as a script on stdout, each after a
# line that names where it begins; unmarked shell blocks go to stderr.
extract() {
    awk -v file="$1" '
        /^ *```/ {
            if (!inside) {
                inside = 1
                split(substr($0, index($0, "```") + 3), info, " ")
                kind = (info[1] ~ /^(sh|bash|shell|console|zsh)$/) ? info[2] : "text"
                if (kind == "runnable") print "echo \"== " file ":" FNR "\""
                else if (kind != "text" && kind != "example")
                    print file ":" FNR ": a shell block marked neither runnable nor example" > "/dev/stderr"
            } else {
                inside = 0
            }
            next
        }
        inside && kind == "runnable" { sub(/^  /, ""); print }
    ' "$1"
}

cd "$source"
for doc in README.md docs/*.md; do
    name=$(basename "$doc" .md)
    script=$scratch/$name.sh
    unmarked=$(extract "$doc" 2>&1 >"$script.body")
    [ -z "$unmarked" ] || fail "$unmarked"
    grep -q . "$script.body" || continue
    {
        echo 'set -euo pipefail'
        # A block that fails leaves no simulated reader behind.
        echo 'trap '\''kill $(jobs -p) 2>/dev/null || true'\'' EXIT'
        cat "$script.body"
    } >"$script"
    run=$scratch/run/$name
    mkdir -p "$run/home"
    status=0
    out=$(cd "$run" && env -i PATH="$scratch/prefix/bin:/usr/bin:/bin" HOME="$run/home" LANG=C.UTF-8 \
              TMPDIR="$run" timeout 60 bash "$script" 2>&1) || status=$?
    if [ "$status" -ne 0 ]; then
        fail "$doc: status $status in the block after the last \"==\" line:"
        echo "$out" | tail -40 >&2
    fi
done

if [ "$failures" -ne 0 ]; then
    echo "docs: $failures check(s) failed" >&2
    exit 1
fi
echo "docs: all checks passed"
