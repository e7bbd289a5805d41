#!/usr/bin/env bash
# ThreadSanitizer build of the thread-safety tests: sessions used on several
# threads while the reader monitor reports removals, the monitor's shutdown
# paths, eight threads while the card comes and goes (a few seconds; longer:
# scripts/soak-card-swaps.sh --tsan), and C_OpenSession racing C_Finalize.
# Builds only the integration tests and what they load.
set -euo pipefail
cd "$(dirname "$0")/../.."
DIR=build/tsan
JOBS=${JOBS:-$(nproc)}
mkdir -p build
cmake -S . -B "$DIR" -DCMAKE_BUILD_TYPE=Debug -DQUILLON_SANITIZER=thread \
    >"$DIR.configure.log" 2>&1 || { cat "$DIR.configure.log"; exit 1; }
cmake --build "$DIR" -j"$JOBS" --target integration_tests >"$DIR.build.log" 2>&1 ||
    { tail -40 "$DIR.build.log"; exit 1; }
# Some kernels map memory where TSan cannot work unless ASLR is off.
run=()
if command -v setarch >/dev/null && setarch "$(uname -m)" -R true 2>/dev/null; then
    run=(setarch "$(uname -m)" -R)
fi
TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1" \
    "${run[@]}" "$DIR/tests/integration/integration_tests" \
    --gtest_filter='SessionThreads.*:CardRemoval.*:CardSwapStress.*:FinalizeRace.*'
