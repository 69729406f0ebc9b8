#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing_packages
build_preset test
cd "$ROOT"
# The journal's server tests fail rather than skip when PostgreSQL is missing.
export TALVOR_REQUIRE_POSTGRES=1
ctest --preset test
