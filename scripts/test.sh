#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test once: all but the
# package checks under AddressSanitizer and UndefinedBehaviorSanitizer (two at
# a time, but those labelled "timing" alone), then the package checks (label
# "package") and the documents' commands (label "docs") in an optimised tree
# that builds only what gets installed, while the first tests run. The trees are the asan and package presets of
# CMakePresets.json.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
mark "test: packages"
install_missing_packages
cd "$ROOT"
# The journal's server tests fail rather than skip when PostgreSQL is missing.
export TALVOR_REQUIRE_POSTGRES=1

mark "AddressSanitizer: build"
build_preset asan
build_in_background package
mark "AddressSanitizer: the tests"
ctest --preset asan

mark "package: the rest of the build"
wait_for_background
mark "package: the checks"
ctest --preset package
