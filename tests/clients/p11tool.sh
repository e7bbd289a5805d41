#!/usr/bin/env bash
# GnuTLS p11tool with the provider given by --provider: it lists the token,
# its public objects without a PIN and the private key after logging in.
source "$(dirname "$0")/common.sh"

export GNUTLS_PIN="$USER_PIN"

run p11tool --provider "$QUILLON_MODULE" --list-tokens
expect "Label: $LABEL"
expect "Serial: $SERIAL"

# Token texts are blank-padded with no zero byte, so the token's URI names the
# label as it is, and a URI written by hand from the label alone finds it.
PLAIN_LABEL_URL="pkcs11:token=$(sed 's/ /%20/g' <<<"$LABEL")"
run p11tool --provider "$QUILLON_MODULE" --list-token-urls
TOKEN_URL=$LAST_OUTPUT
expect "${PLAIN_LABEL_URL#pkcs11:}"
expect_not "%00"
run p11tool --provider "$QUILLON_MODULE" --generate-random 8 --outfile random.bin "$PLAIN_LABEL_URL"
[ "$(stat -c %s random.bin)" -eq 8 ]
run p11tool --provider "$QUILLON_MODULE" --generate-random 8 --outfile random.bin "pkcs11:serial=$SERIAL"
[ "$(stat -c %s random.bin)" -eq 8 ]

import_rsa_key gnutls 04 "gnutls key"
openssl req -x509 -newkey rsa:2048 -nodes -keyout cert.key -subj "/CN=p11tool test" \
    -days 30 -outform DER -out cert.der 2>/dev/null
run p11_user --write-object cert.der --type cert --id 05 --label "gnutls cert"

run p11tool --provider "$QUILLON_MODULE" --list-all "$TOKEN_URL"
expect "gnutls cert"
expect "Type: Public key (RSA-2048)"
expect_not "Type: Private key"

run p11tool --provider "$QUILLON_MODULE" --login --list-all "$TOKEN_URL"
expect "Type: Private key (RSA-2048)"
expect "Type: Public key (RSA-2048)"
expect "Label: gnutls key"

run p11tool --provider "$QUILLON_MODULE" --list-all-certs "$TOKEN_URL"
expect "Type: X.509 Certificate"
expect "Label: gnutls cert"
run p11tool --provider "$QUILLON_MODULE" --list-all-certs "$PLAIN_LABEL_URL"
expect "Label: gnutls cert"
pass "p11tool lists tokens and objects"
