#!/usr/bin/env bash
# The test command: installs what is missing (Debian 12, as root), builds and
# runs every test. Usage: bash scripts/test.sh
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=$(nproc)

source scripts/packages.sh
install_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

failed=0
passed_suites=0
failed_suites=0
run_suite() {  # name, build dir, cmake args...
    local name=$1 dir=$2
    shift 2
    echo "=== $name ==="
    cmake -S "$ROOT" -B "$dir" "$@" >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; return 1; }
    cmake --build "$dir" -j"$JOBS" 2>&1 | grep -E 'error|warning:' || true
    cmake --build "$dir" -j"$JOBS" >/dev/null 2>&1 || { cmake --build "$dir" 2>&1 | tail -40; return 1; }
    (cd "$dir" && ctest --output-on-failure --timeout 600) || return 1
}

mkdir -p build
if run_suite "ASan+UBSan build" build/asan -DCMAKE_BUILD_TYPE=Debug -DQUILLON_SANITIZER=address; then
    passed_suites=$((passed_suites + 1))
else
    failed=1
    failed_suites=$((failed_suites + 1))
fi

for extra in scripts/test.d/*.sh; do
    [ -e "$extra" ] || continue
    echo "=== $(basename "$extra") ==="
    if bash "$extra"; then
        passed_suites=$((passed_suites + 1))
    else
        failed=1
        failed_suites=$((failed_suites + 1))
    fi
done

if [ "$failed" -ne 0 ]; then
    echo "SOME TESTS FAILED"
    echo "suites: $passed_suites passed, $failed_suites failed"
    exit 1
fi
echo "ALL TESTS PASSED"
echo "suites: $passed_suites passed, $failed_suites failed"
