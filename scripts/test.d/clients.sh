#!/usr/bin/env bash
# Client tests: builds the sanitizer-free release build in build/release (the
# clients cannot load a sanitizer build), installs the PKCS#11 clients when
# missing and runs the tests labelled "clients" and the installation test.
# Usage: bash scripts/test.d/clients.sh (run by scripts/test.sh)
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$PWD
JOBS=$(nproc)

source scripts/packages.sh
install_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${CLIENT_PACKAGES[@]}"

DIR=build/release
mkdir -p build
cmake -S "$ROOT" -B "$DIR" -DCMAKE_BUILD_TYPE=Release -DQUILLON_SANITIZER= -DQUILLON_BUILD_TESTS=ON >"$DIR.configure.log" 2>&1 ||
    { cat "$DIR.configure.log"; exit 1; }
# Only what the clients load and what gets installed: the unit and integration
# tests already ran in the sanitizer build.
cmake --build "$DIR" -j"$JOBS" --target quillon orl2 zt zt-admin >"$DIR.build.log" 2>&1 ||
    { tail -60 "$DIR.build.log"; exit 1; }
grep -E 'warning:' "$DIR.build.log" || true

cd "$DIR"
ctest --output-on-failure --timeout 600 -L 'clients|install'
