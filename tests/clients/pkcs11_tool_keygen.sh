#!/usr/bin/env bash
# Secret-key generation through pkcs11-tool: the generators announce
# CKF_GENERATE, so "--keygen" runs, and the length asked for (CKA_VALUE_LEN)
# is the length made.
source "$(dirname "$0")/common.sh"

for bytes in 16 24 32; do
    run p11_user --keygen --key-type "AES:$bytes" --label "aes $bytes" --id "0$((bytes / 8))"
    expect_not "not supported"
done
run p11_user --list-objects --type secrkey
for bytes in 16 24 32; do
    grep -A1 -F "aes $bytes" <<<"$LAST_OUTPUT" >/dev/null ||
        { echo "no key labelled aes $bytes"; exit 1; }
done
# Each key is as long as asked.
for bytes in 16 24 32; do
    grep -B2 -F "label:      aes $bytes" <<<"$LAST_OUTPUT" | grep -qF "AES length $bytes" ||
        { echo "the key labelled aes $bytes is not $bytes bytes long"; exit 1; }
done
run_fails p11_user --keygen --key-type AES:20 --label "aes 20"
pass "pkcs11-tool generates AES keys of 16, 24 and 32 bytes"
