#!/usr/bin/env bash
# Runs one case of pykcs11_clients.py against a fresh token. For the road of
# one request, a key pair made by OpenSSL is imported first and the signature
# PyKCS11 obtains is checked by OpenSSL afterwards.
source "$(dirname "$0")/common.sh"
if [ "$1" = road ]; then
    import_rsa_key road 42 "road key"
fi
run "$PY" "$HERE/pykcs11_clients.py" "$QUILLON_MODULE" "$USER_PIN" "$1"
if [ "$1" = road ]; then
    run openssl dgst -sha1 -verify road.pub.pem -signature road.sig road.txt
    expect "Verified OK"
fi
