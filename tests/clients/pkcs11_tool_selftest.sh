#!/usr/bin/env bash
# pkcs11-tool's own test run (--test --login) over a token holding an RSA 2048
# key pair. Its sections must report working digests, signatures, verification
# and decryption, and it must report no error at all: a buffer too small keeps
# the operation and its result (the two-call convention), and random data of
# length 0 is a valid request. (Its warnings about CKA_ALWAYS_AUTHENTICATE, an
# attribute the provider does not know and answers with
# CKR_ATTRIBUTE_TYPE_INVALID, are no errors.)
source "$(dirname "$0")/common.sh"

import_rsa_key selftest 03 "test key"
rc=0
run p11 --test --login --pin "$USER_PIN" || rc=$?

expect "all 4 digest functions seem to work"
expect "all 4 signature functions seem to work"
for section in "Verify (currently only for RSA)" "Decryption (currently only for RSA)"; do
    grep -A3 -F "$section" <<<"$LAST_OUTPUT" | grep -q "RSA-PKCS: OK" ||
        { echo "no working RSA-PKCS under: $section"; exit 1; }
done

unexpected=$(grep -E 'ERR:|failed, returning|didn.t return|prematurely' <<<"$LAST_OUTPUT" || true)
if [ -n "$unexpected" ]; then
    echo "failures reported by pkcs11-tool --test:"
    printf '%s\n' "$unexpected"
    exit 1
fi
echo "pkcs11-tool --test: exit code $rc"
[ "$rc" -eq 0 ] || { echo "pkcs11-tool --test exited with $rc"; exit 1; }
pass "pkcs11-tool --test"
