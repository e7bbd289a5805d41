# Debian packages the build and the tests need, and the installer both set-up
# commands share.
BUILD_PACKAGES=(build-essential cmake pkg-config libcrypto++-dev)
TEST_PACKAGES=(googletest libgtest-dev)

install_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}
# The PKCS#11 clients that the client tests and the demo drive.
CLIENT_PACKAGES=(opensc python3-pykcs11 gnutls-bin p11-kit p11-kit-modules libengine-pkcs11-openssl openssl
    libnss3-tools openjdk-17-jdk-headless curl iproute2)
