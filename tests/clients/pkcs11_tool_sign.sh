#!/usr/bin/env bash
# The road of one request through pkcs11-tool: an RSA 2048 key pair made on
# the token, signatures with SHA1-RSA-PKCS and with RSA-PKCS over a
# DigestInfo, both checked by OpenSSL against the public key read off the token.
source "$(dirname "$0")/common.sh"

generate_rsa_key 01 "signing key"

run p11_user --list-objects
expect "Private Key Object; RSA"
expect "Public Key Object; RSA"
expect "label:      signing key"
expect "ID:         01"

printf 'The quick brown fox jumps over the lazy dog\n' >data.txt

run p11_user --sign --mechanism SHA1-RSA-PKCS --id 01 --input-file data.txt --output-file sha1.sig
[ "$(stat -c %s sha1.sig)" -eq 256 ] || { echo "signature is not 256 bytes"; exit 1; }

sha1_digest_info data.txt digestinfo.bin
run p11_user --sign --mechanism RSA-PKCS --id 01 --input-file digestinfo.bin --output-file raw.sig
# PKCS#1 v1.5 signatures are deterministic: both ways give the same bytes.
cmp sha1.sig raw.sig

run p11 --read-object --type pubkey --id 01 --output-file pub.der
run openssl pkey -pubin -inform DER -in pub.der -out pub.pem
run openssl dgst -sha1 -verify pub.pem -signature sha1.sig data.txt
expect "Verified OK"

# A signature over other data does not verify.
printf 'The quick brown fox jumps over the lazy cat\n' >other.txt
run_fails openssl dgst -sha1 -verify pub.pem -signature sha1.sig other.txt

# The token verifies its own signature as well (in software, with the public key).
run p11 --verify --mechanism SHA1-RSA-PKCS --id 01 --input-file data.txt --signature-file sha1.sig
expect "Signature is valid"
# (pkcs11-tool exits with 0 either way and says which.)
run p11 --verify --mechanism SHA1-RSA-PKCS --id 01 --input-file other.txt --signature-file sha1.sig
expect "Invalid signature"
# A fresh process reads the keys back from the card: the public key still
# knows its size (CKA_MODULUS_BITS, from which pkcs11-tool sizes signatures).
run p11 --list-objects --type pubkey
expect "Public Key Object; RSA 2048 bits"
pass "key generation, signing, verification with OpenSSL"
