#!/usr/bin/env bash
# Soak run of the card-swap stress test: eight threads with their own sessions
# while the card comes and goes at random, for SECONDS (default 600) in the
# AddressSanitizer build, or the ThreadSanitizer one with --tsan. The test
# command runs the same test for a few seconds.
#
#   scripts/soak-card-swaps.sh [--tsan] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
sanitizer=address
if [[ "${1:-}" == "--tsan" ]]; then
    sanitizer=thread
    shift
fi
seconds=${1:-600}
# The build folders of the test command and of its ThreadSanitizer run.
if [[ $sanitizer == thread ]]; then DIR=build/tsan; else DIR=build/asan; fi
JOBS=${JOBS:-$(nproc)}
mkdir -p build
cmake -S . -B "$DIR" -DCMAKE_BUILD_TYPE=Debug -DQUILLON_SANITIZER=$sanitizer \
    >"$DIR.configure.log" 2>&1 || { cat "$DIR.configure.log"; exit 1; }
cmake --build "$DIR" -j"$JOBS" --target integration_tests >"$DIR.build.log" 2>&1 ||
    { tail -40 "$DIR.build.log"; exit 1; }
run=()
if [[ $sanitizer == thread ]] && command -v setarch >/dev/null &&
    setarch "$(uname -m)" -R true 2>/dev/null; then
    run=(setarch "$(uname -m)" -R)
fi
QUILLON_STRESS_SECONDS=$seconds \
    TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1" \
    "${run[@]}" "$DIR/tests/integration/integration_tests" \
    --gtest_filter='CardSwapStress.*'
