#!/usr/bin/env bash
# Builds the receiver's Windows libraries from Debian's own sources: static MinGW-w64 OpenSSL 3.0
# and qrcodegen. The result is cached outside the source tree, keyed by the Debian source
# versions, and the downloads are kept so that a rebuild works offline.
#
# Usage: scripts/build_windows_deps.sh
# Prints the prefix (include/, lib/) on its last line of output; also points
#   $cache/windows-deps/current at it for builds configured by hand.
set -euo pipefail

# Bump when the build recipe below changes, so an old cached prefix is not reused.
RECIPE=1
CROSS=x86_64-w64-mingw32
CXX="${CROSS}-g++-posix"

cache_root="${XDG_CACHE_HOME:-$HOME/.cache}/quillmark/windows-deps"
sources_dir="$cache_root/sources"
mkdir -p "$sources_dir"

log() { echo "build_windows_deps: $*" >&2; }

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

has_deb_src() {
    grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/
}

# apt-get source needs a deb-src entry; Debian images usually ship without one.
ensure_deb_src() {
    has_deb_src && return 0
    log "adding a deb-src entry for bookworm"
    as_root tee /etc/apt/sources.list.d/quillmark-deb-src.sources >/dev/null <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    as_root apt-get update -q >&2
}

# The newest version of a source package whose .dsc is already downloaded; empty if none.
newest_downloaded() {
    local package=$1 newest="" dsc version
    for dsc in "$sources_dir/${package}"_*.dsc; do
        [ -e "$dsc" ] || continue
        version=$(sed -n 's/^Version: //p' "$dsc")
        if [ -z "$newest" ] || dpkg --compare-versions "$version" gt "$newest"; then
            newest=$version
        fi
    done
    echo "$newest"
}

# Versions of a source package the archive offers, newest first; empty when it is unreachable.
archive_versions() {
    apt-cache showsrc "$1" 2>/dev/null | sed -n 's/^Version: //p' | sort -u -r -V
}

dsc_path() { echo "$sources_dir/${1}_${2#*:}.dsc"; }

# Downloads the newest source package that the archive serves in full (a mirror may lack a
# file of the newest upload) unless it is already here; prints its version. Offline, the newest
# kept download is used.
fetch_source() {
    local package=$1 version versions
    ensure_deb_src || true
    versions=$(archive_versions "$package")
    if [ -z "$versions" ]; then
        # The deb-src entry exists but its index was never fetched (or is stale).
        as_root apt-get update -q >&2 || true
        versions=$(archive_versions "$package")
    fi
    for version in $versions; do
        if [ ! -e "$(dsc_path "$package" "$version")" ]; then
            log "downloading source package $package $version"
            # A missing debian tarball is tolerated: only the orig tarball is needed for
            # qrcodegen, and unpack_source checks what it uses against the .dsc.
            (cd "$sources_dir" && apt-get source -q --download-only "$package=$version") \
                >"$sources_dir/last-download.log" 2>&1 || true
        fi
        if [ -e "$(dsc_path "$package" "$version")" ]; then
            echo "$version"
            return
        fi
        log "$package $version is not downloadable here; trying an older version"
    done
    version=$(newest_downloaded "$package")
    [ -n "$version" ] || { log "cannot download $package and no earlier download is kept"; exit 1; }
    log "archive unreachable; using the kept $package $version"
    echo "$version"
}

# Unpacks a source package into $3 with its checksums verified; prints the source directory.
unpack_source() {
    local package=$1 version=$2 work=$3
    local dsc upstream debian_tar
    dsc=$(dsc_path "$package" "$version")
    upstream=${version#*:}
    upstream=${upstream%-*}
    debian_tar=$(awk '/^Files:/ { on = 1; next } /^[^ ]/ { on = 0 }
        on && $3 ~ /\.debian\.tar\./ { print $3 }' "$dsc")
    if [ -z "$debian_tar" ] || [ -e "$sources_dir/$debian_tar" ]; then
        # Debian's patches (security fixes among them) are part of the build: a failure here
        # is fatal, never a reason to fall back to the bare upstream sources.
        dpkg-source -x "$dsc" "$work/$package" >/dev/null ||
            { log "dpkg-source could not unpack $package $version"; exit 1; }
        echo "$work/$package"
        return
    fi
    # The archive served no Debian tarball (seen for qr-code-generator; its orig tarball is all
    # the build needs). Check the orig tarball against the .dsc by hand and unpack it alone.
    log "$debian_tar is not available; using the checked orig tarball of $package alone"
    local orig expected actual
    orig=$(ls "$sources_dir/${package}_${upstream}.orig.tar."* 2>/dev/null | grep -v '\.asc$' | head -n1)
    [ -n "$orig" ] || { log "no orig tarball for $package $version"; exit 1; }
    expected=$(awk -v f="$(basename "$orig")" '
        /^Checksums-Sha256:/ { on = 1; next } /^[^ ]/ { on = 0 } on && $3 == f { print $1 }' "$dsc")
    actual=$(sha256sum "$orig" | awk '{print $1}')
    [ -n "$expected" ] && [ "$expected" = "$actual" ] ||
        { log "checksum mismatch for $(basename "$orig")"; exit 1; }
    mkdir -p "$work/$package"
    tar -xf "$orig" -C "$work/$package" --strip-components=1
    echo "$work/$package"
}

build_openssl() {
    local src=$1 prefix=$2 destdir=$3
    local build_log="$src/quillmark-build.log"
    log "building OpenSSL (static, MinGW-w64); this takes a few minutes"
    if ! (
        cd "$src"
        ./Configure mingw64 --cross-compile-prefix="${CROSS}-" --prefix="$prefix" --libdir=lib \
            --openssldir="$prefix/ssl" no-shared no-module no-dso no-engine no-legacy no-tests \
            no-autoload-config
        make -j"$(nproc)" build_libs
        make install_dev DESTDIR="$destdir"
    ) >"$build_log" 2>&1; then
        tail -n 40 "$build_log" >&2
        log "OpenSSL build failed"
        exit 1
    fi
}

build_qrcodegen() {
    local src=$1 prefix=$2
    log "building qrcodegen (static, MinGW-w64)"
    mkdir -p "$prefix/include/qrcodegen" "$prefix/lib"
    "$CXX" -std=c++17 -O2 -c "$src/cpp/qrcodegen.cpp" -o "$src/qrcodegen.o"
    "${CROSS}-ar" rcs "$prefix/lib/libqrcodegencpp.a" "$src/qrcodegen.o"
    cp "$src/cpp/qrcodegen.hpp" "$prefix/include/qrcodegen/qrcodegen.hpp"
}

command -v "$CXX" >/dev/null || { log "$CXX missing: run scripts/install_packages.sh windows"; exit 1; }

openssl_version=$(fetch_source openssl)
qrcodegen_version=$(fetch_source qr-code-generator)
key="openssl-${openssl_version//:/_}_qrcodegen-${qrcodegen_version//:/_}_r${RECIPE}"
prefix="$cache_root/$key"

if [ ! -e "$prefix/.complete" ]; then
    work=$(mktemp -d "$cache_root/build.XXXXXX")
    trap 'rm -rf "$work"' EXIT
    # Built for the final prefix (OpenSSL records it), staged under DESTDIR and moved into
    # place only after a full success, so an interrupted build is never taken for a cached one.
    destdir="$work/dest"
    staging="$destdir$prefix"
    build_openssl "$(unpack_source openssl "$openssl_version" "$work")" "$prefix" "$destdir"
    build_qrcodegen "$(unpack_source qr-code-generator "$qrcodegen_version" "$work")" "$staging"
    rm -rf "$prefix"
    mv "$staging" "$prefix"
    touch "$prefix/.complete"
    log "installed into $prefix"
fi
ln -sfn "$key" "$cache_root/current"
echo "$prefix"
