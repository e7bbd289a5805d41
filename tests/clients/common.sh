# Shared set-up of the client tests: a fresh virtual token in a temporary
# ZT_HOME, a scratch configuration naming it, and small helpers that show each
# client command and its output. Sourced by every client test script.
#
# CTest passes the built files in QUILLON_MODULE (libquillon.so), ZT_LIBRARY
# (libzt.so) and ZT_ADMIN (zt-admin).
set -euo pipefail

: "${QUILLON_MODULE:?QUILLON_MODULE must name libquillon.so}"
: "${ZT_LIBRARY:?ZT_LIBRARY must name libzt.so}"
: "${ZT_ADMIN:?ZT_ADMIN must name zt-admin}"

READER="Quillon Virtual Reader 0"
LABEL="Client Test"
SERIAL="QUILLONCLIENT001"  # 16 characters: fills its field, so URIs can name it
# Letters that never occur in the log's hexadecimal dumps, so that the check
# below can tell a leaked PIN from chance.
USER_PIN="qPin"
NEW_PIN="nPin"
WRONG_PIN="wPin"
SO_PIN="soSecret"
PY=/usr/bin/python3  # the interpreter that has PyKCS11

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/quillon-client.XXXXXX")
export ZT_HOME="$WORK/zt"
export QUILLON_REGISTRY="$WORK/quillon.conf"
QUILLON_LOG="$WORK/quilltok.log"
cat >"$QUILLON_REGISTRY" <<CONF
zt=$ZT_LIBRARY
loglevel=1
ckilogfile=$QUILLON_LOG
CONF

# The provider's log must never hold a PIN, as text or as hexadecimal.
check_log_has_no_pin() {
    local pin hex
    [ -f "$QUILLON_LOG" ] || return 0
    for pin in "$USER_PIN" "$NEW_PIN" "$WRONG_PIN" "$SO_PIN"; do
        hex=$(printf '%s' "$pin" | od -An -tx1 | tr -d ' \n')
        if grep -qiF -e "$pin" -e "$hex" "$QUILLON_LOG"; then
            echo "the provider log holds the PIN $pin"
            return 1
        fi
    done
}

on_exit() {
    local rc=$?
    if [ "$rc" -eq 0 ]; then
        check_log_has_no_pin || rc=1
    fi
    if [ "$rc" -ne 0 ]; then
        echo "FAILED (exit $rc)"
        if [ -s "$QUILLON_LOG" ]; then
            echo "--- last lines of the provider log ---"
            tail -n 40 "$QUILLON_LOG"
        fi
    fi
    [ -n "${KEEP_WORK:-}" ] && echo "work folder kept: $WORK" || rm -rf "$WORK"
    exit "$rc"
}
trap on_exit EXIT
cd "$WORK"

# One token: a reader holding a blank card with known PINs.
"$ZT_ADMIN" reader add "$READER" >/dev/null
"$ZT_ADMIN" card new "$READER" --label "$LABEL" --serial "$SERIAL" \
    --user-pin "$USER_PIN" --so-pin "$SO_PIN" >/dev/null

# run CMD...: show the command, run it, show its output; fail when it fails.
run() {
    echo "\$ $*"
    local out rc=0
    out=$("$@" 2>&1 | tr -d '\0') || rc=$?
    [ -n "$out" ] && printf '%s\n' "$out"
    LAST_OUTPUT=$out
    if [ "$rc" -ne 0 ]; then
        echo "command failed with exit code $rc"
        return "$rc"
    fi
}

# run_fails CMD...: the command must fail.
run_fails() {
    echo "\$ $* (must fail)"
    local out rc=0
    out=$("$@" 2>&1 | tr -d '\0') || rc=$?
    [ -n "$out" ] && printf '%s\n' "$out"
    LAST_OUTPUT=$out
    if [ "$rc" -eq 0 ]; then
        echo "command succeeded but should have failed"
        return 1
    fi
}

# expect TEXT: the output of the last command holds TEXT.
expect() {
    if ! grep -qF -- "$1" <<<"$LAST_OUTPUT"; then
        echo "expected to see: $1"
        return 1
    fi
}

# expect_not TEXT: the output of the last command does not hold TEXT.
expect_not() {
    if grep -qF -- "$1" <<<"$LAST_OUTPUT"; then
        echo "did not expect to see: $1"
        return 1
    fi
}

p11() { pkcs11-tool --module "$QUILLON_MODULE" "$@"; }
p11_user() { pkcs11-tool --module "$QUILLON_MODULE" --login --pin "$USER_PIN" "$@"; }

# The DER DigestInfo of the SHA-1 hash of a file, as CKM_RSA_PKCS signs it.
sha1_digest_info() {  # in, out
    {
        printf '\x30\x21\x30\x09\x06\x05\x2b\x0e\x03\x02\x1a\x05\x00\x04\x14'
        openssl dgst -sha1 -binary "$1"
    } >"$2"
}

# An RSA 2048 key pair generated on the token by pkcs11-tool.
generate_rsa_key() {  # id, label
    run p11_user --keypairgen --key-type rsa:2048 --id "$1" --label "$2"
}

pass() { echo "PASS: $*"; }

# An RSA 2048 key pair made by OpenSSL and imported into the token (the
# provider stores it with the card and makes the public key object too); the
# PEM private key stays in $1.pem and the public key in $1.pub.pem.
import_rsa_key() {  # name (file stem), id, label
    openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$1.pem" 2>/dev/null
    openssl pkey -in "$1.pem" -pubout -out "$1.pub.pem"
    run p11_user --write-object "$1.pem" --type privkey --id "$2" --label "$3"
}
