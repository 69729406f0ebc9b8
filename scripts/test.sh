#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test once: all but the
# package checks under AddressSanitizer and UndefinedBehaviorSanitizer (those
# labelled "timing" one at a time, the others two at a time), then the package
# checks (label "package") in an optimised tree that builds only what gets
# installed. The trees are the asan and package presets of CMakePresets.json.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
mark "test: packages"
install_missing_packages
cd "$ROOT"
# The journal's server tests fail rather than skip when PostgreSQL is missing.
export TALVOR_REQUIRE_POSTGRES=1

mark "AddressSanitizer: build"
build_preset asan
mark "AddressSanitizer: the tests"
ctest --preset asan-parallel
ctest --preset asan-timing

mark "package: build"
build_preset package
mark "package: the checks"
ctest --preset package
