#!/usr/bin/env bash
# A bounded run of every fuzz target (clang's libFuzzer with ASan+UBSan),
# starting from the committed seeds, which include every input a fuzzer once
# failed on. Longer runs: scripts/fuzz.sh [seconds].
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/packages.sh
install_packages "${FUZZ_PACKAGES[@]}"
bash scripts/fuzz.sh "${FUZZ_SECONDS:-6}"
