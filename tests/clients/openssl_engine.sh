#!/usr/bin/env bash
# OpenSSL signs with the token's key through engine-pkcs11 (libp11); the
# signature verifies in OpenSSL with the public key read off the token.
source "$(dirname "$0")/common.sh"

ENGINE=$(find /usr/lib -name pkcs11.so -path '*engines*' | head -n 1)
[ -n "$ENGINE" ] || { echo "engine-pkcs11 is not installed"; exit 1; }
cat >openssl.cnf <<CNF
openssl_conf = openssl_init
[openssl_init]
engines = engine_section
[engine_section]
pkcs11 = pkcs11_section
[pkcs11_section]
engine_id = pkcs11
dynamic_path = $ENGINE
MODULE_PATH = $QUILLON_MODULE
init = 0
CNF
export OPENSSL_CONF="$WORK/openssl.cnf"

# A key pair imported from OpenSSL: the engine must sign with the token's copy.
import_rsa_key imported 06 "openssl key"
run p11_user --read-object --type pubkey --id 06 --output-file pub.der
run openssl pkey -pubin -inform DER -in pub.der -out pub.pem
cmp pub.pem imported.pub.pem

printf 'signed by the token through OpenSSL\n' >data.txt
KEY_URL="pkcs11:token=$(sed 's/ /%20/g' <<<"$LABEL");object=openssl%20key;type=private;pin-value=$USER_PIN"

# The engine signs a SHA-256 DigestInfo with CKM_RSA_PKCS.
run openssl dgst -sha256 -engine pkcs11 -keyform engine -sign "$KEY_URL" -out data.sig data.txt
run openssl dgst -sha256 -verify pub.pem -signature data.sig data.txt
expect "Verified OK"

# pkeyutl over a SHA-1 digest, as a TLS client signs.
openssl dgst -sha1 -binary data.txt >digest.bin
run openssl pkeyutl -engine pkcs11 -keyform engine -inkey "$KEY_URL" -sign \
    -pkeyopt digest:sha1 -in digest.bin -out digest.sig
run openssl pkeyutl -verify -pubin -inkey pub.pem -pkeyopt digest:sha1 \
    -in digest.bin -sigfile digest.sig
expect "Signature Verified Successfully"
pass "OpenSSL signs through engine-pkcs11"
