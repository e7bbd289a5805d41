#!/usr/bin/env bash
# Token objects through pkcs11-tool: a certificate and a data object are
# written, found again by a fresh process, read back byte for byte; the data
# object is deleted.
source "$(dirname "$0")/common.sh"

openssl req -x509 -newkey rsa:2048 -nodes -keyout cert.key -subj "/CN=Quillon client test" \
    -days 30 -outform DER -out cert.der 2>/dev/null
head -c 300 /dev/urandom >data.bin

run p11_user --write-object cert.der --type cert --id 02 --label "test certificate"
run p11_user --write-object data.bin --type data --label "test data"

run p11_user --list-objects
expect "Certificate Object; type = X.509 cert"
expect "label:      test certificate"
expect "Data object"
expect "'test data'"

run p11_user --read-object --type cert --id 02 --output-file cert.back
cmp cert.der cert.back
run p11_user --read-object --type data --label "test data" --output-file data.back
cmp data.bin data.back

# The certificate is public: it is seen without logging in.
run p11 --list-objects --type cert
expect "test certificate"

run p11_user --delete-object --type data --label "test data"
run p11_user --list-objects
expect_not "test data"
expect "test certificate"
pass "certificate and data objects"
