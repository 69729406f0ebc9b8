#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing_packages
build_preset test
cd "$ROOT"
ctest --preset test
