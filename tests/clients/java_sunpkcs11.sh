#!/usr/bin/env bash
# Java's SunPKCS11 (Debian's OpenJDK 17): AES key generation, RSA key pairs of
# 1024 and 2048 bits and a signature each. Java checks the sizes of the
# mechanism information before it asks (AES in bytes, RSA from 1024 bits) and
# passes an empty private template unless configured; key pairs are made on
# the token, so the configuration asks for token keys.
source "$(dirname "$0")/common.sh"

JAVA=/usr/lib/jvm/java-17-openjdk-amd64/bin/java
[ -x "$JAVA" ] || { echo "no OpenJDK 17 at $JAVA"; exit 1; }
cat >sunpkcs11.cfg <<CFG
name = Quillon
library = $QUILLON_MODULE
attributes(generate, CKO_PUBLIC_KEY, CKK_RSA) = {
  CKA_TOKEN = true
}
CFG
run "$JAVA" "$HERE/SunPkcs11Client.java" sunpkcs11.cfg "$USER_PIN"
expect "AES key of 128 bits generated, round trip OK"
expect "RSA key pair of 1024 bits generated, signature verified"
expect "RSA key pair of 2048 bits generated, signature verified"
pass "SunPKCS11 generates keys and signs"
