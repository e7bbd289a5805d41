#!/usr/bin/env bash
# GnuTLS TLS 1.3 with the token's key, both ways: gnutls-serv serves with it
# and gnutls-cli connects; gnutls-cli authenticates with it as a client to an
# OpenSSL server that requires a certificate. gnutls-serv cannot be told an
# address and listens on every one, so it runs in a network namespace of its
# own that has only the loopback interface. Every server is stopped by the test.
source "$(dirname "$0")/extended_common.sh"

# The token key as the client's.
PORT=$(free_port)
openssl s_server -key tls.pem -cert cert.pem -accept "127.0.0.1:$PORT" -tls1_3 -Verify 1 \
    -CAfile cert.pem -verify_return_error -www >server.log 2>&1 &
SERVER_PIDS+=($!)
wait_for server.log ACCEPT
run bash -c "printf 'GET / HTTP/1.0\r\n\r\n' | gnutls-cli --provider '$QUILLON_MODULE' \
    --x509cafile cert.pem --x509certfile cert.pem --x509keyfile '$GNUTLS_KEY' \
    --priority '$TLS13' -p $PORT 127.0.0.1"
expect "Handshake was completed"
expect "HTTP/1.0 200 ok"
stop_servers
grep -q "CKM_RSA_PKCS_PSS" "$QUILLON_LOG" || { echo "the token made no PSS signature"; exit 1; }

# The token key as the server's, in a namespace with nothing but loopback.
if ! unshare -n true 2>/dev/null; then
    echo "no network namespace available (needs root): gnutls-serv not run"
    pass "GnuTLS TLS 1.3 client with its key on the token"
    exit 0
fi
cat >inside.sh <<INSIDE
set -u
ip link set lo up
gnutls-serv --provider '$QUILLON_MODULE' --x509certfile cert.pem --x509keyfile '$GNUTLS_KEY' \
    --priority '$TLS13' -p 4433 >gserv.log 2>&1 &
server=\$!
for i in \$(seq 100); do grep -q listening gserv.log && break; sleep 0.1; done
echo | gnutls-cli --x509cafile cert.pem --priority '$TLS13' -p 4433 127.0.0.1 >gcli.log 2>&1
rc=\$?
kill \$server 2>/dev/null
wait \$server 2>/dev/null
exit \$rc
INSIDE
run unshare -n bash inside.sh || { cat gserv.log gcli.log; exit 1; }
LAST_OUTPUT=$(cat gcli.log)
expect "Handshake was completed"
expect "(TLS1.3-X.509)"
expect "RSA-PSS"
pass "GnuTLS TLS 1.3 server and client with their key on the token"
