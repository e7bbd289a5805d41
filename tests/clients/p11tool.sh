#!/usr/bin/env bash
# GnuTLS p11tool with the provider given by --provider: it lists the token,
# its public objects without a PIN and the private key after logging in.
source "$(dirname "$0")/common.sh"

import_rsa_key gnutls 04 "gnutls key"
openssl req -x509 -newkey rsa:2048 -nodes -keyout cert.key -subj "/CN=p11tool test" \
    -days 30 -outform DER -out cert.der 2>/dev/null
run p11_user --write-object cert.der --type cert --id 05 --label "gnutls cert"

TOKEN_URL="pkcs11:token=$(sed 's/ /%20/g' <<<"$LABEL")"
export GNUTLS_PIN="$USER_PIN"

run p11tool --provider "$QUILLON_MODULE" --list-tokens
expect "Label: $LABEL"
expect "Serial: $SERIAL"

run p11tool --provider "$QUILLON_MODULE" --list-all "$TOKEN_URL"
expect "gnutls cert"
expect "Type: Public key (RSA-2048)"
expect_not "Type: Private key"

run p11tool --provider "$QUILLON_MODULE" --login --list-all "$TOKEN_URL"
expect "Type: Private key (RSA-2048)"
expect "Label: gnutls key"

run p11tool --provider "$QUILLON_MODULE" --list-all-certs "$TOKEN_URL"
expect "Type: X.509 Certificate"
expect "Label: gnutls cert"
pass "p11tool lists tokens and objects"
