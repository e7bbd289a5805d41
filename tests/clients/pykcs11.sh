#!/usr/bin/env bash
# Runs one case of pykcs11_clients.py against a fresh token.
source "$(dirname "$0")/common.sh"
run "$PY" "$HERE/pykcs11_clients.py" "$QUILLON_MODULE" "$USER_PIN" "$1"
