#!/usr/bin/env bash
# Installs the Debian packages a make target needs, only those that are missing.
# Usage: scripts/install_packages.sh GROUP...   (groups: build e2e web windows bench fuzz)
set -euo pipefail

# The builds need npm: they install the scanner page's decoder from decoder/package-lock.json.
packages_for() {
    case "$1" in
        build) echo "cmake ninja-build g++ make pkg-config libssl-dev libqrcodegencpp-dev libgtest-dev zbar-tools libx11-dev libxtst-dev librsvg2-bin nodejs npm" ;;
        e2e) echo "curl openssl zbar-tools procps xvfb xclip x11-xkb-utils" ;;
        web) echo "nodejs npm chromium ffmpeg zint fonts-dejavu-core libnss3-tools" ;;
        windows) echo "nodejs npm g++-mingw-w64-x86-64-posix dpkg-dev librsvg2-bin icoutils wine64 fonts-wine xvfb x11-xkb-utils imagemagick xclip zbar-tools procps python3 iproute2 nsis" ;;
        bench) echo "nginx-light wrk openssl curl" ;;
        # clang's libFuzzer and sanitizer runtimes; llvm brings llvm-symbolizer for stack traces.
        fuzz) echo "clang libclang-rt-14-dev llvm" ;;
        *) echo "unknown package group: $1" >&2; exit 2 ;;
    esac
}

missing=()
for group in "$@"; do
    for package in $(packages_for "$group"); do
        # npm is not needed as a Debian package where a newer Node.js with npm is already there.
        if [ "$package" = nodejs ] && command -v node >/dev/null; then continue; fi
        if [ "$package" = npm ] && command -v npm >/dev/null; then continue; fi
        status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
        [ "$status" = "install ok installed" ] || missing+=("$package")
    done
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
# With recommended packages, as on a desktop: Wine draws its text with the fonts they bring.
# Another install running at the same time holds the dpkg lock: wait for it instead of failing.
$sudo apt-get install -y -q -o DPkg::Lock::Timeout=600 "${missing[@]}"
