#!/usr/bin/env bash
# An OpenSSL TLS 1.3 server whose key is on the token (engine-pkcs11), on
# 127.0.0.1 only, answers curl; the handshake's CertificateVerify is an RSA-PSS
# signature made by the token. OpenSSL's s_client sees the same. The server is
# stopped by the test.
source "$(dirname "$0")/extended_common.sh"

PORT=$(free_port)
OPENSSL_CONF="$ENGINE_CONF" openssl s_server -engine pkcs11 -keyform engine -key "$KEY_URL" \
    -cert cert.pem -accept "127.0.0.1:$PORT" -tls1_3 -www >server.log 2>&1 &
SERVER_PIDS+=($!)
wait_for server.log ACCEPT

run curl -sS --tlsv1.3 --cacert cert.pem -o page.html -w '%{http_code}\n' "https://127.0.0.1:$PORT/"
expect 200
grep -q "TLSv1.3" page.html || { echo "the page does not tell TLS 1.3:"; cat page.html; exit 1; }
run openssl s_client -connect "127.0.0.1:$PORT" -tls1_3 -CAfile cert.pem -verify_return_error \
    </dev/null
expect "Verify return code: 0 (ok)"
expect "Peer signature type: RSA-PSS"
stop_servers
grep -q "CKM_RSA_PKCS_PSS" "$QUILLON_LOG" || { echo "the token made no PSS signature"; exit 1; }
pass "OpenSSL TLS 1.3 server with its key on the token"
