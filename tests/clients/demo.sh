#!/usr/bin/env bash
# The demo command over the build under test: it runs to the end, shows the
# verification by OpenSSL (and the refusal of a tampered message), the TLS 1.3
# page fetched from a server whose key is on the token, and leaves the user's
# own token store alone.
# Usage: demo.sh BUILD_DIR
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/quillon-demo-test.XXXXXX")
trap 'rm -rf "$SCRATCH"' EXIT

export ZT_HOME="$SCRATCH/users-own-store"  # must stay untouched
export TMPDIR="$SCRATCH"
out=$(QUILLON_DEMO_BUILD="$1" bash "$ROOT/scripts/demo.sh" 2>&1) || {
    printf '%s\n' "$out"
    echo "FAIL: the demo stopped"
    exit 1
}
printf '%s\n' "$out"
for want in "== 1. Virtual token ==" "User PIN: 1234" "--keypairgen" "Verified OK" \
            "Verification failure" "== 9. The log ==" "SHA256-RSA-PKCS-PSS" "HTTP 200" \
            "Protocol  : TLSv1.3" "server stopped; the token signed with: CKM_RSA_PKCS_PSS"; do
    grep -qF -- "$want" <<<"$out" || { echo "FAIL: the demo did not show: $want"; exit 1; }
done
[ ! -e "$ZT_HOME" ] || { echo "FAIL: the demo wrote into the user's ZT_HOME"; exit 1; }
leftover=$(find "$SCRATCH" -mindepth 1 -maxdepth 1 -name 'quillon-demo.*')
[ -z "$leftover" ] || { echo "FAIL: the demo left $leftover behind"; exit 1; }
echo "PASS: the demo"
