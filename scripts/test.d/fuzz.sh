#!/usr/bin/env bash
# A bounded run of every fuzz target (clang's libFuzzer with ASan+UBSan),
# starting from the committed seeds, which include every input a fuzzer once
# failed on. Longer runs: scripts/fuzz.sh [seconds].
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/packages.sh
install_packages "${FUZZ_PACKAGES[@]}"
# From the seeds alone, so the run takes the same time however long earlier
# runs grew the working corpus.
export FUZZ_WORK_DIR=build/fuzz/bounded
rm -rf "$FUZZ_WORK_DIR"
bash scripts/fuzz.sh "${FUZZ_SECONDS:-6}"
