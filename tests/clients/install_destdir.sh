#!/usr/bin/env bash
# `cmake --install` into a scratch DESTDIR puts every file where it belongs,
# the installed libraries find each other without the build tree, and (in a
# sanitizer-free build) the installed provider and virtual token work together.
# Usage: install_destdir.sh BUILD_DIR LIBDIR BINDIR DATADIR SANITIZER
set -euo pipefail
BUILD=$1 LIBDIR=$2 BINDIR=$3 DATADIR=$4 SANITIZER=${5:-}

DEST=$(mktemp -d "${TMPDIR:-/tmp}/quillon-install.XXXXXX")
trap 'rm -rf "$DEST"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

DESTDIR="$DEST" cmake --install "$BUILD" >"$DEST.log" 2>&1 || { cat "$DEST.log"; rm -f "$DEST.log"; fail "cmake --install"; }
rm -f "$DEST.log"

for f in "$LIBDIR/libquillon.so" "$LIBDIR/liborl2.so" "$LIBDIR/libzt.so" "$BINDIR/zt-admin" \
         "$DATADIR/p11-kit/modules/quillon.module" "$DATADIR/quillon/quillon.conf.sample"; do
    [ -f "$DEST$f" ] || fail "$f was not installed"
    echo "installed: $f"
done
[ -x "$DEST$BINDIR/zt-admin" ] || fail "zt-admin is not executable"

grep -qx "module: $LIBDIR/libquillon.so" "$DEST$DATADIR/p11-kit/modules/quillon.module" ||
    fail "the p11-kit module file does not name $LIBDIR/libquillon.so"
grep -qx "zt=$LIBDIR/libzt.so" "$DEST$DATADIR/quillon/quillon.conf.sample" ||
    fail "the sample configuration does not name $LIBDIR/libzt.so"

# Only the C_ functions leave the provider; the virtual token exports GetFunctionList.
nm -D --defined-only "$DEST$LIBDIR/libquillon.so" | grep -q ' C_GetFunctionList$' ||
    fail "libquillon.so does not export C_GetFunctionList"
nm -D --defined-only "$DEST$LIBDIR/libzt.so" | grep -q ' GetFunctionList$' ||
    fail "libzt.so does not export GetFunctionList"

# The installed libraries take liborl2 from beside themselves, not from the build tree.
for lib in libquillon.so libzt.so; do
    resolved=$(ldd "$DEST$LIBDIR/$lib" | awk '/liborl2/ {print $3}')
    [ "$resolved" = "$DEST$LIBDIR/liborl2.so" ] ||
        fail "$lib finds liborl2 at '$resolved' instead of beside itself"
    if readelf -d "$DEST$LIBDIR/$lib" | grep -E 'R(UN)?PATH' | grep -qF "$BUILD"; then
        fail "$lib still points into the build tree"
    fi
done

if [ -z "$SANITIZER" ] && command -v pkcs11-tool >/dev/null; then
    export ZT_HOME="$DEST/zt-home" QUILLON_REGISTRY="$DEST/quillon.conf"
    "$DEST$BINDIR/zt-admin" reader add "Installed Reader" >/dev/null
    "$DEST$BINDIR/zt-admin" card new "Installed Reader" --label "Installed" --user-pin 1234 \
        --so-pin 12345678 >/dev/null
    echo "zt=$DEST$LIBDIR/libzt.so" >"$QUILLON_REGISTRY"
    out=$(pkcs11-tool --module "$DEST$LIBDIR/libquillon.so" --list-token-slots 2>&1) ||
        { echo "$out"; fail "pkcs11-tool cannot use the installed provider"; }
    grep -q "token label        : Installed" <<<"$out" || { echo "$out"; fail "no token seen"; }
    echo "the installed provider sees the installed virtual token"
fi
echo "PASS: installation"
