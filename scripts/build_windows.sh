#!/usr/bin/env bash
# `make windows`: build/windows/quillmark-receiver.exe, cross-compiled with MinGW-w64 against
# static OpenSSL and qrcodegen built from Debian's sources (cached outside the tree).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install_packages.sh windows
deps_prefix=$(scripts/build_windows_deps.sh | tail -n 1)
cmake --preset windows -DQUILLMARK_WINDOWS_DEPS="$deps_prefix"
cmake --build --preset windows
exe=build/windows/quillmark-receiver.exe
echo "$exe: $(stat -c %s "$exe") bytes"
