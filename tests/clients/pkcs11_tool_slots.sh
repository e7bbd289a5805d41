#!/usr/bin/env bash
# pkcs11-tool sees the module, the reader's slot, the token and the fixed
# mechanism list; an empty reader shows as a slot without a token.
source "$(dirname "$0")/common.sh"

run p11 --show-info
expect "Cryptoki version 2.20"

run p11 --list-slots
expect "$READER"
expect "token label        : $LABEL"
expect "serial num         : $SERIAL"
expect "login required"

run p11 --list-token-slots
expect "$LABEL"

run p11 --list-mechanisms
for m in RSA-PKCS-KEY-PAIR-GEN RSA-PKCS RSA-X-509 SHA1-RSA-PKCS MD5-RSA-PKCS SHA-1 MD5 \
         DES-ECB DES-CBC DES3-ECB DES3-CBC AES-ECB AES-CBC AES-KEY-GEN; do
    expect "$m"
done
# RSA sizes in bits covering what is generated and accepted; AES sizes in
# bytes; secret-key generators announce CKF_GENERATE.
expect "RSA-PKCS, keySize={1024,4096}"
expect "AES-KEY-GEN, keySize={16,32}, generate"
expect_not "AES-KEY-GEN, keySize={16,32}, generate_key_pair"
expect "AES-ECB, keySize={16,32}, encrypt, decrypt, wrap, unwrap"

# A reader without a card: still a slot, but no token in it.
"$ZT_ADMIN" card remove "$READER" >/dev/null
run p11 --list-slots
expect "$READER"
expect "(empty)"
run_fails p11 --list-token-slots
expect "No slots."
"$ZT_ADMIN" card insert "$READER" >/dev/null
run p11 --list-token-slots
expect "$LABEL"
pass "slots, token and mechanisms"
