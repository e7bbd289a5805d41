#!/usr/bin/env bash
# NSS: the module is added to a scratch NSS database with modutil, and
# certutil sees its token; with the argument "certificate", a certificate
# written to the token is listed by certutil as well, and one added by
# certutil twice is stored once.
source "$(dirname "$0")/common.sh"

mkdir nssdb
run certutil -N -d sql:nssdb --empty-password
run modutil -dbdir sql:nssdb -add Quillon -libfile "$QUILLON_MODULE" -force
run modutil -dbdir sql:nssdb -list
expect "library name: $QUILLON_MODULE"
expect "slots: 1 slot attached"
expect "status: loaded"
expect "token: $LABEL"

run certutil -U -d sql:nssdb
expect "slot: $READER"
expect "token: $LABEL"
expect "serial=$SERIAL;model=ZT%20virtual"

if [ "${1:-}" != certificate ]; then
    pass "NSS sees the token"
    exit 0
fi

# With "certificate": a certificate stored on the token is listed by NSS.
openssl req -x509 -newkey rsa:2048 -nodes -keyout cert.key -subj "/CN=nss test" \
    -days 30 -outform DER -out cert.der 2>/dev/null
run p11_user --write-object cert.der --type cert --id 07 --label "nss cert"
echo "$USER_PIN" >pin.txt
run certutil -L -d sql:nssdb -h "$LABEL" -f pin.txt
expect "$LABEL:nss cert"

# certutil -A of one certificate twice leaves one certificate object: NSS
# looks the certificate up by class and value before it imports it.
openssl req -x509 -newkey rsa:2048 -nodes -keyout added.key -subj "/CN=nss added" \
    -days 30 -outform DER -out added.der 2>/dev/null
for attempt in 1 2; do
    run certutil -A -d sql:nssdb -h "$LABEL" -f pin.txt -n "nss added" -t ",," -i added.der
done
run certutil -L -d sql:nssdb -h "$LABEL" -f pin.txt
expect "$LABEL:nss added"
run p11 --list-objects --type cert
count=$(grep -cF "subject:    DN: CN=nss added" <<<"$LAST_OUTPUT" || true)
[ "$count" -eq 1 ] || { echo "certutil -A twice left $count certificates"; exit 1; }
pass "NSS lists the certificate on the token and adds one only once"
