#!/usr/bin/env bash
# PyKCS11 signs with PSS and encrypts with OAEP (pykcs11_extended.py); OpenSSL
# checks the signature and decrypts the ciphertext with the key's PEM copy.
source "$(dirname "$0")/extended_common.sh"

run "$PY" "$HERE/pykcs11_extended.py" "$QUILLON_MODULE" "$USER_PIN"
openssl dgst -sha256 -binary pss.txt >pss.sha256
run openssl pkeyutl -verify -pubin -inkey tls.pub.pem -in pss.sha256 -sigfile pss.sig \
    -pkeyopt digest:sha256 -pkeyopt rsa_padding_mode:pss -pkeyopt rsa_pss_saltlen:32
expect "Signature Verified Successfully"
run openssl pkeyutl -decrypt -inkey tls.pem -in oaep.bin -out oaep.back \
    -pkeyopt rsa_padding_mode:oaep -pkeyopt rsa_oaep_md:sha256 -pkeyopt rsa_mgf1_md:sha256
cmp oaep.txt oaep.back
pass "PyKCS11 PSS and OAEP, checked by OpenSSL"
