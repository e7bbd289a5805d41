# Set-up shared by the tests of the extended mechanism set: the common token,
# the configuration key, an RSA 2048 key pair imported from OpenSSL (PEM in
# tls.pem, public key in tls.pub.pem), a self-signed certificate for it, and
# the OpenSSL configuration that loads engine-pkcs11 over the provider.
source "$(dirname "$0")/common.sh"

echo "mechanisms=extended" >>"$QUILLON_REGISTRY"
import_rsa_key tls 07 "tls key"
openssl req -new -x509 -key tls.pem -subj /CN=localhost -days 2 -out cert.pem \
    -addext subjectAltName=IP:127.0.0.1,DNS:localhost 2>/dev/null

ENGINE=$(find /usr/lib -name pkcs11.so -path '*engines*' | head -n 1)
[ -n "$ENGINE" ] || { echo "engine-pkcs11 is not installed"; exit 1; }
cat >openssl.cnf <<CNF
openssl_conf = openssl_init
[openssl_init]
engines = engine_section
[engine_section]
pkcs11 = pkcs11_section
[pkcs11_section]
engine_id = pkcs11
dynamic_path = $ENGINE
MODULE_PATH = $QUILLON_MODULE
init = 0
CNF
ENGINE_CONF="$WORK/openssl.cnf"
KEY_URL="pkcs11:serial=$SERIAL;object=tls%20key;type=private;pin-value=$USER_PIN"
GNUTLS_KEY="pkcs11:serial=$SERIAL;object=tls%20key;type=private?pin-value=$USER_PIN"
TLS13="NORMAL:-VERS-ALL:+VERS-TLS1.3"

# A port nobody listens on now, on the loopback address.
free_port() {
    local port
    while :; do
        port=$((20000 + RANDOM % 20000))
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
    done
}

# wait_for FILE TEXT: until the server's output shows TEXT (at most 10 s).
wait_for() {
    local i
    for i in $(seq 100); do
        grep -qF -- "$2" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "the server did not start:"
    cat "$1"
    return 1
}

# Servers started by a test are stopped when it ends, whatever happens.
SERVER_PIDS=()
stop_servers() {
    local pid
    for pid in "${SERVER_PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    SERVER_PIDS=()
}
trap 'rc=$?; stop_servers; (exit $rc); on_exit' EXIT
