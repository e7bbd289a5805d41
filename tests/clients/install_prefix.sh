#!/usr/bin/env bash
# The prefix given only at install time decides every installed path: a
# build configured without a prefix is installed with `--prefix`, and the
# module file and the sample configuration name the files where they landed.
# With the prefix /usr (into a DESTDIR) the libraries go to Debian's multiarch
# folder; with a scratch root as prefix the installation is then used as a
# user would: p11-kit lists Quillon, and pkcs11-tool signs through p11-kit's
# proxy module with the virtual token, configured by the sample verbatim.
# Usage: install_prefix.sh BUILD_DIR SANITIZER
set -euo pipefail
BUILD=$1 SANITIZER=${2:-}

WORK=$(mktemp -d "${TMPDIR:-/tmp}/quillon-prefix.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
install_to() {  # log name, cmake --install arguments...
    local log="$WORK/$1.log"
    shift
    cmake --install "$BUILD" "$@" >"$log" 2>&1 || { cat "$log"; fail "cmake --install $*"; }
}

configured=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$BUILD/CMakeCache.txt")
echo "configured prefix: $configured (the install-time prefix overrides it)"

# 1. --prefix /usr: Debian's multiarch library folder, and files that name it.
MULTIARCH=$(gcc -print-multiarch 2>/dev/null || true)
LIB=/usr/lib${MULTIARCH:+/$MULTIARCH}
[ -f /etc/debian_version ] || LIB=/usr/lib
DEST="$WORK/destdir"
DESTDIR="$DEST" install_to usr --prefix /usr
for f in "$LIB/libquillon.so" "$LIB/liborl2.so" "$LIB/libzt.so" /usr/bin/zt-admin \
         /usr/share/p11-kit/modules/quillon.module /usr/share/quillon/quillon.conf.sample; do
    [ -f "$DEST$f" ] || fail "$f was not installed under the prefix /usr"
done
grep -qx "module: $LIB/libquillon.so" "$DEST/usr/share/p11-kit/modules/quillon.module" ||
    fail "the module file does not name $LIB/libquillon.so: $(grep module: "$DEST/usr/share/p11-kit/modules/quillon.module")"
grep -qx "zt=$LIB/libzt.so" "$DEST/usr/share/quillon/quillon.conf.sample" ||
    fail "the sample configuration does not name $LIB/libzt.so"
if grep -rqF "$configured/" "$DEST/usr/share/p11-kit" "$DEST/usr/share/quillon"; then
    fail "an installed file still names the configured prefix $configured"
fi
echo "prefix /usr: libraries in $LIB, module file and sample name them"

# 2. A scratch root as prefix, then used.
ROOT="$WORK/root"
install_to root --prefix "$ROOT"
MODULE_FILE="$ROOT/share/p11-kit/modules/quillon.module"
SAMPLE="$ROOT/share/quillon/quillon.conf.sample"
grep -qx "module: $ROOT/lib/libquillon.so" "$MODULE_FILE" || fail "module file: $(grep module: "$MODULE_FILE")"
grep -qx "zt=$ROOT/lib/libzt.so" "$SAMPLE" || fail "sample: $(grep zt= "$SAMPLE")"
[ -x "$ROOT/bin/zt-admin" ] || fail "zt-admin was not installed"
echo "prefix $ROOT: module file and sample name $ROOT/lib"

if [ -n "$SANITIZER" ]; then
    echo "PASS: install paths (applications cannot load a sanitizer build: not used)"
    exit 0
fi
PROXY=$(pkg-config --variable=proxy_module p11-kit-1 2>/dev/null || true)
for candidate in "$PROXY" "$LIB/p11-kit-proxy.so" /usr/lib/p11-kit-proxy.so; do
    [ -n "$candidate" ] && [ -f "$candidate" ] && { PROXY=$candidate; break; }
done
if ! command -v p11-kit >/dev/null || ! command -v pkcs11-tool >/dev/null || [ ! -f "$PROXY" ]; then
    fail "p11-kit, its proxy module and pkcs11-tool are needed (packages p11-kit, p11-kit-modules, opensc)"
fi

# p11-kit reads a user's module files from ~/.config/pkcs11/modules, but not
# for root: as root, the user part runs as "nobody".
USE=$WORK/use
mkdir -p "$USE/home/.config/pkcs11/modules"
cp "$MODULE_FILE" "$USE/home/.config/pkcs11/modules/"
cp "$SAMPLE" "$USE/quillon.conf"
as_user=(env)
if [ "$(id -u)" -eq 0 ]; then
    chmod 0755 "$WORK"
    chown -R 65534:65534 "$USE"
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups env)
fi
as_user+=(HOME="$USE/home" ZT_HOME="$USE/zt" QUILLON_REGISTRY="$USE/quillon.conf")
"${as_user[@]}" "$ROOT/bin/zt-admin" reader add "Installed Reader" >/dev/null
"${as_user[@]}" "$ROOT/bin/zt-admin" card new "Installed Reader" --label "Installed" \
    --user-pin 1234 --so-pin 12345678 >/dev/null

out=$("${as_user[@]}" p11-kit list-modules 2>&1) || { echo "$out"; fail "p11-kit list-modules"; }
grep -q "^quillon: $ROOT/lib/libquillon.so" <<<"$out" || { echo "$out"; fail "p11-kit does not list Quillon"; }
grep -q "token: Installed" <<<"$out" || { echo "$out"; fail "p11-kit does not show the token"; }
echo "p11-kit lists Quillon and its token"

cd "$USE"
printf 'signed through the p11-kit proxy\n' >data
p11() { "${as_user[@]}" pkcs11-tool --module "$PROXY" --token-label Installed "$@"; }
p11 --login --pin 1234 --keypairgen --key-type rsa:2048 --id 51 --label proxykey >keygen.log 2>&1 ||
    { cat keygen.log; fail "key generation through the proxy"; }
p11 --login --pin 1234 --sign --mechanism SHA1-RSA-PKCS --id 51 -i data -o "$USE/sig" >sign.log 2>&1 ||
    { cat sign.log; fail "signing through the proxy"; }
p11 --read-object --type pubkey --id 51 -o "$USE/pub.der" >read.log 2>&1 ||
    { cat read.log; fail "public key"; }
openssl pkey -pubin -inform DER -in pub.der -out pub.pem
openssl dgst -sha1 -verify pub.pem -signature sig data >verify.log 2>&1 ||
    { cat verify.log; fail "the signature made through the proxy does not verify"; }
echo "pkcs11-tool signed through $PROXY; OpenSSL verified the signature"
echo "PASS: install with the prefix given at install time"
