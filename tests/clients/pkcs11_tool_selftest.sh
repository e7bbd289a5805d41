#!/usr/bin/env bash
# pkcs11-tool's own test run over a token holding a generated RSA key pair.
source "$(dirname "$0")/common.sh"

generate_rsa_key 03 "test key"
run p11 --test --login --pin "$USER_PIN"
expect "No errors"
pass "pkcs11-tool --test"
