#!/usr/bin/env bash
# Longer run of the several-processes tests on the virtual token: writers
# together, a writer killed at random moments. The test command runs a short
# slice of the same tests.
#   scripts/token-soak.sh [rounds per test, default 40] [repetitions, default 5]
set -euo pipefail
cd "$(dirname "$0")/.."
ROUNDS=${1:-40}
REPEAT=${2:-5}
DIR=build/asan
JOBS=${JOBS:-$(nproc)}
cmake -S . -B "$DIR" -DCMAKE_BUILD_TYPE=Debug -DQUILLON_SANITIZER=address \
    >"$DIR.configure.log" 2>&1 || { cat "$DIR.configure.log"; exit 1; }
cmake --build "$DIR" -j"$JOBS" --target integration_tests >"$DIR.build.log" 2>&1 ||
    { tail -40 "$DIR.build.log"; exit 1; }
QUILLON_TOKEN_SOAK_ROUNDS=$ROUNDS "$DIR/tests/integration/integration_tests" \
    --gtest_filter='TokenProcesses.*' --gtest_repeat="$REPEAT" --gtest_break_on_failure
