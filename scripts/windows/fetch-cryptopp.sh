#!/usr/bin/env bash
# Fetches Debian's source package of Crypto++ (libcrypto++) for the Windows
# build and unpacks it. Only apt-get talks to the network, through a private
# deb-src list and private lists/cache directories, so the system's package
# lists stay untouched.
#
# Usage: fetch-cryptopp.sh DEST   -> the unpacked tree is DEST/src (idempotent)
set -euo pipefail

DEST=${1:?usage: fetch-cryptopp.sh DEST}
SUITE=${CRYPTOPP_SUITE:-bookworm}
MIRROR=${CRYPTOPP_MIRROR:-http://deb.debian.org/debian}
KEYRING=/usr/share/keyrings/debian-archive-keyring.gpg

mkdir -p "$DEST"
DEST=$(cd "$DEST" && pwd)
if [ -f "$DEST/src/.unpacked" ]; then
    exit 0
fi

command -v dpkg-source >/dev/null || {
    echo "fetch-cryptopp: dpkg-source missing (apt-get install dpkg-dev)" >&2
    exit 1
}

APT="$DEST/apt"
mkdir -p "$APT/lists/partial" "$APT/cache/archives/partial" "$DEST/download"
echo "deb-src [signed-by=$KEYRING] $MIRROR $SUITE main" >"$APT/sources.list"

apt_private() {
    apt-get -q \
        -o Dir::Etc::SourceList="$APT/sources.list" \
        -o Dir::Etc::SourceParts=/dev/null \
        -o Dir::State::Lists="$APT/lists" \
        -o Dir::Cache="$APT/cache" \
        -o APT::Sandbox::User=root \
        "$@"
}

apt_private update >"$APT/update.log" 2>&1 || { cat "$APT/update.log" >&2; exit 1; }
(cd "$DEST/download" && apt_private source --download-only libcrypto++) >"$APT/source.log" 2>&1 ||
    { cat "$APT/source.log" >&2; exit 1; }

dsc=$(ls "$DEST"/download/libcrypto++_*.dsc | head -n1)
rm -rf "$DEST/src"
dpkg-source -x "$dsc" "$DEST/src" >"$APT/unpack.log" 2>&1 ||
    { cat "$APT/unpack.log" >&2; exit 1; }
touch "$DEST/src/.unpacked"
echo "Crypto++ source: $(basename "$dsc") -> $DEST/src"
